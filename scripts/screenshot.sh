#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts the real window under Xvfb on the images and folders given, waits for
# their batch to end and saves a picture of the window.
#   scripts/screenshot.sh OUTPUT.png FILE_OR_FOLDER...
# The window starts with default settings (a fresh settings folder), so the
# copies land in a "Resized" folder beside each image. SCREENSHOT_LANG picks
# the language (default ja_JP.UTF-8).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [[ $# -lt 2 ]]; then
  sed -n '2,7p' "${BASH_SOURCE[0]}" >&2
  exit 2
fi
output=$(realpath -m "$1")
shift

build=${BURISORA_BUILD_DIR:-$root/build}
if [[ ! -x "$build/src/burisora" ]]; then
  "$root/scripts/install-deps.sh"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${BURISORA_CMAKE_ARGS:-}
  cmake --build "$build" --parallel "$(nproc)" --target burisora
fi

config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
rm -f "$output"
# A session bus of its own (when dbus-run-session is there), so that a window
# the user has open does not take the files instead.
bus=()
if command -v dbus-run-session >/dev/null; then
  bus=(dbus-run-session --)
fi
# The program saves the picture itself once the batch is over and quits.
XDG_CONFIG_HOME="$config" XDG_RUNTIME_DIR="$config" LANG="${SCREENSHOT_LANG:-ja_JP.UTF-8}" \
  LC_ALL= LC_MESSAGES= BURISORA_SCREENSHOT="$output" \
  timeout "${SCREENSHOT_TIMEOUT:-300}" \
  xvfb-run --auto-servernum --server-args="-screen 0 1280x800x24" \
  "${bus[@]}" "$build/src/burisora" "$@"
if [[ ! -s "$output" ]]; then
  echo "no screenshot was written" >&2
  exit 1
fi
echo "$output"
