#!/usr/bin/env bash
# Times vintrel-inspect plan --html on a mod of 2,000 real textures on a generated game, and
# checks the page's size: at most 40 KiB a texture.
#
#   bench/page_bench.sh [--textures N] [--seed S] [--keep DIR] [--runs R]
#
#   --textures N  textures in the game and the mod (default 2000)
#   --seed S      seed of the textures (default 1)
#   --keep DIR    keep the game and the mod in DIR (created if needed) and reuse them on later runs
#                 with the same count and seed; without it they are made in a scratch directory
#                 that is removed at the end
#   --runs R      measured runs of each command (default 3); the best one is reported
#
# Installs what it needs when missing, builds the Release targets vintrel_inspect_tool and
# page_bench in build-bench/, and makes the game and the mod (page_bench make: 50 textures a
# package, 256 x 256 to 1024 x 1024, DXT1 and DXT5 with their mip chains, 1.5 GB of DDS in all).
# Then, the files in the page cache (one unmeasured run of each first), it runs plan without and
# with --html alternately R times, with the default threads, and prints every run's wall and CPU
# time and the machine's load. The difference of the two is the page's own cost. Last it
# measures the page (page_bench measure: bytes a texture, images, their sides). Fails when the
# best run of plan --html takes 10 s or more, or the page more than 40 KiB a texture.
set -euo pipefail

usage() {
  sed -n '5,12p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
}

textures=2000
seed=1
keep=""
runs=3
while [ $# -gt 0 ]; do
  case "$1" in
    --textures) [ $# -ge 2 ] || usage; textures="$2"; shift 2 ;;
    --seed) [ $# -ge 2 ] || usage; seed="$2"; shift 2 ;;
    --keep) [ $# -ge 2 ] || usage; keep="$2"; shift 2 ;;
    --runs) [ $# -ge 2 ] || usage; runs="$2"; shift 2 ;;
    *) usage ;;
  esac
done
case "$textures$seed$runs" in *[!0-9]*) usage ;; esac
[ "$textures" -gt 0 ] && [ "$runs" -gt 0 ] || usage

repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build-bench"
. "$repo/bench/lib.sh"

"$repo/scripts/deps.sh" time cmake build-essential zlib1g-dev libgtest-dev libbenchmark-dev \
  libstb-dev
bench_build page_bench "$repo" "$build" -DVINTREL_BUILD_BENCH=ON vintrel_inspect_tool page_bench
inspect="$build/vintrel-inspect"
page_bench="$build/bench/page_bench"

# The textures take 1.5 GB: on the repository's disk unless TMPDIR is on it too.
parent="${TMPDIR:-/tmp}"
if [ "$(stat -f -c %T "$parent")" = "tmpfs" ] ||
  [ "$(stat -c %d "$parent")" != "$(stat -c %d "$repo")" ]; then
  parent="$build"
fi
bench_root page "$keep" "$parent"
data="$root/textures-$textures-s$seed"
if [ ! -f "$data/mod/vintrel.json" ]; then
  rm -rf "$data"
  echo "Making $textures textures (seed $seed) in $data ..."
  "$page_bench" make "$data.part" --textures "$textures" --seed "$seed"
  mv "$data.part" "$data"
else
  echo "Reusing the textures in $data"
fi
# The user's own name lists would be read too: an empty folder of the bench's own.
export XDG_DATA_HOME="$root/data"
page="$root/page.html"

# run NAME ARGS...: one run of vintrel-inspect; prints its wall and CPU seconds.
run() {
  local name="$1" times="$root/times"
  shift
  if ! /usr/bin/time -f "%e %U %S" -o "$times" "$inspect" "$@" >"$root/out.txt" 2>"$root/err.txt"; then
    # A plan that finds a run would fail exits 1; anything else is the bench's failure.
    grep -q '^a run would fail' "$root/out.txt" || { cat "$root/err.txt" >&2; exit 1; }
  fi
  read -r wall user sys <"$times"
  printf '%-14s wall %6.2f s  cpu %6.2f s (user %.2f, system %.2f)  load %s\n' "$name" "$wall" \
    "$(awk "BEGIN { print $user + $sys }")" "$user" "$sys" "$(cut -d' ' -f1-3 /proc/loadavg)"
  echo "$wall" >>"$root/$name.walls"
}

echo "page_bench on $(nproc) cores, default threads"
rm -f "$root"/*.walls
run warm-up plan "$data/mod" "$data/game" >/dev/null
run warm-up plan "$data/mod" "$data/game" --html "$page" >/dev/null
for _ in $(seq "$runs"); do
  run plan plan "$data/mod" "$data/game"
  run plan--html plan "$data/mod" "$data/game" --html "$page"
done
best() { sort -n "$root/$1.walls" | head -n 1; }
echo "best wall: plan $(best plan) s, plan --html $(best plan--html) s"
"$page_bench" measure "$page" "$textures"
if awk "BEGIN { exit !($(best plan--html) >= 10) }"; then
  echo "page_bench: plan --html took $(best plan--html) s, 10 s or more" >&2
  exit 1
fi
