#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian 12 or 13 packages the project needs to build, test and
# run. Safe to run again: packages already present are left alone.
#   scripts/install-deps.sh          install what is missing
#   scripts/install-deps.sh --list   print the package names for this release
# The release comes from /etc/os-release (BURISORA_DEBIAN_RELEASE=bookworm or
# trixie names another one, for --list).
set -euo pipefail

release=${BURISORA_DEBIAN_RELEASE:-}
if [[ -z $release ]]; then
  release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  if [[ -z $release ]]; then
    case $(. /etc/os-release && echo "${VERSION_ID:-}") in
      12) release=bookworm ;;
      13) release=trixie ;;
    esac
  fi
fi

packages=(
  build-essential cmake ninja-build pkg-config git
  libvips-dev libvips-tools libheif-dev libde265-dev libwebp-dev libexiv2-dev libturbojpeg0-dev libjpeg-dev libzimg-dev libdeflate-dev libseccomp-dev
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
  qt6-translations-l10n qt6-svg-dev qt6-image-formats-plugins
  libssl-dev openssl
  libimage-exiftool-perl imagemagick
  xvfb xauth fonts-noto-cjk
  dbus-x11 dbus-daemon libglib2.0-bin  # dbus-run-session, gdbus: D-Bus in the tests
  desktop-file-utils appstream
  time                          # peak memory of a child, in the tests
  qt6-wayland                   # the window on a Wayland session, natively
  file                          # dpkg-shlibdeps, for cpack's .deb
  clang libclang-rt-dev         # scripts/fuzz.sh
)
case $release in
  bookworm)
    # libheif carries its codecs, libqt6svg6 Qt's SVG image and icon plugins.
    ;;
  *)
    # Debian 13 on: libheif's codecs are plugins of their own, only
    # recommended; x265 writes HEIC, libde265 reads it, aom writes AVIF and
    # dav1d reads it. Qt's SVG image and icon plugins (the window's symbols)
    # left libqt6svg6.
    packages+=(libheif-plugin-x265 libheif-plugin-libde265 libheif-plugin-aomenc
      libheif-plugin-dav1d qt6-svg-plugins)
    ;;
esac
if [[ "${BURISORA_EXTRA_PACKAGES:-}" ]]; then
  read -r -a extra <<<"$BURISORA_EXTRA_PACKAGES"
  packages+=("${extra[@]}")
fi
if [[ ${1:-} == --list ]]; then
  printf '%s\n' "${packages[@]}"
  exit 0
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
