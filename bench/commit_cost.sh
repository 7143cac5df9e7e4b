#!/usr/bin/env bash
# Measures what a run's durability costs: a one-thread full copy of the bench game by the tool of
# this tree against the same by the tool of an earlier commit, built side by side, taking turns on
# the same game.
#
#   bench/commit_cost.sh [--before REV] [--bytes N] [--seed S] [--keep DIR] [--runs R]
#
#   --before REV  the commit to compare with (default: where this branch left main)
#   --bytes N     size of the game's archives in bytes (default 268435456, 256 MiB)
#   --seed S      seed of the synthetic game (default 1)
#   --keep DIR    keep the game in DIR and reuse it, as bench/run_bench.sh does
#   --runs R      measured runs of each tool (default 5); the best one is reported
#
# Builds the Release tool of this tree in build-bench/ and that of REV (from `git archive`) in
# build-before/. Every run is a first run on the untouched game, so that it makes the back-up too:
# before it the manifest is put back, the user archive, the back-up and what runs leave are
# deleted, and `sync` flushes what earlier runs left to write. The game lives on the repository's
# disk, never on a tmpfs, where a flush would cost nothing.
set -euo pipefail

usage() {
  sed -n '7,13p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
}

before_rev=""
bytes=268435456
seed=1
keep=""
runs=5
while [ $# -gt 0 ]; do
  case "$1" in
    --before) [ $# -ge 2 ] || usage; before_rev="$2"; shift 2 ;;
    --bytes) [ $# -ge 2 ] || usage; bytes="$2"; shift 2 ;;
    --seed) [ $# -ge 2 ] || usage; seed="$2"; shift 2 ;;
    --keep) [ $# -ge 2 ] || usage; keep="$2"; shift 2 ;;
    --runs) [ $# -ge 2 ] || usage; runs="$2"; shift 2 ;;
    *) usage ;;
  esac
done
case "$bytes$seed$runs" in *[!0-9]*) usage ;; esac
[ "$bytes" -gt 0 ] && [ "$runs" -gt 0 ] || usage

repo=$(cd "$(dirname "$0")/.." && pwd)
after_build="$repo/build-bench"
before_root="$repo/build-before"
. "$repo/bench/lib.sh"

# --- Tools and builds --------------------------------------------------------------------------
"$repo/scripts/deps.sh" time cmake build-essential zlib1g-dev libgtest-dev libstb-dev
[ -n "$before_rev" ] || before_rev=$(git -C "$repo" merge-base HEAD main)
before_commit=$(git -C "$repo" rev-parse --verify "$before_rev^{commit}")
if [ "$(cat "$before_root/commit" 2>/dev/null)" != "$before_commit" ]; then
  rm -rf "$before_root"
  mkdir -p "$before_root/src"
  git -C "$repo" archive "$before_commit" | tar -x -C "$before_root/src"
  echo "$before_commit" >"$before_root/commit"
fi
bench_build commit_cost "$repo" "$after_build" "" vintrel_tool make_game
bench_build commit_cost "$before_root/src" "$before_root/build" "" vintrel_tool
after_tool="$after_build/vintrel"
before_tool="$before_root/build/vintrel"
make_game="$after_build/tests/make_game"

# --- The game, on the repository's disk --------------------------------------------------------
bench_root commit-cost "$keep" "$after_build"
if [ "$(stat -f -c %T "$root")" = "tmpfs" ]; then
  echo "commit_cost: $root is on a tmpfs; choose a directory on a disk" >&2
  exit 1
fi
bench_game "$make_game" "$bytes" "$seed"
mod="$root/mod"
temp="$root/temp"
mkdir -p "$mod" "$temp"
user="bench_user"
printf '{ "upak": "%s", "fullcopy": true, "files": [] }\n' "$user" >"$mod/vintrel.json"

reset_game() {
  cp "$pristine" "$game/manifest.bin"
  rm -f "$game/$user.upak" "$game/$user.upak.tmp" "$game/$user.upak.old" "$game/origmanifest.bin" \
    "$game/vintrel.commit" "$temp"/vintrel-*.tmp
  sync
}

# run_measured LOG TOOL: one first run of TOOL, appending "wall cpu" to LOG.
run_measured() {
  local log="$1" tool="$2"
  reset_game
  if ! VINTREL_THREADS=1 /usr/bin/time -f "%e %U %S" -o "$root/time" \
    "$tool" "$mod" "$game" "$temp" >/dev/null; then
    echo "commit_cost: $tool failed" >&2
    exit 1
  fi
  awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }' "$root/time" >>"$log"
}

before_log="$root/before.log"
after_log="$root/after.log"
: >"$before_log"
: >"$after_log"
echo "Warming up (one unmeasured run of each) ..."
run_measured /dev/null "$before_tool"
run_measured /dev/null "$after_tool"
for ((i = 1; i <= runs; i++)); do
  echo "Measured run $i of $runs ..."
  run_measured "$before_log" "$before_tool"
  run_measured "$after_log" "$after_tool"
done
reset_game

# best LOG FIELD: the least value of that field (1 wall, 2 CPU) in LOG.
best() { cut -d' ' -f"$2" "$1" | sort -g | head -n1; }
bw=$(best "$before_log" 1)
bc=$(best "$before_log" 2)
aw=$(best "$after_log" 1)
ac=$(best "$after_log" 2)
echo
echo "One-thread full copy, a first run, best of $runs"
printf '  before (%s): %7.2f s wall, %7.2f s CPU\n' \
  "$(git -C "$repo" rev-parse --short "$before_commit")" "$bw" "$bc"
printf '  after  (%s): %7.2f s wall, %7.2f s CPU\n' \
  "$(git -C "$repo" describe --always --dirty 2>/dev/null || echo unknown)" "$aw" "$ac"
awk -v bw="$bw" -v bc="$bc" -v aw="$aw" -v ac="$ac" 'BEGIN {
  printf "  after / before: %.3f wall, %.3f CPU (target: at most 1.05) %s\n", aw / bw, ac / bc,
    (aw / bw <= 1.05 ? "MET" : "MISSED")
}'
echo
echo "Raw measurements (wall s, CPU s), one per run:"
sed 's/^/  before  /' "$before_log"
sed 's/^/  after   /' "$after_log"
