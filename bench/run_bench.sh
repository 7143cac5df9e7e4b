#!/usr/bin/env bash
# Measures a full-copy run of the tool on a large synthetic game against bench_baseline, the
# least work any full copy must do (inflate every block, compress it again at level 0, write it),
# on one thread and on two; and vintrel-inspect verify and unpack (1 and 2 threads), names
# harvest (1 and 2 threads, against verify) and plan (2 threads) on the same game.
#
#   bench/run_bench.sh [--bytes N] [--seed S] [--keep DIR] [--runs R]
#
#   --bytes N   size of the game's archives in bytes (default 1073741824, 1 GiB)
#   --seed S    seed of the synthetic game (default 1)
#   --keep DIR  keep the game in DIR (created if needed) and reuse it on later runs with the same
#               size and seed; without it the game is made in a scratch directory that is removed
#               at the end
#   --runs R    measured runs of each program (default 3); the best one is reported
#
# Installs what it needs when missing, builds the Release targets vintrel_tool, make_game and
# bench_baseline in build-bench/, and prints the game's figures, the tool's throughput, the
# ratio of the tool's time to the baseline's, and the tool's peak memory against its target, and
# the time of unpack against verify's with the same threads.
#
# Fairness: both programs run on the same game, each once unmeasured first (so the game's
# archives are in the page cache for every measured run: warm cache), then alternately R times.
# Before every run the game's manifest is restored, the user archive, the back-up manifest and
# the outputs of earlier runs are deleted, and `sync` flushes what earlier runs left to write.
# Each unpack writes a new directory, and they are deleted only at the end: on ext4 a file made
# right after thousands were deleted costs several times as much (the inode allocator passes over
# the inodes deleted within the last half minute), which a user's unpack does not meet.
set -euo pipefail

usage() {
  sed -n '5,12p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
}

