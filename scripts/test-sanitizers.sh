#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The engine and its tests built with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-asan/, and the suite run there the same
# way as scripts/test.sh runs it. The window is left out; the system's
# libraries (libvips and below) are used as they are, uninstrumented.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export BURISORA_BUILD_DIR=${BURISORA_ASAN_BUILD_DIR:-$root/build-asan}
export BURISORA_CMAKE_ARGS="-DBURISORA_SANITIZE=ON -DBURISORA_BUILD_GUI=OFF ${BURISORA_CMAKE_ARGS:-}"
exec "$root/scripts/test.sh"
