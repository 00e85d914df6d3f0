#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Peak resident memory of burisora-cli, one run per line: a 16000x12000 PNG
# and progressive JPEG (192 megapixels) shrunk, small images enlarged to the
# largest custom sizes in every output type, and a photo as a batch of 200
# and of 2000 files.
#   bench/memory.sh [path/to/burisora-cli]
# BURISORA_MEMORY_SETS (default "huge enlarge heic batch") picks the sets.
# Exits 1 when the PNG needs 1 GiB or more, or the 2000-file batch 32 MiB more
# than the 200-file one (each output kept would add ~100 KB).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cli=${1:-$root/build/src/burisora-cli}
sets=" ${BURISORA_MEMORY_SETS:-huge enlarge heic batch} "
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config

wanted() { [[ $sets == *" $1 "* ]]; }

failed=0
# MiB, bound, what: a figure at or over its bound fails the run.
bound() {
  if (($1 >= $2)); then
    echo "over the bound: $3 is $1 MiB, at most $(($2 - 1)) allowed" >&2
    failed=1
  fi
}

# label, arguments...: peak RSS, wall time, and how the last job ended.
peak() {
  local label=$1
  shift
  "$(command -v time)" -f '%M %e' -o "$work/time" "$cli" --json "$@" >"$work/out" || true
  read -r kib seconds < <(tail -1 "$work/time") # after any "exited with non-zero status"
  local last outcome
  last=$(grep '^{' "$work/out" | tail -1)
  outcome=$(grep -o '"message":"[^"]*"' <<<"$last" || grep -o '"status":"[a-z]*"' <<<"$last")
  outcome=$(cut -d'"' -f4 <<<"$outcome")
  mib=$((kib / 1024))
  printf '%-44s %6d MiB %8.1f s  %s\n' "$label" "$mib" "$seconds" "$outcome"
  rm -rf "$work"/*/Resized
}

mkdir -p "$work/huge" "$work/small" "$work/short" "$work/long"
if wanted huge; then
  vips xyz "$work/xy.v" 16000 12000
  vips linear "$work/xy.v" "$work/ramp.v" "0.01 0.02" "0 0" --uchar
  vips bandjoin_const "$work/ramp.v" "$work/huge/huge.png[compression=1]" 64
  rm "$work/xy.v" "$work/ramp.v"
  peak "16000x12000 PNG to 1280 px" "$work/huge/huge.png"
  bound "$mib" 1024 "the PNG's peak"
  # libjpeg keeps a progressive image whole as coefficients, whatever the size.
  vips copy "$work/huge/huge.png" "$work/huge/progressive.jpg[interlace,Q=90]"
  rm "$work/huge/huge.png"
  peak "16000x12000 progressive JPEG to 1280 px" "$work/huge/progressive.jpg"
fi

vips gaussnoise "$work/n.v" 1000 1000 --sigma 40 --mean 128
vips bandjoin "$work/n.v $work/n.v $work/n.v" "$work/rgb.v"
vips cast "$work/rgb.v" "$work/small/photo.png" uchar
vips copy "$work/small/photo.png" "$work/photo.jpg[Q=90]"
vips copy "$work/small/photo.png" "$work/small/photo.heic[Q=50]"
if wanted enlarge; then
  vips linear "$work/n.v" "$work/deep.v" 256 0
  vips bandjoin "$work/deep.v $work/deep.v $work/deep.v $work/deep.v" "$work/deep4.v"
  vips cast "$work/deep4.v" "$work/deep16.v" ushort
  vips crop "$work/deep16.v" "$work/crop.v" 0 0 500 500
  vips copy "$work/crop.v" "$work/small/deep.png" --interpretation rgb16
  up=(--upscale --size)
  peak "1000x1000 PNG to 30000 px as JPEG" "${up[@]}" 30000 --format jpeg "$work/small/photo.png"
  peak "1000x1000 PNG to 30000 px as PNG" "${up[@]}" 30000 --format png "$work/small/photo.png"
  peak "500x500 16-bit RGBA PNG to 20000 px as PNG" "${up[@]}" 20000 --format png \
    "$work/small/deep.png"
fi
if wanted heic; then
  peak "1000x1000 HEIC to 20000 px as HEIC" --upscale --size 20000 --format keep \
    "$work/small/photo.heic"
  # The largest square that is still one HEVC picture.
  peak "1000x1000 HEIC to 5900 px as HEIC" --upscale --size 5900 --format keep \
    "$work/small/photo.heic"
fi
rm -f "$work"/*.v

if wanted batch; then
  vips crop "$work/photo.jpg" "$work/p.jpg[Q=90]" 0 0 1000 750
  for i in $(seq 2000); do
    ln "$work/p.jpg" "$work/long/p$i.jpg"
    ((i <= 200)) && ln "$work/p.jpg" "$work/short/p$i.jpg"
  done
  peak "200 photos 1000x750, quality 100" --size 1000 --quality 100 "$work/short"
  short=$mib
  peak "2000 photos 1000x750, quality 100" --size 1000 --quality 100 "$work/long"
  bound $((mib - short)) 32 "the longer batch's growth"
fi
exit "$failed"
