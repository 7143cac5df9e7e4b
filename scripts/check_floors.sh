#!/usr/bin/env bash
# Checks the floors of the house: every file under src/ may include only headers of its own floor
# and of the floors below, product code never includes tests/, and "#ifdef _WIN32" appears only in
# the platform backends. The floors and their files come from the build (floors.txt, one line
# per file: "<floor library> <path> [test]", lowest floor first).
#   scripts/check_floors.sh build/floors.txt [source dir]
set -euo pipefail
map=${1:?usage: check_floors.sh floors.txt [source dir]}
root=${2:-$(dirname "$0")/..}
cd "$root"

declare -A floor_of rank_of test_file
rank=0
while read -r floor file kind; do
  [ -n "$floor" ] || continue
  if [ -z "${rank_of[$floor]+x}" ]; then
    rank_of[$floor]=$rank
    rank=$((rank + 1))
  fi
  floor_of[$file]=$floor
  [ "${kind:-}" = test ] && test_file[$file]=1
done <"$map"

failures=0
fail() {
  echo "$1" >&2
  failures=$((failures + 1))
}

for file in "${!floor_of[@]}"; do
  [ -f "$file" ] || { fail "$file: listed in the build but missing"; continue; }
  floor=${floor_of[$file]}
  while IFS= read -r line; do
    number=${line%%:*}
    included=$(sed -E 's/^[0-9]+:#include "([^"]+)".*/\1/' <<<"$line")
    case $included in
      tests/*)
        [ -n "${test_file[$file]+x}" ] ||
          fail "$file:$number: product code includes the tests' \"$included\""
        continue
        ;;
    esac
    target=src/$included
    if [ -z "${floor_of[$target]+x}" ]; then
      fail "$file:$number: \"$included\" belongs to no floor of the build"
    elif [ "${rank_of[${floor_of[$target]}]}" -gt "${rank_of[$floor]}" ]; then
      fail "$file:$number: \"$included\" reaches up from $floor to ${floor_of[$target]}"
    fi
  done < <(grep -nE '^#include "' "$file" || true)
done

# The platform seam is the one place that knows which system it runs on.
while IFS= read -r hit; do
  fail "$hit: only the platform backends may ask which system they are built for"
done < <(grep -rnE '^\s*#\s*(if|ifdef|ifndef|elif).*(_WIN32|__MINGW32__|_MSC_VER)' src tests fuzz bench \
  --include='*.cc' --include='*.h' | grep -vE '^src/base/platform_(posix|win32)\.cc:' || true)

if [ "$failures" -gt 0 ]; then
  echo "check_floors: $failures include(s) break the floors" >&2
  exit 1
fi
echo "check_floors: ${#floor_of[@]} files on $rank floors, every include points down"
