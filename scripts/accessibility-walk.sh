#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts the real window under Xvfb with the accessibility bus on, lets it
# process the images and folders given, and walks its AT-SPI tree as a screen
# reader sees it: prints every object, then fails when a control has no name.
#   scripts/accessibility-walk.sh FILE_OR_FOLDER...
# WALK_LANG picks the language (default ja_JP.UTF-8). Needs at-spi2-core.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BURISORA_BUILD_DIR:-$root/build}
launcher=$(command -v at-spi-bus-launcher || echo /usr/libexec/at-spi-bus-launcher)
[[ -x $launcher ]] || { echo "at-spi2-core is not installed" >&2; exit 2; }

if [[ -z ${BURISORA_WALK_INSIDE:-} ]]; then
  exec env BURISORA_WALK_INSIDE=1 xvfb-run --auto-servernum \
    dbus-run-session -- "${BASH_SOURCE[0]}" "$@"
fi

config=$(mktemp -d)
"$launcher" --launch-immediately &
bus_launcher=$!
trap 'kill ${app:-} $bus_launcher 2>/dev/null; rm -rf "$config"' EXIT
for _ in $(seq 50); do
  address=$(gdbus call --session -d org.a11y.Bus -o /org/a11y/bus -m org.a11y.Bus.GetAddress \
    2>/dev/null | sed -E "s/^\('(.*)',\)$/\1/") && [[ -n $address ]] && break
  sleep 0.1
done
XDG_CONFIG_HOME="$config" XDG_RUNTIME_DIR="$config" LANG="${WALK_LANG:-ja_JP.UTF-8}" \
  LC_ALL= LC_MESSAGES= QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$build/src/burisora" "$@" &
app=$!
sleep "${WALK_WAIT:-10}" # the batch ends meanwhile

A11Y_BUS="$address" python3 - <<'PY'
import os, re, subprocess, sys

bus = os.environ["A11Y_BUS"]

def call(dest, path, method, *args, iface="org.a11y.atspi.Accessible"):
    command = ["gdbus", "call", "-a", bus, "-d", dest, "-o", path, "-m", f"{iface}.{method}", *args]
    return subprocess.run(command, capture_output=True, text=True, timeout=10).stdout.strip()

def name(dest, path):
    out = call(dest, path, "Get", "org.a11y.atspi.Accessible", "Name",
               iface="org.freedesktop.DBus.Properties")
    match = re.match(r"^\(<['\"](.*)['\"]>,\)$", out, re.S)
    return match.group(1) if match else ""

def children(dest, path):
    # GVariant text names the type of an array's first element only.
    return re.findall(r"\('([^']*)', (?:objectpath )?'([^']*)'\)",
                      call(dest, path, "GetChildren"))

CONTROLS = {"push button", "check box", "radio button", "toggle button", "combo box", "slider",
            "spin button", "text", "entry", "list", "list item", "table cell", "menu item",
            "progress bar"}
unnamed = []

def walk(dest, path, depth):
    role = call(dest, path, "GetRoleName").strip("(),'")
    text = name(dest, path)
    print("  " * depth + f"[{role}] {text}")
    if role in CONTROLS and not text:
        unnamed.append(f"{role} {path}")
    for child in children(dest, path):
        walk(*child, depth + 1)

for application in children("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root"):
    walk(*application, 0)
if unnamed:
    sys.exit("controls without a name:\n  " + "\n  ".join(unnamed))
print("every control has a name")
PY
