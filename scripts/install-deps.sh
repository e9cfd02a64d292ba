#!/usr/bin/env bash
# Installs the Debian packages needed to build and test Orv Kvelv (the list is in packages.sh).
# Safe to run again: when every package is already installed it changes nothing and needs no
# network.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/packages.sh"
kvelv_install_packages install-deps "${KVELV_PACKAGES_BUILD[@]}"
