#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the fuzzer's seed corpus: small valid files of every input format and
# the variants their readers branch on (progressive, palette, 16-bit, tiled,
# multi-page, animated, alpha, CMYK, EXIF orientation). Usage: DIR
set -euo pipefail
out=${1:?usage: make-fuzz-corpus.sh DIR}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A 24x16 gradient with some texture, and an alpha variant.
vips xyz "$work/xy.v" 24 16
vips linear "$work/xy.v" "$work/x.v" "10 10" "0 0" --uchar
vips bandjoin_const "$work/x.v" "$work/bands.v" 128
# Three bands alone are "multiband" to libvips, which HEIF (8.16 on) refuses.
vips copy "$work/bands.v" "$work/rgb.v" --interpretation srgb
vips bandjoin_const "$work/rgb.v" "$work/rgba.v" 200
vips colourspace "$work/rgb.v" "$work/grey.v" b-w
vips cast "$work/rgb.v" "$work/rgb16.v" ushort
vips copy "$work/rgb16.v" "$work/rgb16s.v" --interpretation rgb16

v() { vips copy "$work/$1" "$out/$2"; }
v rgb.v base.jpg
v rgb.v "progressive.jpg[interlace]"
v grey.v grey.jpg
v rgb.v "q10.jpg[Q=10,strip]"
v rgb.v plain.png
v rgba.v alpha.png
v rgb.v "palette.png[palette,bitdepth=4]"
v rgb.v "interlaced.png[interlace]"
v rgb16s.v deep.png
v rgb.v plain.heic
v rgba.v alpha.heic
v rgb.v strips.tif
v rgb.v "tiled.tif[tile,tile-width=16,tile-height=16]"
v rgb.v "deflate.tif[compression=deflate,predictor=horizontal]"
v rgb.v "lzw.tif[compression=lzw]"
v rgb.v "jpeg.tif[compression=jpeg]"
v rgb16s.v deep.tif
v rgb.v plain.gif
v rgba.v alpha.gif
v rgb.v lossy.webp
v rgba.v "lossless.webp[lossless]"
v rgb.v "plain.avif[compression=av1]"
v rgba.v "alpha.avif[compression=av1]"
v rgb.v lossy.jxl
v rgba.v "lossless.jxl[lossless]"

# Several frames or pages, and the less common colour models.
convert -size 16x12 xc:red xc:green xc:blue -set delay 5 -loop 0 "$out/animated.gif"
vips copy "$out/animated.gif[n=-1]" "$out/animated.webp"
convert -size 16x12 xc:red xc:green "$out/pages.tif"
convert "$out/base.jpg" -colorspace CMYK "$out/cmyk.jpg"
convert "$out/base.jpg" -colorspace CMYK "$out/cmyk.tif"
cp "$out/base.jpg" "$out/rotated.jpg"
exiftool -q -overwrite_original -n -Orientation=6 -GPSLatitude=35.6 "$out/rotated.jpg"
cp "$out/plain.png" "$out/exif.png"
exiftool -q -overwrite_original -n -Orientation=8 -Make=Test "$out/exif.png"

# Very thin: shrink-on-load must not round a side to nothing. Restart
# markers give the JPEG decoders' resynchronisation something to do.
vips xyz "$work/thin-xy.v" 3 400
vips linear "$work/thin-xy.v" "$work/thin.v" "40 1" "0 0" --uchar
vips copy "$work/thin.v" "$out/thin.jpg[restart_interval=1]"

# The fuzzer takes the output type and the target (a share of the long edge)
# from an input's last byte; the seeds get bytes that spread them over every
# type and over downscales, which JPEGs decode scaled.
i=0
for f in "$out"/*; do
  printf "\\x$(printf %02x $(((i % 7) << 2 | i % 4)))" >>"$f"
  i=$((i + 1))
done
ls "$out" | wc -l
