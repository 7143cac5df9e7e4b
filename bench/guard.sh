#!/usr/bin/env bash
# A quick guard over the tool's costs, for continuous integration: small synthetic games, each
# measured as a ratio against the same program on other input, or against bench_baseline, so
# that the load of a shared machine cancels out. Fails (exit 1) when a ratio exceeds its limit,
# which is its target plus 50 per cent.
#
#   bench/guard.sh
#
# Installs what it needs when missing, builds the Release targets vintrel_tool, make_game and
# bench_baseline in build-guard/, and measures:
#
#   walk        the walk over a game of 40,000 packages and 2,000,000 entries with 20,000
#               configured files, against the same walk with 20 (CPU time; the cost of loading
#               the configuration is taken out by the same two runs on a game of one package).
#               The game is that large so that the walk outweighs the noise of starting a process:
#               on 200,000 entries it cost some 20 ms and the ratio ranged from 0.8 to 1.9
#   run         a whole run with 20,000 configured files against one with 20 on that game (CPU);
#               printed, not checked: loading 20,000 files costs more than the walk itself, and
#               how much more depends on the machine's cost of a page fault (doc/benchmarks.md)
#   calls       system calls per package of a game of 50,000 packages that matches nothing
#   copy        a full copy of a 64 MiB game against bench_baseline on the same game (CPU time)
#   memory      the full copy's peak memory against 3 x its largest split entry + 32 MiB
#   copy2       the full copy on 2 threads against the same on 1 (wall time)
#   base2       the full copy on 2 threads against bench_baseline (wall time)
#   mem2        the 2-thread full copy's peak memory against twice the 1-thread one's
#   verify2     vintrel-inspect verify on 2 threads against 1 (wall time)
#   plan2       vintrel-inspect plan on 2 threads against a 1-thread run (wall time)
#   harvest1    vintrel-inspect names harvest against verify on the same game, both on 1 thread
#   harvest2    the same on 2 threads (wall time)
#
# Every time is the best of several runs, the programs taking turns. The measures before copy2
# are of runs on one thread (VINTREL_THREADS=1).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build-guard"

# --- Tools and build ---------------------------------------------------------------------------
"$repo/scripts/deps.sh" build-essential cmake zlib1g-dev libgtest-dev libbenchmark-dev strace time libstb-dev
mkdir -p "$build"
if ! { cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVINTREL_BUILD_TESTS=ON \
  -DVINTREL_BUILD_BENCH=ON &&
  cmake --build "$build" --target vintrel_tool vintrel_inspect_tool make_game bench_baseline -j2; } \
  >"$build/guard_build.log" 2>&1; then
  tail -20 "$build/guard_build.log" >&2
  echo "guard: the build failed; see $build/guard_build.log" >&2
  exit 1
fi
tool="$build/vintrel"
inspect="$build/vintrel-inspect"
make_game="$build/tests/make_game"
export VINTREL_THREADS=1
baseline="$build/bench/bench_baseline"

# The games live in memory where the machine has room for them (some 400 MiB): the wall-time
# ratios measure the tool's use of the cores, and on a disk each run's writes reaching it took
# from 1.3 s to 1.9 s of the same run, which put copy2 anywhere from 0.61 to 0.96.
place="$build"
if [ -d /dev/shm ] && [ -w /dev/shm ] &&
  [ "$(df -Pk /dev/shm | awk 'NR == 2 { print $4 }')" -gt $((1024 * 1024)) ]; then
  place=/dev/shm
fi
root=$(mktemp -d "$place/vintrel-guard.XXXXXX")
echo "guard: games in $place"
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/temp"

# cpu_of COMMAND...: prints the command's CPU time (user + system) in milliseconds.
cpu_of() {
  local TIMEFORMAT='%3U %3S' times
  times=$({ time "$@" >/dev/null 2>&1; } 2>&1)
  awk '{ printf "%d\n", ($1 + $2) * 1000 + 0.5 }' <<<"$times"
}

