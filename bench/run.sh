#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Times burisora-cli against the tools people script today, in one run on the
# same images: sharp (node, from the npm registry; JPEG and PNG sets),
# vipsthumbnail and ImageMagick's convert, each two files at a time, one
# thread per file, the tools taking turns within every run. Prints per set and tool the median of three runs
# (images per second, CPU seconds per image, peak resident memory, output
# size), our ratios to each peer, the PSNR of every tool's output against a
# full-decode Lanczos3 reference, and the main-thread figures of the engine.
#
#   bench/run.sh [--encoders] [FOLDER]
#
# FOLDER: images to use instead of the generated corpus (JPEG, PNG and HEIC
# files are sorted into sets by extension; they are copied, never written).
# --encoders: also compares PNG levels and x265 presets on the corpus.
# BURISORA_BENCH_RUNS (default 3) sets the number of runs per tool and set,
# BURISORA_BENCH_SETS (default "jpeg png heic") the sets that are timed.
# sharp is installed into the temporary folder; when npm cannot fetch it the
# table is printed without it.
#
# Figures are only worth comparing on an otherwise idle machine.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

encoders=0
if [[ ${1:-} == --encoders ]]; then
  encoders=1
  shift
fi
source_folder=${1:-}

BURISORA_EXTRA_PACKAGES="time libvips-tools imagemagick libimage-exiftool-perl" \
  "$root/scripts/install-deps.sh"
build=${BURISORA_BENCH_BUILD_DIR:-$root/build-bench}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DBURISORA_BUILD_GUI=OFF -DBURISORA_BUILD_TESTS=OFF >&2
cmake --build "$build" --parallel 2 --target burisora-cli burisora-worker burisora-bench burisora-bench-main-thread >&2

cli=$build/src/burisora-cli
bench=$build/bench/burisora-bench
magick=$(command -v convert-im6.q16 || command -v convert)
runs=${BURISORA_BENCH_RUNS:-3}
size=1280
quality=85

work=$(mktemp -d "${TMPDIR:-/tmp}/burisora-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
corpus=$work/corpus
mkdir -p "$corpus"/{jpeg,png,heic} "$work/config" "$work/times"

sharp_folder=$work/sharp
sharp_version=0.35
have_sharp=0
echo "Installing sharp $sharp_version from the npm registry ..." >&2
if mkdir -p "$sharp_folder" && command -v node >/dev/null && command -v npm >/dev/null &&
  (cd "$sharp_folder" && npm install --no-save --no-audit --no-fund --loglevel=error \
    "sharp@$sharp_version" >&2) &&
  node -e 'require(process.argv[1])' "$sharp_folder/node_modules/sharp" 2>/dev/null; then
  have_sharp=1
else
  echo "npm could not install sharp (no registry, or no node): timing without it." >&2
fi

if [[ -n $source_folder ]]; then
  find "$source_folder" -type f | while IFS= read -r file; do
    case ${file,,} in
    *.jpg | *.jpeg) cp "$file" "$corpus/jpeg/" ;;
    *.png) cp "$file" "$corpus/png/" ;;
    *.heic | *.heif) cp "$file" "$corpus/heic/" ;;
    esac
  done
else
  echo "Making the corpus in $corpus ..." >&2
  "$bench" corpus "$corpus"
  exiftool -q -overwrite_original -Make=Burisora -Model="Bench Camera" \
    -DateTimeOriginal="2024:05:01 10:00:00" -ExposureTime=1/125 -FNumber=1.8 -ISO=100 \
    -FocalLength=4.2 -GPSLatitude=35.6586 -GPSLatitudeRef=N -GPSLongitude=139.7454 \
    -GPSLongitudeRef=E -Orientation#=1 "$corpus/jpeg"
fi

count() { find "$1" -maxdepth 1 -type f | wc -l; }
extension() { case $1 in jpeg) echo jpg ;; *) echo "$1" ;; esac; }

