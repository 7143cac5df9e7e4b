# What the benchmark scripts share: their build, their scratch space and the synthetic game.
# Sourced by bench/run_bench.sh, bench/commit_cost.sh, bench/limits.sh and bench/page_bench.sh.

# bench_build NAME SOURCE BUILD OPTIONS TARGET...: a Release build of the tree SOURCE in BUILD,
# with the tests and the cmake OPTIONS (one word, or ""), of the targets named; its output goes to
# BUILD/NAME_build.log, whose end is shown when it fails, which ends the script.
bench_build() {
  local name="$1" source="$2" build="$3" options="$4"
  shift 4
  mkdir -p "$build"
  if ! { cmake -S "$source" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVINTREL_BUILD_TESTS=ON \
    ${options:+"$options"} && cmake --build "$build" --target "$@" -j2; } \
    >"$build/${name}_build.log" 2>&1; then
    tail -20 "$build/${name}_build.log" >&2
    echo "$name: the build failed; see $build/${name}_build.log" >&2
    exit 1
  fi
}

# bench_root NAME KEEP PARENT: sets root to KEEP, made if needed and kept, or without KEEP to a
# new directory in PARENT that is removed when the script ends.
bench_root() {
  if [ -n "$2" ]; then
    mkdir -p "$2"
    root=$(cd "$2" && pwd)
  else
    root=$(mktemp -d "$3/vintrel-$1.XXXXXX")
    trap 'rm -rf "$root"' EXIT
  fi
}

# bench_game MAKE_GAME BYTES SEED: sets game to the synthetic game of BYTES bytes (make_game bench)
# in root, written now unless an earlier run left it, and pristine to the copy of its untouched
# manifest.bin.
bench_game() {
  game="$root/game-$2-s$3"
  pristine="$root/game-$2-s$3.manifest"
  if [ ! -f "$pristine" ]; then
    rm -rf "$game"
    echo "Writing a synthetic game of $2 bytes (seed $3) to $game ..."
    "$1" bench "$game" --bytes "$2" --seed "$3"
    cp "$game/manifest.bin" "$pristine.part"
    mv "$pristine.part" "$pristine"
  else
    echo "Reusing the game in $game"
  fi
}