# fresh GAME: puts the game's manifest back and removes what a run left.
fresh() {
  cp "$1.manifest" "$1/manifest.bin"
  rm -f "$1/origmanifest.bin" "$1"/*_user.upak "$1"/*_user.upak.tmp "$root/temp"/*
  sync
}

# best_cpu RUNS GAME MOD: the least CPU time, in ms, of RUNS runs of the tool.
best_cpu() {
  local runs="$1" game="$2" mod="$3" best="" ms
  for ((i = 0; i < runs; i++)); do
    fresh "$game"
    ms=$(cpu_of "$tool" "$mod" "$game" "$root/temp")
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best="$ms"; fi
  done
  echo "$best"
}

# make_game_at GAME MAKE_GAME_ARGUMENTS...: writes a game and keeps its manifest aside.
make_game_at() {
  local game="$1"
  shift
  "$make_game" "$@" >/dev/null
  cp "$game/manifest.bin" "$game.manifest"
}

results=()
failed=0
# check NAME VALUE TARGET: a ratio against its target; the guard fails beyond 1.5 x target.
check() {
  local verdict
  verdict=$(awk -v v="$2" -v t="$3" 'BEGIN { print (v <= 1.5 * t) ? "ok" : "FAILED" }')
  results+=("$(printf '  %-8s %6.2f   target %5.2f, limit %5.2f   %s' "$1" "$2" "$3" \
    "$(awk -v t="$3" 'BEGIN { print 1.5 * t }')" "$verdict")")
  [ "$verdict" = ok ] || failed=1
}

start=$(date +%s)

# --- Look-up of configured files ---------------------------------------------------------------
make_game_at "$root/walk" many "$root/walk" --packages 40000 --entries 50
make_game_at "$root/tiny" many "$root/tiny" --packages 1 --entries 1
for files in 20 20000; do
  "$make_game" many-mod "$root/mod$files" --packages 40000 --entries 50 --files "$files" >/dev/null
done
for game in walk tiny; do
  for files in 20 20000; do fresh "$root/$game"; "$tool" "$root/mod$files" "$root/$game" "$root/temp" >/dev/null; done
done
declare -A cpu
for round in 1 2 3 4 5; do
  for game in walk tiny; do
    for files in 20 20000; do
      ms=$(best_cpu 2 "$root/$game" "$root/mod$files")
      key="$game$files"
      if [ -z "${cpu[$key]:-}" ] || [ "$ms" -lt "${cpu[$key]}" ]; then cpu[$key]="$ms"; fi
    done
  done
done
walk20=$((cpu[walk20] - cpu[tiny20]))
walk20000=$((cpu[walk20000] - cpu[tiny20000]))
[ "$walk20" -gt 0 ] || walk20=1
echo "Look-up: CPU ms, 40,000-package game / 1-package game: 20 files ${cpu[walk20]} / ${cpu[tiny20]}," \
  "20,000 files ${cpu[walk20000]} / ${cpu[tiny20000]}"
check walk "$(awk -v a="$walk20000" -v b="$walk20" 'BEGIN { print a / b }')" 1.2
results+=("$(printf '  %-8s %6.2f   target  1.20, not checked' run \
  "$(awk -v a="${cpu[walk20000]}" -v b="${cpu[walk20]}" 'BEGIN { print a / b }')")")

# --- System calls per package ------------------------------------------------------------------
make_game_at "$root/calls" many "$root/calls" --packages 50000 --entries 2
mkdir -p "$root/none"
printf '{ "upak": "none_user", "files": [] }\n' >"$root/none/vintrel.json"
fresh "$root/calls"
strace -f -c -o "$root/strace.txt" "$tool" "$root/none" "$root/calls" "$root/temp" >/dev/null
calls=$(awk '$NF == "total" { print $4 }' "$root/strace.txt")
echo "System calls: $calls for 50,000 packages"
check calls "$(awk -v c="$calls" 'BEGIN { print c / 50000 }')" 4

# --- Full copy against the baseline -----------------------------------------------------------
make_game_at "$root/copy" bench "$root/copy" --bytes 67108864 --seed 1
mkdir -p "$root/full"
printf '{ "upak": "full_user", "fullcopy": true, "files": [] }\n' >"$root/full/vintrel.json"
# Each program reads the game as make_game wrote it: the tool's run rewrites manifest.bin.
fresh "$root/copy"
"$tool" "$root/full" "$root/copy" "$root/temp" >/dev/null
fresh "$root/copy"
"$baseline" "$root/copy" "$root/baseline.out" >"$root/baseline.txt"
largest=$(sed -n 's/^largest_split_entry=//p' "$root/baseline.txt")
tool_best=""
base_best=""
peak=0
for round in 1 2 3; do
  fresh "$root/copy"
  /usr/bin/time -f '%U %S %M' -o "$root/tool.time" "$tool" "$root/full" "$root/copy" "$root/temp" >/dev/null
  read -r user sys rss <"$root/tool.time"
  ms=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%d", (u + s) * 1000 + 0.5 }')
  if [ -z "$tool_best" ] || [ "$ms" -lt "$tool_best" ]; then tool_best="$ms"; fi
  if [ "$rss" -gt "$peak" ]; then peak="$rss"; fi
  fresh "$root/copy"
  rm -f "$root/baseline.out"
  ms=$(cpu_of "$baseline" "$root/copy" "$root/baseline.out")
  if [ -z "$base_best" ] || [ "$ms" -lt "$base_best" ]; then base_best="$ms"; fi
done
echo "Full copy: CPU ms, tool $tool_best, baseline $base_best; tool's peak $peak KiB," \
  "largest split entry $largest bytes"
check copy "$(awk -v a="$tool_best" -v b="$base_best" 'BEGIN { print a / b }')" 1.0
check memory "$(awk -v p="$peak" -v e="$largest" 'BEGIN { print p * 1024 / (3 * e + 32 * 1048576) }')" 1.0

# --- The same full copy, and plan and verify, on two threads ----------------------------------
# wall_of THREADS COMMAND...: the command's wall time in ms, and its peak memory in KiB, at that
# many threads.
wall_of() {
  local threads="$1"
  shift
  VINTREL_THREADS="$threads" /usr/bin/time -f '%e %M' -o "$root/wall.time" "$@" >/dev/null 2>&1 || true
  awk '{ printf "%d %d\n", $1 * 1000 + 0.5, $2 }' "$root/wall.time"
}
declare -A wall
declare -A rss
keep_best() {
  local key="$1" ms="$2" kib="$3"
  if [ -z "${wall[$key]:-}" ] || [ "$ms" -lt "${wall[$key]}" ]; then wall[$key]="$ms"; fi
  if [ -z "${rss[$key]:-}" ] || [ "$kib" -gt "${rss[$key]}" ]; then rss[$key]="$kib"; fi
}
for round in 1 2 3; do
  for threads in 1 2; do
    fresh "$root/copy"
    read -r ms kib < <(wall_of "$threads" "$tool" "$root/full" "$root/copy" "$root/temp")
    keep_best "run$threads" "$ms" "$kib"
    fresh "$root/copy"
    # The programs' name lists come from a folder of the guard's own, which holds none.
    read -r ms kib < <(wall_of "$threads" env XDG_DATA_HOME="$root/data" "$inspect" verify \
      "$root/copy")
    keep_best "verify$threads" "$ms" "$kib"
    read -r ms kib < <(wall_of "$threads" env XDG_DATA_HOME="$root/data" "$inspect" names \
      harvest "$root/copy" "$root/harvested.txt")
    keep_best "harvest$threads" "$ms" "$kib"
    read -r ms kib < <(wall_of "$threads" "$inspect" plan "$root/full" "$root/copy")
    keep_best "plan$threads" "$ms" "$kib"
  done
  fresh "$root/copy"
  rm -f "$root/baseline.out"
  read -r ms kib < <(wall_of 1 "$baseline" "$root/copy" "$root/baseline.out")
  keep_best baseline "$ms" "$kib"
done
echo "Threads: wall ms, full copy ${wall[run1]} / ${wall[run2]} (1 / 2 threads; peak" \
  "${rss[run1]} / ${rss[run2]} KiB), baseline ${wall[baseline]}, verify ${wall[verify1]} /" \
  "${wall[verify2]}, plan ${wall[plan1]} / ${wall[plan2]}, names harvest ${wall[harvest1]} /" \
  "${wall[harvest2]}"
check copy2 "$(awk -v a="${wall[run2]}" -v b="${wall[run1]}" 'BEGIN { print a / b }')" 0.6
check base2 "$(awk -v a="${wall[run2]}" -v b="${wall[baseline]}" 'BEGIN { print a / b }')" 0.6
check mem2 "$(awk -v a="${rss[run2]}" -v b="${rss[run1]}" 'BEGIN { print a / (2 * b) }')" 1.0
check verify2 "$(awk -v a="${wall[verify2]}" -v b="${wall[verify1]}" 'BEGIN { print a / b }')" \
  "$(awk 'BEGIN { print 1 / 1.7 }')"
check plan2 "$(awk -v a="${wall[plan2]}" -v b="${wall[run1]}" 'BEGIN { print a / b }')" 0.6
check harvest1 "$(awk -v a="${wall[harvest1]}" -v b="${wall[verify1]}" 'BEGIN { print a / b }')" 1.3
check harvest2 "$(awk -v a="${wall[harvest2]}" -v b="${wall[verify2]}" 'BEGIN { print a / b }')" 1.3

echo "Ratios ($(($(date +%s) - start)) s of measuring):"
printf '%s\n' "${results[@]}"
if [ "$failed" -ne 0 ]; then
  echo "guard: a ratio exceeds its limit" >&2
  exit 1
fi
echo "guard: every ratio within its limit"