# Each runner gets the set's folder and an empty output folder.
run_burisora() {
  local set=$1 out=$2
  rm -rf "$corpus/$set/Resized"
  XDG_CONFIG_HOME=$work/config "$cli" --size "$size" --quality "$quality" --format keep \
    --strip-metadata --json "$corpus/$set" >"$work/burisora.log"
  mv "$corpus/$set/Resized"/* "$out/"
  rmdir "$corpus/$set/Resized"
}

run_vipsthumbnail() {
  local set=$1 out=$2 options=strip per_process=1
  [[ $set != png ]] && options="Q=$quality,strip"
  # Where a file takes a fraction of a second, process start-up would weigh
  # on the peer; four files per process keep it out while both stay busy.
  [[ $set == jpeg ]] && per_process=4
  find "$corpus/$set" -maxdepth 1 -type f -print0 | sort -z |
    VIPS_CONCURRENCY=1 xargs -0 -P2 -n"$per_process" \
      vipsthumbnail -s "$size" -o "$out/%s.$(extension "$set")[$options]"
}

run_sharp() {
  node "$root/bench/sharp-peer.mjs" "$sharp_folder" "$corpus/$1" "$2" "$size" "$quality"
}

run_magick() {
  local set=$1 out=$2 ext
  ext=$(extension "$set")
  local quality_options=""
  [[ $set != png ]] && quality_options="-quality $quality"
  find "$corpus/$set" -maxdepth 1 -type f -print0 | sort -z |
    MAGICK_THREAD_LIMIT=1 xargs -0 -P2 -I{} bash -c '
      file=$1 name=${1##*/}
      exec "$2" -define jpeg:size=$3x$3 "$file" -auto-orient -resize $3x$3 -strip $4 \
        "$5/${name%.*}.$6"' _ {} "$magick" "$size" "$quality_options" "$out" "$ext"
}

# The floor under any JPEG resizer: libjpeg-turbo decoding each file at the
# 1/2, 1/4 or 1/8 scale that burisora-cli's decoder picks for it, two files at
# a time, with no resampling and no encoding. The scales are worked out
# beforehand, so that only decoding is timed.
jpeg_scales() {
  local file width height long short factor
  find "$corpus/jpeg" -maxdepth 1 -type f | sort | while IFS= read -r file; do
    width=$(vipsheader -f width "$file") height=$(vipsheader -f height "$file")
    long=$((width > height ? width : height)) short=$((width > height ? height : width))
    factor=1
    while ((factor < 8 && long / (factor * 2) >= size && short / (factor * 2) >= 1)); do
      factor=$((factor * 2))
    done
    printf '1/%s\0%s\0' "$factor" "$file"
  done >"$work/jpeg-scales"
}
run_floor() {
  xargs -0 -P2 -n2 sh -c 'exec djpeg -scale "$1" -outfile /dev/null "$2"' _ <"$work/jpeg-scales"
}

# GNU time runs each runner in a fresh bash, so that its figures are those of
# the runner and everything it starts, and nothing else.
export root corpus work cli magick size quality sharp_folder
export -f count extension run_burisora run_sharp run_vipsthumbnail run_magick run_floor

