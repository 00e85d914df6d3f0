#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs burisora-cli over every image of a folder (real, odd and damaged files)
# and checks that it ends each one cleanly. The files are copied, a chunk at a
# time, into a temporary folder, so the originals are never touched; each
# chunk is one `burisora-cli --json --size 1280` run under a timeout.
#
#   bench/torture.sh FOLDER
#
# Counts: files; jobs ended (JSON lines, by status); crashes (the CLI died of a
# signal) and hangs (the timeout expired), after which the chunk is run again
# one file at a time to name the culprits; unreported files (no JSON line);
# leftovers (an output-side file that is hidden `.*.tmp`, empty, or named in
# no `output`); changed sources (sha256 of the copies before and after).
# Exits 1 when any of crashes, hangs, unreported, leftovers or changed is not 0.
#
# BURISORA_CLI            the CLI (default: build/src/burisora-cli of this repo)
# BURISORA_TORTURE_CHUNK  files per run (default 200)
# BURISORA_TORTURE_TIMEOUT seconds per run (default 300)
# BURISORA_TORTURE_ARGS   more CLI options, e.g. "--format png --keep-metadata"
# BURISORA_TORTURE_JSON   a file that gets every JSON line (the copies' paths)
# The window's settings file is not read: XDG_CONFIG_HOME points into the
# temporary folder.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cli=${BURISORA_CLI:-$root/build/src/burisora-cli}
chunk=${BURISORA_TORTURE_CHUNK:-200}
limit=${BURISORA_TORTURE_TIMEOUT:-300}
read -ra extra <<<"${BURISORA_TORTURE_ARGS:-}"
folder=${1:?usage: bench/torture.sh FOLDER}
[[ -x $cli ]] || { echo "no CLI at $cli (set BURISORA_CLI)" >&2; exit 2; }
command -v jq >/dev/null || BURISORA_EXTRA_PACKAGES=jq "$root/scripts/install-deps.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config
declare -A count=([files]=0 [succeeded]=0 [skipped]=0 [failed]=0 [crashes]=0
  [hangs]=0 [unreported]=0 [leftovers]=0 [changed]=0)
culprits=()

# run FILE...: copies the files into a fresh folder, runs the CLI once on it and
# adds up what it left. Sets `ended` to crash:SIG, hang or ok.
run() {
  local dir=$work/run i=0 rc=0 f name
  local -A copies=()
  rm -rf "$dir" && mkdir -p "$dir/in"
  : >"$dir/map"
  for f in "$@"; do
    i=$((i + 1)) name=$(printf %05d "$i")_${f##*/}
    cp -- "$f" "$dir/in/$name"
    copies[$dir/in/$name]=1
    printf '%s\t%s\n' "$name" "$f" >>"$dir/map"
  done
  (cd "$dir/in" && sha256sum -- *) >"$dir/before"
  timeout -k 15 "$limit" "$cli" --json --size 1280 "${extra[@]}" "$dir/in" \
    >"$dir/out" 2>"$dir/err" </dev/null || rc=$?
  if ((rc == 124 || rc == 137)); then ended=hang; return; fi
  if ((rc >= 128)); then ended=crash:$(kill -l $((rc - 128)) 2>/dev/null || echo $rc); return; fi
  if ((rc > 1)); then echo "the CLI answered $rc:" >&2; cat "$dir/err" >&2; exit 2; fi
  ended=ok
  local s
  grep '^{' "$dir/out" >"$dir/json" || true # the last line is the summary
  [[ -z ${BURISORA_TORTURE_JSON:-} ]] || cat "$dir/json" >>"$BURISORA_TORTURE_JSON"
  for s in succeeded skipped failed; do
    count[$s]=$((count[$s] + $(jq -c "select(.status == \"$s\")" "$dir/json" | wc -l)))
  done
  jq -r '.source // empty | gsub("/\\./"; "/")' "$dir/json" | sort -u >"$dir/reported"
  while IFS=$'\t' read -r copy original; do
    grep -qxF -- "$dir/in/$copy" "$dir/reported" ||
      { count[unreported]=$((count[unreported] + 1)); echo "unreported: $original"; }
  done <"$dir/map"
  jq -r '.output // empty' "$dir/json" | sort -u >"$dir/outputs"
  while IFS= read -r -d '' f; do
    [[ -n ${copies[$f]:-} ]] && continue
    if [[ ${f##*/} == .*.tmp || ! -s $f ]] || ! grep -qxF -- "$f" "$dir/outputs"; then
      count[leftovers]=$((count[leftovers] + 1)); echo "leftover: ${f#"$dir/in/"}"
    fi
  done < <(find "$dir/in" -mindepth 1 -type f -print0)
  (cd "$dir/in" && sha256sum -c "$dir/before" 2>/dev/null || true) | sed -n 's/: FAILED.*$//p' >"$dir/changed"
  count[changed]=$((count[changed] + $(wc -l <"$dir/changed")))
  awk -F'\t' 'NR == FNR { c[$0]; next } $1 in c { print "changed: " $2 }' "$dir/changed" "$dir/map"
}

mapfile -d '' files < <(find "$folder" -type d -name Resized -prune -o -type f \
  -regextype posix-extended -iregex '.*\.(jpe?g|jpe|png|heic|heif|tiff?|gif|webp)' -print0 | sort -z)
count[files]=${#files[@]}
echo "${#files[@]} files in $folder, $chunk a run, $limit s each: $cli --json --size 1280 ${extra[*]}"

for ((start = 0; start < ${#files[@]}; start += chunk)); do
  part=("${files[@]:start:chunk}")
  run "${part[@]}"
  printf 'files %d-%d: %s\n' $((start + 1)) $((start + ${#part[@]})) "$ended"
  [[ $ended == ok ]] && continue
  # One file at a time: the culprits end the same way on their own.
  for f in "${part[@]}"; do
    run "$f"
    [[ $ended == ok ]] && continue
    [[ $ended == hang ]] && count[hangs]=$((count[hangs] + 1)) || count[crashes]=$((count[crashes] + 1))
    culprits+=("$ended	$f	$(tail -n 3 "$work/run/err" | tr '\n' ' ' | cut -c1-300)")
    echo "  $ended: $f"
  done
done

echo
printf '%-12s %8s\n' files "${count[files]}" succeeded "${count[succeeded]}" \
  skipped "${count[skipped]}" failed "${count[failed]}" \
  "jobs ended" $((count[succeeded] + count[skipped] + count[failed])) \
  crashes "${count[crashes]}" hangs "${count[hangs]}" unreported "${count[unreported]}" \
  leftovers "${count[leftovers]}" changed "${count[changed]}"
if ((${#culprits[@]})); then
  echo; echo "culprits (how it ended, file, last stderr lines):"
  printf '%s\n' "${culprits[@]}"
fi
((count[crashes] + count[hangs] + count[unreported] + count[leftovers] + count[changed] == 0))
