#!/usr/bin/env bash
# Installs the Debian packages needed to build and test Orv Kvelv. Safe to run again: when every
# package is already installed it changes nothing and needs no network.
set -euo pipefail

PACKAGES=(
  build-essential cmake g++ clang pkg-config
  zlib1g-dev libssl-dev openssl
  libgtest-dev googletest libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  zip unzip p7zip-full libarchive-tools python3 ca-certificates
  # The interactive build's layout is made for these metrics; the real-display test's desktop.
  fonts-liberation xvfb openbox xdotool x11-utils imagemagick
)

missing=()
for package in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "installed" ]] || missing+=("$package")
done

if [[ ${#missing[@]} -eq 0 ]]; then
  echo "install-deps: all ${#PACKAGES[@]} packages already installed."
  exit 0
fi

if [[ $(id -u) -eq 0 ]]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "install-deps: need root or sudo to install: ${missing[*]}" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y --no-install-recommends "${missing[@]}" </dev/null