bytes=1073741824
seed=1
keep=""
runs=3
while [ $# -gt 0 ]; do
  case "$1" in
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
build="$repo/build-bench"
. "$repo/bench/lib.sh"

# --- Tools and build ---------------------------------------------------------------------------
"$repo/scripts/deps.sh" time cmake build-essential zlib1g-dev libgtest-dev libbenchmark-dev libstb-dev
bench_build run_bench "$repo" "$build" -DVINTREL_BUILD_BENCH=ON \
  vintrel_tool vintrel_inspect_tool make_game bench_baseline
tool="$build/vintrel"
inspect="$build/vintrel-inspect"
make_game="$build/tests/make_game"
baseline="$build/bench/bench_baseline"

# --- Scratch space: on the disk that holds the repository, never on a tmpfs --------------------
parent="${TMPDIR:-/tmp}"
if [ "$(stat -f -c %T "$parent")" = "tmpfs" ] ||
  [ "$(stat -c %d "$parent")" != "$(stat -c %d "$repo")" ]; then
  parent="$build"
fi
bench_root bench "$keep" "$parent"
if [ "$(stat -f -c %T "$root")" = "tmpfs" ]; then
  echo "run_bench: $root is on a tmpfs; choose a directory on a disk" >&2
  exit 1
fi

bench_game "$make_game" "$bytes" "$seed"

mod="$root/mod"
temp="$root/temp"
mkdir -p "$mod" "$temp"
user="bench_user"
printf '{ "upak": "%s", "fullcopy": true, "files": [] }\n' "$user" >"$mod/vintrel.json"
baseline_out="$root/baseline.blocks"
# vintrel-inspect reads the user's name lists: it gets a folder of the benchmark's own, which
# holds none.
export XDG_DATA_HOME="$root/data"
harvested="$root/harvested.txt"

# Puts the game back as make_game wrote it and removes every output of earlier runs.
reset_game() {
  cp "$pristine" "$game/manifest.bin"
  rm -f "$game/$user.upak" "$game/$user.upak.tmp" "$game/origmanifest.bin" "$temp"/vintrel-*.tmp \
    "$baseline_out" "$harvested"
  sync
}

# run_measured NAME LOG COMMAND...: runs the command under /usr/bin/time -v, its stdout to
# $root/NAME.stdout, and appends "wall cpu rss_kb load" to LOG, load being the one-minute load
# average of the machine when the run began.
run_measured() {
  local name="$1" log="$2"
  shift 2
  reset_game
  local load
  load=$(cut -d' ' -f1 /proc/loadavg)
  if ! /usr/bin/time -v -o "$root/$name.time" "$@" >"$root/$name.stdout"; then
    echo "run_bench: $name failed:" >&2
    tail -5 "$root/$name.stdout" >&2
    exit 1
  fi
  awk -F': ' '
    /Elapsed \(wall clock\)/ {
      n = split($2, part, ":"); wall = 0
      for (i = 1; i <= n; i++) wall = wall * 60 + part[i]
    }
    /User time/ { user = $2 }
    /System time/ { sys = $2 }
    /Maximum resident set size/ { rss = $2 }
    END { printf "%.2f %.2f %d %s\n", wall, user + sys, rss, load }
  ' load="$load" "$root/$name.time" >>"$log"
}

tool_log="$root/tool.log"
tool2_log="$root/tool2.log"
base_log="$root/baseline.log"
verify1_log="$root/verify1.log"
verify2_log="$root/verify2.log"
plan2_log="$root/plan2.log"
unpack1_log="$root/unpack1.log"
unpack2_log="$root/unpack2.log"
harvest1_log="$root/harvest1.log"
harvest2_log="$root/harvest2.log"
for log in "$tool_log" "$tool2_log" "$base_log" "$verify1_log" "$verify2_log" "$plan2_log" \
  "$unpack1_log" "$unpack2_log" "$harvest1_log" "$harvest2_log"; do
  : >"$log"
done
rm -rf "$root"/unpacked-*
echo "Warming up (one unmeasured run of each) ..."
VINTREL_THREADS=1 run_measured tool /dev/null "$tool" "$mod" "$game" "$temp"
run_measured baseline /dev/null "$baseline" "$game" "$baseline_out"
run_measured unpack /dev/null "$inspect" unpack "$game" "$root/unpacked-0" --threads 2
for ((i = 1; i <= runs; i++)); do
  echo "Measured run $i of $runs ..."
  VINTREL_THREADS=1 run_measured tool "$tool_log" "$tool" "$mod" "$game" "$temp"
  VINTREL_THREADS=2 run_measured tool2 "$tool2_log" "$tool" "$mod" "$game" "$temp"
  run_measured baseline "$base_log" "$baseline" "$game" "$baseline_out"
  run_measured verify1 "$verify1_log" "$inspect" verify "$game" --threads 1
  run_measured verify2 "$verify2_log" "$inspect" verify "$game" --threads 2
  run_measured harvest1 "$harvest1_log" "$inspect" names harvest "$game" "$harvested" --threads 1
  run_measured harvest2 "$harvest2_log" "$inspect" names harvest "$game" "$harvested" --threads 2
  run_measured plan2 "$plan2_log" "$inspect" plan "$mod" "$game" --threads 2
  run_measured unpack1 "$unpack1_log" "$inspect" unpack "$game" "$root/unpacked-$i-1" --threads 1
  run_measured unpack2 "$unpack2_log" "$inspect" unpack "$game" "$root/unpacked-$i-2" --threads 2
done
unpacked_files=$(find "$root/unpacked-0" -type f | wc -l)
unpacked_bytes=$(du -sb "$root/unpacked-0" | cut -f1)
rm -rf "$root"/unpacked-*
reset_game

# --- Report -----------------------------------------------------------------------------------
stat_of() { sed -n "s/^$1=//p" "$root/baseline.stdout"; }
rewritten=$(grep -c '^Updating files in package' "$root/tool.stdout" || true)

awk -v runs="$runs" -v revision="$(git -C "$repo" describe --always --dirty 2>/dev/null || echo unknown)" \
  -v archive="$(stat_of archive_bytes)" -v raw="$(stat_of raw_bytes)" \
  -v packages="$(stat_of packages)" -v nsplit="$(stat_of split_packages)" \
  -v nfull="$(stat_of full_packages)" -v blocks="$(stat_of blocks)" \
  -v entry="$(stat_of largest_split_entry)" -v area="$(stat_of largest_full_area)" \
  -v area_name="$(stat_of largest_full_package)" -v rewritten="$rewritten" \
  -v tool_log="$tool_log" -v base_log="$base_log" -v tool2_log="$tool2_log" \
  -v verify1_log="$verify1_log" -v verify2_log="$verify2_log" -v plan2_log="$plan2_log" \
  -v unpack1_log="$unpack1_log" -v unpack2_log="$unpack2_log" -v unpacked_files="$unpacked_files" \
  -v unpacked_bytes="$unpacked_bytes" -v harvest1_log="$harvest1_log" -v harvest2_log="$harvest2_log" '
  function best(file, field,   line, f, v, b) {
    b = -1
    while ((getline line < file) > 0) {
      split(line, f, " "); v = f[field] + 0
      if (b < 0 || v < b) b = v
    }
    close(file)
    return b
  }
  function worst(file, field,   line, f, v, b) {
    b = 0
    while ((getline line < file) > 0) { split(line, f, " "); if (f[field] + 0 > b) b = f[field] + 0 }
    close(file)
    return b
  }
  BEGIN {
    mib = 1048576
    tw = best(tool_log, 1); tc = best(tool_log, 2); trss = worst(tool_log, 3) * 1024
    bw = best(base_log, 1); bc = best(base_log, 2); brss = worst(base_log, 3) * 1024
    printf "\nGame: %.1f MiB of archives, %d packages (%d split, %d full), %d blocks, %.1f MiB inflated\n",
      archive / mib, packages, nsplit, nfull, blocks, raw / mib
    printf "      largest split entry %.1f MiB; largest full package %s, data area %.1f MiB\n",
      entry / mib, area_name, area / mib
    printf "      packages rewritten by the tool: %d\n", rewritten
    printf "Tool at %s; best of %d warm runs\n", revision, runs
    printf "  tool:     %7.2f s wall, %7.2f s CPU  ->  %.1f MiB/s of game data (%.1f MiB/s inflated)\n",
      tw, tc, archive / mib / tw, raw / mib / tw
    printf "  baseline: %7.2f s wall, %7.2f s CPU  ->  %.1f MiB/s of game data\n",
      bw, bc, archive / mib / bw
    printf "  tool / baseline: %.2f wall, %.2f CPU (target: at most 1.30) %s\n",
      tw / bw, tc / bc, (tw / bw <= 1.3 ? "MET" : "MISSED")
    split_target = 3 * entry + 32 * mib
    full_need = 3 * area + 32 * mib
    target = split_target > full_need ? split_target : full_need
    printf "Peak memory (RSS), largest of the measured runs\n"
    printf "  tool:     %.1f MiB   baseline: %.1f MiB\n", trss / mib, brss / mib
    printf "  target:   %.1f MiB = 3 x largest split entry + 32 MiB\n", split_target / mib
    printf "            %.1f MiB = 3 x largest full data area + 32 MiB (old area, new area, its stream)\n",
      full_need / mib
    printf "  tool against the larger of the two: %s\n", (trss <= target ? "MET" : "MISSED")
    t2w = best(tool2_log, 1); t2c = best(tool2_log, 2); t2rss = worst(tool2_log, 3) * 1024
    v1 = best(verify1_log, 1); v2 = best(verify2_log, 1); p2 = best(plan2_log, 1)
    printf "Two threads (wall times, best of %d)\n", runs
    printf "  tool:     %7.2f s wall, %7.2f s CPU, peak %.1f MiB\n", t2w, t2c, t2rss / mib
    printf "  tool, 2 threads / 1 thread: %.2f (target: at most 0.60) %s\n", t2w / tw,
      (t2w / tw <= 0.6 ? "MET" : "MISSED")
    printf "  tool, 2 threads / baseline: %.2f (target: at most 0.60) %s\n", t2w / bw,
      (t2w / bw <= 0.6 ? "MET" : "MISSED")
    printf "  peak memory, 2 threads: %.1f MiB, %.2f x the 1-thread peak (targets: under 100 MiB, at most 2) %s\n",
      t2rss / mib, t2rss / trss, (t2rss < 100 * mib && t2rss <= 2 * trss ? "MET" : "MISSED")
    printf "  verify:   %7.2f s on 1 thread, %7.2f s on 2: %.2f x as fast (target: at least 1.70) %s\n",
      v1, v2, v1 / v2, (v1 / v2 >= 1.7 ? "MET" : "MISSED")
    printf "  plan, 2 threads / the 1-thread run: %.2f (%.2f s; target: at most 0.60) %s\n",
      p2 / tw, p2, (p2 / tw <= 0.6 ? "MET" : "MISSED")
    u1 = best(unpack1_log, 1); u2 = best(unpack2_log, 1)
    u1c = best(unpack1_log, 2); u2c = best(unpack2_log, 2)
    v1c = best(verify1_log, 2); v2c = best(verify2_log, 2)
    printf "Unpack: %d files, %.1f MiB written (wall and CPU times, best of %d)\n", unpacked_files,
      unpacked_bytes / mib, runs
    printf "  1 thread:  unpack %6.2f s, %6.2f s CPU; verify %6.2f s, %6.2f s CPU: %.2f wall, %.2f CPU (target: at most 1.50 wall) %s\n",
      u1, u1c, v1, v1c, u1 / v1, u1c / v1c, (u1 / v1 <= 1.5 ? "MET" : "MISSED")
    printf "  2 threads: unpack %6.2f s, %6.2f s CPU; verify %6.2f s, %6.2f s CPU: %.2f wall, %.2f CPU (target: at most 1.50 wall) %s\n",
      u2, u2c, v2, v2c, u2 / v2, u2c / v2c, (u2 / v2 <= 1.5 ? "MET" : "MISSED")
    h1 = best(harvest1_log, 1); h2 = best(harvest2_log, 1)
    h1c = best(harvest1_log, 2)
    printf "  names harvest: %7.2f s on 1 thread, %7.2f s on 2\n", h1, h2
    printf "  names harvest / verify, 1 thread: %.2f wall, %.2f CPU (target: at most 1.30) %s\n",
      h1 / v1, h1c / v1c, (h1 / v1 <= 1.3 ? "MET" : "MISSED")
    printf "  names harvest / verify, 2 threads: %.2f wall (target: at most 1.30) %s\n",
      h2 / v2, (h2 / v2 <= 1.3 ? "MET" : "MISSED")
  }'
echo
echo "Raw measurements (wall s, CPU s, peak RSS KiB, load average at the start), one per run:"
sed 's/^/  tool      /' "$tool_log"
sed 's/^/  tool (2)  /' "$tool2_log"
sed 's/^/  baseline  /' "$base_log"
sed 's/^/  verify(1) /' "$verify1_log"
sed 's/^/  verify(2) /' "$verify2_log"
sed 's/^/  plan (2)  /' "$plan2_log"
sed 's/^/  unpack(1) /' "$unpack1_log"
sed 's/^/  unpack(2) /' "$unpack2_log"
sed 's/^/  harvest(1) /' "$harvest1_log"
sed 's/^/  harvest(2) /' "$harvest2_log"
