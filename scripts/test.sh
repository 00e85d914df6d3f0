#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds everything and runs the whole test suite.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh"

build=${BURISORA_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${BURISORA_CMAKE_ARGS:-}
cmake --build "$build" --parallel "$(nproc)"

ctest_command=(ctest --test-dir "$build" --output-on-failure --parallel 2 ${BURISORA_CTEST_ARGS:-})
if [[ $(id -u) -eq 0 && -z ${BURISORA_TESTS_AS_ROOT:-} ]]; then
  # Root passes every permission check, which would hide the permission
  # cases; the suite runs as an ordinary user instead.
  user=burisora-test
  id "$user" >/dev/null 2>&1 || useradd --system --user-group --no-create-home \
    --shell /usr/sbin/nologin "$user"
  chown -R "$user:" "$build"
  home=$(mktemp -d /tmp/burisora-test-home.XXXXXX)
  chown "$user:" "$home"
  chmod o+x "$root" "$(dirname "$root")" 2>/dev/null || true
  setpriv --reuid="$user" --regid="$user" --init-groups --reset-env -- \
    env HOME="$home" PATH="$PATH" LANG=C.UTF-8 "${ctest_command[@]}"
else
  "${ctest_command[@]}"
fi
