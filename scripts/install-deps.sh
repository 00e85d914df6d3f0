#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian 12 packages the project needs to build, test and run.
# Safe to run again: packages already present are left alone.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libvips-dev libvips-tools libheif-dev libexiv2-dev libturbojpeg0-dev libzimg-dev libseccomp-dev
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
  qt6-translations-l10n qt6-svg-dev qt6-image-formats-plugins
  libssl-dev openssl
  libimage-exiftool-perl imagemagick
  xvfb xauth fonts-noto-cjk
  dbus-x11 dbus-daemon libglib2.0-bin  # dbus-run-session, gdbus: D-Bus in the tests
  desktop-file-utils appstream
  time                          # peak memory of a child, in the tests
  clang libclang-rt-14-dev      # scripts/fuzz.sh
)
if [[ "${BURISORA_EXTRA_PACKAGES:-}" ]]; then
  read -r -a extra <<<"$BURISORA_EXTRA_PACKAGES"
  packages+=("${extra[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
if [[ $(id -u) -ne 0 ]]; then sudo=(sudo); fi
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
