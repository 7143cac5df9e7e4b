#!/usr/bin/env bash
# Measures the textures the tool makes against libsquish's cluster fit on real photographs
# (Debian's plasma-workspace-wallpapers) and game art (wesnoth-1.16-data), and the time to make a
# 2048 x 2048 texture with its full mip chain (bench/texture_bench.cc says what is measured).
#
#   bench/texture_bench.sh [--runs R]
#
# Installs what it needs when missing (the two image packages, libsquish-dev, libstb-dev, a
# compiler and cmake), builds the Release target texture_bench in build-bench/, and prints one
# line per image and the timings. Fails when a PSNR falls more than 0.5 dB below libsquish's, the
# two decoders disagree, or the 2048 x 2048 texture takes 1 s or more.
set -euo pipefail

runs=5
if [ "${1:-}" = "--runs" ] && [ $# -ge 2 ]; then runs=$2; fi
case "$runs" in '' | *[!0-9]*) echo "usage: bench/texture_bench.sh [--runs R]" >&2; exit 2 ;; esac

repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build-bench"
"$repo/scripts/deps.sh" build-essential cmake zlib1g-dev libstb-dev libsquish-dev \
  libbenchmark-dev plasma-workspace-wallpapers wesnoth-1.16-data

mkdir -p "$build"
if ! { cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVINTREL_BUILD_BENCH=ON \
  -DVINTREL_BUILD_TESTS=OFF && cmake --build "$build" --target texture_bench -j2; } \
  >"$build/texture_bench_build.log" 2>&1; then
  tail -20 "$build/texture_bench_build.log" >&2
  echo "texture_bench: the build failed; see $build/texture_bench_build.log" >&2
  exit 1
fi

# Photographs (the wallpapers' photographs, not their drawings), then the game's paintings, its
# title screen and a portrait with alpha. The first is the one timed at 2048 x 2048.
walls=/usr/share/wallpapers
art=/usr/share/games/wesnoth/1.16/data/core/images
images=()
for name in Path BytheWater ColdRipple ColorfulCups EveningGlow FallenLeaf Grey Kite \
  OneStandsOut summer_1am; do
  images+=("$(find -L "$walls/$name/contents/images" -name '*.jpg' | sort | head -n 1)")
done
images+=("$art/story/landscape-castle.jpg" "$art/story/landscape-coast.jpg"
  "$art/story/swamp-01.jpg" "$art/maps/titlescreen.png" "$art/maps/background.jpg"
  "$art/portraits/monsters/sea-serpent.png")

echo "texture_bench on $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bench/texture_bench" --runs "$runs" "${images[@]}"
