# The Debian packages the scripts install, in one place. Sourced by install-deps.sh (build and
# test), ci-hardening.sh (sanitizers and fuzzing) and ci-windows.sh (the Windows cross build and
# the packages); `bash scripts/packages.sh <set>...` prints the named sets, one package a line.

# Building and testing on Linux: compilers, libraries, the peers the tests compare with.
KVELV_PACKAGES_BUILD=(
  build-essential cmake ninja-build g++ clang pkg-config ccache
  clang-format  # the format check of changed lines (scripts/check-format.sh)
  zlib1g-dev libssl-dev openssl
  libsodium-dev  # Argon2id and XChaCha20-Poly1305: the sealed container, the Argon2id login hash
  libisal-dev  # the fast inflater on Linux (the build falls back to zlib without it)
  libgtest-dev googletest libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  zip unzip p7zip-full libarchive-tools python3 ca-certificates
  python3-argon2 python3-cryptography  # an independent reader of the sealed format (tests)
  pigz  # the benchmark's peer for parallel deflate (bench/run.py)
  # The interactive build's layout is made for these metrics; the real-display test's desktop.
  fonts-liberation xvfb openbox xdotool x11-utils imagemagick
  qt6-translations-l10n  # Qt's own buttons in the user's language (Norwegian in the tests)
)

# Sanitizer and libFuzzer runtimes for clang.
KVELV_PACKAGES_HARDENING=(
  clang libclang-rt-14-dev
)

# The Windows cross build, its tests under Wine, and the Debian package.
KVELV_PACKAGES_WINDOWS=(
  build-essential cmake ccache dpkg-dev file locales openssl zip unzip
  zlib1g-dev libssl-dev libsodium-dev qt6-base-dev libgl-dev
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 googletest
  autoconf automake libtool make  # libsodium for Windows from Debian's source (build-sodium-windows.sh)
  libgnutls30  # Wine's bcrypt does AES through it (only recommended by wine64)
  fonts-wine   # Tahoma and MS Sans Serif for the windows under Wine
  ninja-build  # the presets' generator, and the Qt build (scripts/build-qt-windows.sh)
  xvfb openbox xdotool imagemagick  # kvelv-gui.exe in real windows (windows-window-run.sh)
  qt6-translations-l10n  # Qt's Norwegian translation, built into kvelv-gui.exe
  # The Debian package's test: the file type resolves, the desktop entries validate.
  shared-mime-info desktop-file-utils xdg-utils libfile-mimeinfo-perl
)

# Installs the packages given that are not installed yet; with all of them there, it changes
# nothing and needs no network. Usage: kvelv_install_packages <label> <package>...
kvelv_install_packages() {
  local label=$1 package status
  shift
  local missing=()
  for package in "$@"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "installed" ]] || missing+=("$package")
  done
  if [[ ${#missing[@]} -eq 0 ]]; then
    echo "$label: all $# packages already installed."
    return 0
  fi
  local as_root=()
  if [[ $(id -u) -ne 0 ]]; then
    if command -v sudo >/dev/null 2>&1; then
      as_root=(sudo)
    else
      echo "$label: need root or sudo to install: ${missing[*]}" >&2
      return 1
    fi
  fi
  echo "$label: installing ${missing[*]}"
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends "${missing[@]}" </dev/null
}

if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
  for set in "$@"; do
    name="KVELV_PACKAGES_${set^^}[@]"
    printf '%s\n' "${!name}"
  done
fi
