#!/usr/bin/env bash
# Builds the libFuzzer targets under fuzz/ with clang (ASan + UBSan) and runs
# each for SECONDS (default 60). New corpus entries go to a working corpus
# outside the repository, seeded from fuzz/corpus/<target>; crashes, hangs
# and their inputs go to the artifacts folder. Exit status 1 when a target
# found something.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
# Environment: FUZZ_BUILD_DIR (default build/fuzz), FUZZ_WORK_DIR (default
# build/fuzz-work), FUZZ_JOBS (build jobs, default 2).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(lyrics_page_fuzz artist_pages_fuzz entity_decoding_fuzz cache_file_fuzz http_request_fuzz
           text_file_reader_fuzz name_distance_fuzz)
fi
build=${FUZZ_BUILD_DIR:-build/fuzz}
work=${FUZZ_WORK_DIR:-build/fuzz-work}

unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVERSEWELL_BUILD_FUZZ=ON \
  -DVERSEWELL_BUILD_TESTS=OFF -DVERSEWELL_BUILD_CLI=OFF >/dev/null
cmake --build "$build" -j"${FUZZ_JOBS:-2}" --target "${targets[@]}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
for t in "${targets[@]}"; do
  corpus="$work/$t/corpus"
  artifacts="$work/$t/artifacts"
  mkdir -p "$corpus" "$artifacts"
  echo "=== fuzz $t: ${seconds}s"
  # -timeout: an input that takes this long is a hang; the worst-case input
  # families must stay far below it.
  if ! "$build/$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 -max_len=16384 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "fuzz/corpus/$t" \
        >"$work/$t/log.txt" 2>&1; then
    failed+=("$t")
    tail -n 40 "$work/$t/log.txt"
  fi
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)' "$work/$t/log.txt" || true
  grep -E '^#[0-9]+.*(DONE|pulse)' "$work/$t/log.txt" | tail -n 1 || true
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "=== fuzzing found problems in: ${failed[*]} (inputs under $work/<target>/artifacts)"
  exit 1
fi
echo "=== fuzzing: nothing found"
