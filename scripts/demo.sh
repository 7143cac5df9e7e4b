#!/usr/bin/env bash
# The tool's main job on the example data: builds it if needed, copies examples/game to a scratch
# directory, applies examples/mod to the copy and shows what changed. The repository's files are
# never written.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh build-essential cmake zlib1g-dev libgtest-dev libstb-dev
if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build --target vintrel_tool game_info -j "$(nproc 2>/dev/null || echo 2)" >/dev/null

scratch=$(mktemp -d "${TMPDIR:-/tmp}/vintrel-demo.XXXXXX")
cp -r examples/game "$scratch/game"
build/tests/game_info "$scratch/game" >"$scratch/before.txt"

echo "== vintrel examples/mod $scratch/game"
status=0
build/vintrel examples/mod "$scratch/game" "$scratch" || status=$?
echo "== exit status $status"
echo
echo "== files in the game directory (bytes):"
(cd "$scratch/game" && for f in *; do printf '  %-20s %8d\n' "$f" "$(stat -c %s "$f")"; done)
echo
echo "== what the game's manifest now says, against before (diff):"
build/tests/game_info "$scratch/game" >"$scratch/after.txt" || true
diff "$scratch/before.txt" "$scratch/after.txt" | sed 's/^/  /' || true
echo
echo "The scratch copy is kept in $scratch"
exit "$status"
