#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fuzzes the per-file pipeline for a given time with libFuzzer.
#   scripts/fuzz.sh [SECONDS] [extra libFuzzer flags...]
# One worker on one core. Builds build-fuzz/ (clang, ASan+UBSan), seeds
# build-fuzz/corpus from scripts/make-fuzz-corpus.sh, and keeps the growing
# corpus there between runs. Crashes, leaks, timeouts and out-of-memory inputs
# land in build-fuzz/artifacts/; each one found is fixed and then kept under
# tests/fuzz-regressions/, which the test suite replays.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-600}
shift || true
build=${BURISORA_FUZZ_DIR:-$root/build-fuzz}

if [[ -z ${BURISORA_FUZZ_NO_BUILD:-} ]]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBURISORA_BUILD_GUI=OFF -DBURISORA_BUILD_TESTS=OFF -DBURISORA_SANITIZE=ON -DBURISORA_FUZZ=ON >/dev/null
  cmake --build "$build" --parallel 2 --target fuzz_pipeline
fi

mkdir -p "$build/corpus" "$build/artifacts"
if [[ ! -d $build/seed ]]; then
  "$root/scripts/make-fuzz-corpus.sh" "$build/seed.new" >/dev/null
  mv "$build/seed.new" "$build/seed"
fi

# libvips spreads one image over threads; here one thread, one core.
export VIPS_CONCURRENCY=1
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/sanitizer/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$build"
# -fork keeps going after a finding; every finding is saved as an artifact.
exec ./fuzz/fuzz_pipeline -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
  -max_total_time="$seconds" -timeout=30 -rss_limit_mb=3072 -max_len=65536 \
  -artifact_prefix="$build/artifacts/" -print_final_stats=1 "$@" corpus seed
