#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds and starts the window. Arguments are files
# or folders to process at once, as if they had been dropped on the window.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh"
build=${BURISORA_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${BURISORA_CMAKE_ARGS:-}
cmake --build "$build" --parallel "$(nproc)"
if [[ -x "$build/src/burisora" ]]; then
  exec "$build/src/burisora" "$@"
fi
echo "The window is not built yet; the command-line tool is at $build/src/burisora-cli" >&2
exec "$build/src/burisora-cli" --help
