#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined sanitizers) and runs each for the
# given number of seconds (default 60) from its seed corpus. Any crash, leak, timeout or
# sanitizer report ends the script with a failure.
#   scripts/fuzz.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

scripts/deps.sh clang libclang-rt-14-dev cmake zlib1g-dev libstb-dev

cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVINTREL_BUILD_FUZZ=ON -DVINTREL_BUILD_TESTS=OFF
cmake --build build-fuzz -j "$(nproc 2>/dev/null || echo 2)"

# The targets run side by side, each for the full time; the script waits for all of them.
pids=()
names=()
logs=$(mktemp -d)
for target in build-fuzz/fuzz/*_fuzz; do
  [ -x "$target" ] || continue
  name=$(basename "$target" _fuzz)
  seeds=fuzz/corpus/$name
  [ -d "$seeds" ] || seeds=fuzz/corpus/${name%%_*}
  work=$(mktemp -d -p "$logs")
  echo "== fuzzing $name for ${seconds}s (seeds: $seeds)"
  # New inputs go to the scratch corpus; the checked-in seeds are only read.
  "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=512 -print_final_stats=1 \
    "$work" "$seeds" >"$logs/$name.log" 2>&1 &
  pids+=($!)
  names+=("$name")
done
if [ ${#pids[@]} -eq 0 ]; then
  echo "no fuzz target was built" >&2
  exit 1
fi

failed=0
for i in "${!pids[@]}"; do
  if wait "${pids[$i]}"; then
    echo "== ${names[$i]}: no finding"
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$logs/${names[$i]}.log" || true
  else
    echo "== ${names[$i]}: FAILED" >&2
    tail -n 60 "$logs/${names[$i]}.log" >&2
    failed=1
  fi
done
rm -rf "$logs"
exit "$failed"
