#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Peak resident memory of burisora-cli: one 16000x12000 PNG (192 megapixels),
# and the same photo as a batch of 200 and of 2000 files. The test suite
# asserts the bounds (tests/Cli/tst_Interruption.cpp); this prints figures.
#   bench/memory.sh [path/to/burisora-cli]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cli=${1:-$root/build/src/burisora-cli}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config

peak() { # label, arguments...
  local label=$1
  shift
  /usr/bin/time -f '%M %e' -o "$work/time" "$cli" "$@" >/dev/null || true
  read -r kib seconds <"$work/time"
  printf '%-34s %6d MiB %8.1f s\n' "$label" $((kib / 1024)) "$seconds"
}

mkdir -p "$work/huge" "$work/short" "$work/long"
vips xyz "$work/xy.v" 16000 12000
vips linear "$work/xy.v" "$work/ramp.v" "0.01 0.02" "0 0" --uchar
vips bandjoin_const "$work/ramp.v" "$work/huge/huge.png[compression=1]" 64
rm "$work/xy.v" "$work/ramp.v"
vips black "$work/p.v" 1000 750 --bands 3
vips gaussnoise "$work/n.v" 1000 750 --sigma 40 --mean 128
vips bandjoin "$work/n.v $work/n.v $work/n.v" "$work/photo.jpg[Q=90]"
for i in $(seq 2000); do
  ln "$work/photo.jpg" "$work/long/p$i.jpg"
  ((i <= 200)) && ln "$work/photo.jpg" "$work/short/p$i.jpg"
done

peak "16000x12000 PNG to 1280 px" "$work/huge/huge.png"
peak "200 photos 1000x750, quality 100" --size 1000 --quality 100 "$work/short"
peak "2000 photos 1000x750, quality 100" --size 1000 --quality 100 "$work/long"
