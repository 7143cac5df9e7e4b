#!/usr/bin/env bash
# Runs the README's five-minute tour exactly as written: every fenced block that directly follows
# a "<!-- tour -->" line, in order, as one bash script with -e, in a scratch directory that holds a
# copy of examples/ and with the programs of the build directory first on the PATH. The tour ends
# with a restore, after which its game, mygame, must be byte for byte the example game again. The
# user's own name lists are left out.
#   scripts/tour.sh [build dir] [--keep DIR] [--until TEXT]
#     build dir     default build/; it must hold vintrel and vintrel-inspect
#     --keep DIR    run in DIR (emptied first) instead of a scratch directory, and leave it there
#     --until TEXT  stop after the first block that holds TEXT, without the check at the end; a
#                   test takes what the tour has made to that point from DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
keep=
until=
while [ $# -gt 0 ]; do
  case "$1" in
    --keep) keep=${2:?--keep needs a directory}; shift 2 ;;
    --until) until=${2:?--until needs a text}; shift 2 ;;
    *) build=$1; shift ;;
  esac
done
build=$(cd "$build" && pwd)
for program in vintrel vintrel-inspect; do
  if [ ! -x "$build/$program" ]; then
    echo "tour: $build/$program is not built" >&2
    exit 1
  fi
done

if [ -n "$keep" ]; then
  rm -rf "$keep"
  mkdir -p "$keep"
  scratch=$(cd "$keep" && pwd)
else
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/vintrel-tour.XXXXXX")
  trap 'rm -rf "$scratch"' EXIT
fi
cp -r "$root/examples" "$scratch/examples"

# A block opens with the fence right after the marker and closes with the next fence.
awk -v until="$until" '
  /^<!-- tour -->$/ { marked = 1; next }
  marked && /^```/ { inside = 1; marked = 0; next }
  inside && /^```/ { inside = 0; print ""; if (last) exit; next }
  inside { if (until != "" && index($0, until)) last = 1; print; next }
  { marked = 0 }
' "$root/README.md" >"$scratch/tour.sh"
if [ ! -s "$scratch/tour.sh" ]; then
  echo "tour: README.md has no block marked <!-- tour -->" >&2
  exit 1
fi

cd "$scratch"
# The user's own name lists would show in the tour's reports: the tour gives the programs a data
# folder of its own, which holds none.
XDG_DATA_HOME="$scratch/data" PATH="$build:$PATH" bash -euo pipefail -x tour.sh
if [ -n "$until" ]; then
  echo "tour: ran the README's tour up to the block that holds \"$until\" in $scratch"
  exit 0
fi
if ! diff -r examples/game mygame; then
  echo "tour: mygame does not end as examples/game" >&2
  exit 1
fi
echo "tour: every command of the README's tour ran, and mygame ends as it began"