# KB resident in the process tree under $1 now, into $rss_now. Bash builtins
# only, one read per process (statm's second field: resident pages), so that
# sampling takes next to no CPU from the run it measures: reading each
# status file line by line took a fifth of a core, a sixth of the run.
page_kb=$(($(getconf PAGESIZE) / 1024))
tree_rss() {
  local pending=("$1") pid size resident rest children
  rss_now=0
  while ((${#pending[@]})); do
    pid=${pending[-1]}
    unset 'pending[-1]'
    read -r size resident rest 2>/dev/null <"/proc/$pid/statm" &&
      rss_now=$((rss_now + resident * page_kb))
    children=()
    # The list ends without a newline: read fills it and still says "no more".
    read -r -a children 2>/dev/null <"/proc/$pid/task/$pid/children" || true
    pending+=("${children[@]}")
  done
}
# A pause without starting a process: a read that times out on a pipe that
# never delivers.
exec {never_ready}<> <(:)
pause() { read -r -t "$1" -u "$never_ready" || true; }

# The tools timed on a set; sharp's prebuilt libvips reads no HEVC.
tools_for() {
  local tools=(burisora)
  [[ $have_sharp -eq 1 && $1 != heic ]] && tools+=(sharp)
  tools+=(vipsthumbnail magick)
  echo "${tools[@]}"
}
sets=()
for set in ${BURISORA_BENCH_SETS:-jpeg png heic}; do
  [[ $(count "$corpus/$set") -gt 0 ]] && sets+=("$set")
done

[[ " ${sets[*]} " == *" jpeg "* ]] && jpeg_scales
for set in "${sets[@]}"; do
  n=$(count "$corpus/$set")
  echo "Timing the $set set ($n files, $runs runs per tool) ..." >&2
  read -r -a tools <<<"$(tools_for "$set")"
  for ((run = 1; run <= runs; run++)); do
    for tool in "${tools[@]}"; do
      out=$work/out/$tool/$set
      rm -rf "$out"
      mkdir -p "$out"
      sync
      /usr/bin/time -f '%e %U %S %M' -o "$work/time" bash -c 'run_'"$tool"' "$@"' _ "$set" "$out" &
      timed=$!
      peak=0
      # burisora-cli decodes in worker processes: its memory is theirs and its
      # own together, where GNU time gives the largest process only. Sampled
      # from here, outside the timed processes.
      while [[ $tool == burisora ]] && kill -0 "$timed" 2>/dev/null; do
        tree_rss "$timed"
        ((rss_now > peak)) && peak=$rss_now
        pause 0.05
      done
      wait "$timed" || { echo "$tool failed on the $set set" >&2; exit 1; }
      if [[ $tool == burisora && $set == jpeg ]]; then
        /usr/bin/time -f '%e' -o "$work/time.floor" bash -c run_floor
        cat "$work/time.floor" >>"$work/times/floor"
      fi
      made=$(count "$out")
      [[ $made -eq $n ]] || { echo "$tool wrote $made of $n files for the $set set" >&2; exit 1; }
      read -r elapsed user system rss <"$work/time"
      [[ $tool == burisora ]] && rss=$peak
      bytes=$(du -sb "$out" | cut -f1)
      echo "$elapsed $user $system $rss $bytes" >>"$work/times/$tool.$set"
    done
  done
done

# Median of column $2 of file $1.
median() { cut -d' ' -f"$2" "$1" | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

declare -A rate cpu rss kb
for set in "${sets[@]}"; do
  n=$(count "$corpus/$set")
  read -r -a tools <<<"$(tools_for "$set")"
  for tool in "${tools[@]}"; do
    f=$work/times/$tool.$set
    awk '{print $1, $2 + $3, $4, $5}' "$f" >"$f.sum"
    rate[$tool.$set]=$(awk -v n="$n" -v t="$(median "$f.sum" 1)" 'BEGIN {printf "%.2f", n / t}')
    cpu[$tool.$set]=$(awk -v n="$n" -v t="$(median "$f.sum" 2)" 'BEGIN {printf "%.3f", t / n}')
    rss[$tool.$set]=$(awk -v k="$(median "$f.sum" 3)" 'BEGIN {printf "%.0f", k / 1024}')
    kb[$tool.$set]=$(awk -v n="$n" -v b="$(median "$f.sum" 4)" 'BEGIN {printf "%.0f", b / n / 1024}')
  done
done

echo "Computing PSNR against full-decode Lanczos3 references ..." >&2
declare -A psnr_min psnr_mean
for set in "${sets[@]}"; do
  folders=()
  read -r -a tools <<<"$(tools_for "$set")"
  for tool in "${tools[@]}"; do folders+=("$work/out/$tool/$set"); done
  while IFS=$'\t' read -r folder _ minimum mean; do
    tool=$(basename "$(dirname "$folder")")
    psnr_min[$tool.$set]=$minimum
    psnr_mean[$tool.$set]=$mean
  done < <("$bench" psnr "$corpus/$set" "${folders[@]}")
done

label() { case $1 in burisora) echo burisora-cli ;; sharp) echo "sharp $sharp_version" ;; vipsthumbnail) echo vipsthumbnail ;; magick) echo "convert (IM6)" ;; esac; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

echo
echo "Burisora benchmark: long edge $size, quality $quality, median of $runs runs, $(nproc) cores"
echo "Peers run two files at a time with one thread each (sharp in one node process, the others"
echo "by xargs -P2); the peak RSS of those by xargs is that of the largest single process, with"
echo "two of them alive at once. burisora-cli's is that of it and its worker processes together,"
echo "sampled every 50 ms."
echo
printf '%-6s %-15s %9s %11s %13s %10s %18s\n' set tool images/s "CPU s/img" "peak RSS MB" "KB/image" "PSNR dB min/mean"
for set in "${sets[@]}"; do
  read -r -a tools <<<"$(tools_for "$set")"
  for tool in "${tools[@]}"; do
    printf '%-6s %-15s %9s %11s %13s %10s %18s\n' "$set" "$(label "$tool")" "${rate[$tool.$set]}" \
      "${cpu[$tool.$set]}" "${rss[$tool.$set]}" "${kb[$tool.$set]}" \
      "${psnr_min[$tool.$set]} / ${psnr_mean[$tool.$set]}"
  done
done
echo
echo "Ratios of burisora-cli to each peer (images/s: higher is better; CPU and RSS: lower is better)"
printf '%-6s %-15s %12s %12s %12s\n' set peer "images/s" "CPU s/img" "peak RSS"
for set in "${sets[@]}"; do
  read -r -a tools <<<"$(tools_for "$set")"
  for tool in "${tools[@]:1}"; do
    printf '%-6s %-15s %11sx %11sx %11sx\n' "$set" "$(label "$tool")" \
      "$(ratio "${rate[burisora.$set]}" "${rate[$tool.$set]}")" \
      "$(ratio "${cpu[burisora.$set]}" "${cpu[$tool.$set]}")" \
      "$(ratio "${rss[burisora.$set]}" "${rss[$tool.$set]}")"
  done
done

echo
echo "Targets"
target() { printf '  %-58s %-22s %s\n' "$1" "$2" "$(awk "BEGIN {print ($3) ? \"met\" : \"MISSED\"}")"; }
# Our images/s, at least `minimum` times sharp's, and bytes, no more than its.
sharp_targets() {
  local set=$1 label=$2 minimum=$3 r
  if [[ $have_sharp -ne 1 ]]; then
    echo "  $label->$label images/s >= ${minimum}x sharp: not measured (sharp could not be installed)"
    return
  fi
  r=$(ratio "${rate[burisora.$set]}" "${rate[sharp.$set]}")
  target "$label->$label images/s >= ${minimum}x sharp" "${r}x" "$r >= $minimum"
  r=$(ratio "${kb[burisora.$set]}" "${kb[sharp.$set]}")
  target "$label bytes per image <= sharp's" "${r}x" "$r <= 1"
}
for set in "${sets[@]}"; do
  case $set in
  jpeg)
    floor=$(awk -v n="$(count "$corpus/jpeg")" -v t="$(median "$work/times/floor" 1)" \
      'BEGIN {printf "%.2f", n / t}')
    r=$(ratio "${rate[burisora.jpeg]}" "$floor")
    target "JPEG->JPEG images/s >= 0.9x the decode floor ($floor/s)" "${r}x" "$r >= 0.9"
    sharp_targets jpeg JPEG 1.5
    r=$(ratio "${rate[burisora.jpeg]}" "${rate[vipsthumbnail.jpeg]}")
    target "JPEG->JPEG images/s >= 2x vipsthumbnail" "${r}x" "$r >= 2"
    target "peak RSS of burisora-cli on the JPEG set < 250 MB" "${rss[burisora.jpeg]} MB" "${rss[burisora.jpeg]} < 250"
    ;;
  png)
    r=$(ratio "${rate[burisora.png]}" "${rate[vipsthumbnail.png]}")
    target "PNG->PNG images/s >= 1.3x vipsthumbnail" "${r}x" "$r >= 1.3"
    sharp_targets png PNG 1.2
    r=$(ratio "${kb[burisora.png]}" "${kb[vipsthumbnail.png]}")
    target "PNG bytes per image at most 10% above vipsthumbnail's" "${r}x" "$r <= 1.1"
    ;;
  heic)
    s=$(awk -v r="${rate[burisora.heic]}" 'BEGIN {printf "%.2f", 1 / r}')
    target "HEIC->HEIC <= 0.6 s per 12-MP image (wall, batch)" "$s s/image" "$s <= 0.6"
    ;;
  esac
  target "PSNR of burisora-cli's $set output >= 38 dB (worst file)" "${psnr_min[burisora.$set]} dB" \
    "${psnr_min[burisora.$set]} >= 38"
done

echo
echo "Main thread (10000 jobs; targets: enqueue < 500 ms, longest stall < 50 ms)"
"$build/bench/burisora-bench-main-thread" | sed 's/^/  /'

if ((encoders)); then
  for set in png heic; do
    [[ $(count "$corpus/$set") -gt 0 ]] || continue
    echo
    echo "Encoder choices on the $set set at $size px (one thread, three files)"
    "$bench" encoders "$corpus/$set" "$size" "$quality" | sed 's/^/  /'
  done
fi
