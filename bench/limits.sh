#!/usr/bin/env bash
# Runs the tool at the limits that the package format's 32-bit fields set, on copies of the
# example game, and checks that each run fails cleanly: exit status 1, nothing on standard output
# but the progress line of the package it was rewriting, every file of the game directory byte
# for byte as before (the back-up origmanifest.bin that a first run makes aside, which must equal
# manifest.bin), and no temporary file left.
#
#   bench/limits.sh [--keep DIR]
#
#   --keep DIR  work in DIR (created if needed) and leave it; otherwise a scratch directory on
#               the repository's disk is used and removed at the end
#
# The replacing files are sparse, so they take no disk space, but the tool reads them: the last
# two cases hold up to 5 GiB in memory and write up to 2.5 GiB to the temporary file.
#
# Cases:
#   rawSize       a replacing file of 4 GiB: an entry's u32 rawSize cannot hold its size
#   full area     two entries of a full package replaced by 2.5 GiB each: the one block's u32
#                 raw size cannot hold the new data area
#   split area    two entries of a split package replaced by 2.5 GiB each: the second block
#                 would start beyond what a u32 EntryLocation can address
set -euo pipefail

keep=""
while [ $# -gt 0 ]; do
  case "$1" in
    --keep) [ $# -ge 2 ] || { sed -n '5,9p' "$0"; exit 2; }; keep="$2"; shift 2 ;;
    *) sed -n '5,9p' "$0"; exit 2 ;;
  esac
done

repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build-bench"
. "$repo/bench/lib.sh"
"$repo/scripts/deps.sh" time cmake build-essential zlib1g-dev libgtest-dev libstb-dev
bench_build limits "$repo" "$build" "" vintrel_tool make_game
tool="$build/vintrel"

bench_root limits "$keep" "$build"

"$build/tests/make_game" example "$root/pristine" >/dev/null
mod="$root/mod"
mkdir -p "$mod" "$root/temp"
truncate -s 4G "$mod/4g.bin"
truncate -s 2560M "$mod/a.bin" "$mod/b.bin"
printf 'meta' >"$mod/hero.meta"

# run_case NAME PACKAGE FILES_JSON [KIND]: one run on a fresh copy of the game, which fails while
# it rewrites PACKAGE, a full package unless KIND says split.
failures=0
run_case() {
  local name="$1" package="$2" files="$3" game="$root/game"
  rm -rf "$game" "$root/temp"/*
  cp -r "$root/pristine" "$game"
  printf '{ "upak": "limits", "files": [ %s ] }\n' "$files" >"$mod/vintrel.json"
  local before after status=0
  before=$(cd "$game" && md5sum -- * | sort)
  /usr/bin/time -f '%e s, peak %M KiB' -o "$root/time.txt" \
    "$tool" "$mod" "$game" "$root/temp" >"$root/stdout.txt" 2>&1 || status=$?
  local verdict="failed cleanly"
  if [ -f "$game/origmanifest.bin" ]; then
    cmp -s "$game/origmanifest.bin" "$game/manifest.bin" || verdict="THE BACK-UP DIFFERS"
    rm "$game/origmanifest.bin"
  fi
  after=$(cd "$game" && md5sum -- * | sort)
  printf '%-11s exit %d, %s\n' "$name" "$status" "$(tail -1 "$root/time.txt")"
  sed 's/^/            output: /' "$root/stdout.txt"
  if [ "$status" -ne 1 ]; then verdict="WRONG EXIT STATUS"; fi
  if [ "$(cat "$root/stdout.txt")" != "Updating files in package \"$package\" (${4:-full} compress)." ]; then
    verdict="UNEXPECTED OUTPUT"
  fi
  if [ "$before" != "$after" ]; then verdict="THE GAME DIRECTORY CHANGED"; fi
  if [ -n "$(ls -A "$root/temp")" ]; then verdict="THE TEMPORARY FILE WAS LEFT"; fi
  echo "            -> $verdict"
  [ "$verdict" = "failed cleanly" ] || failures=$((failures + 1))
}

run_case "rawSize" world_full \
  '{ "name": "terrain", "ext": "bin", "src": "4g.bin" }'
run_case "full area" patch_full \
  '{ "name": "notes", "ext": "txt", "src": "a.bin" },
   { "name": "hero", "ext": "dds", "src": "b.bin", "pkg": "patch_full", "meta": "hero.meta" }'
run_case "split area" ui_common \
  '{ "name": "menu", "ext": "txt", "src": "a.bin" },
   { "name": "layout", "ext": "bin", "src": "b.bin" }' split

if [ "$failures" -ne 0 ]; then
  echo "limits: $failures case(s) did not fail cleanly" >&2
  exit 1
fi
echo "limits: every case failed cleanly"
