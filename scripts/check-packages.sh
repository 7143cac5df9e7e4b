#!/usr/bin/env bash
# Makes the package of a build directory with cpack and checks that it holds exactly what users
# must get, and that its programs run; lintian must find no error and no warning in the .deb.
#   scripts/check-packages.sh deb [build dir]   the .deb of the native build (default build/)
#   scripts/check-packages.sh zip [build dir]   the ZIP of the Windows cross build (default
#                                               build-win/)
set -euo pipefail
cd "$(dirname "$0")/.."

kind=${1:?usage: check-packages.sh deb|zip [build dir]}
examples=(
  examples/README.md examples/names.txt
  examples/game/data0.upak examples/game/data1.upak examples/game/manifest.bin
  examples/game/patch.upak
  examples/mod/hero.dds examples/mod/menu.meta examples/mod/menu.txt examples/mod/strings.loc
  examples/mod/vintrel.json
  examples/mod2/menu.txt examples/mod2/notes.txt examples/mod2/vintrel.json
)
case $kind in
  deb)
    build_dir=${2:-build}
    # cpack's DEB generator needs file and dpkg-shlibdeps (dpkg-dev); then lintian checks the .deb.
    scripts/deps.sh dpkg-dev file lintian
    expected=(usr/bin/vintrel usr/bin/vintrel-inspect
      usr/share/doc/vintrel/README.md usr/share/doc/vintrel/changelog.gz
      usr/share/doc/vintrel/copyright
      usr/share/man/man1/vintrel.1.gz usr/share/man/man1/vintrel-inspect.1.gz
      usr/share/lintian/overrides/vintrel
      "${examples[@]/#/usr/share/vintrel/}")
    ;;
  zip)
    build_dir=${2:-build-win}
    scripts/deps.sh unzip
    expected=(Vintrel.exe VintrelInspect.exe README.md LICENSE.txt "${examples[@]}")
    ;;
  *)
    echo "usage: check-packages.sh deb|zip [build dir]" >&2
    exit 2
    ;;
esac

rm -rf "$build_dir/packages"
if ! log=$(cd "$build_dir" && cpack 2>&1); then
  echo "$log" >&2
  exit 1
fi
shopt -s nullglob
packages=("$build_dir"/packages/*."$kind")
if [ ${#packages[@]} -ne 1 ]; then
  echo "check-packages: expected one .$kind in $build_dir/packages, found ${#packages[@]}" >&2
  exit 1
fi
package=${packages[0]}

# The files of the package, without directories, relative to its root.
if [ "$kind" = deb ]; then
  listed=$(dpkg-deb --fsys-tarfile "$package" | tar -t | sed -e 's|^\./||' -e '/\/$/d' | sort)
else
  # Everything lies in one top directory named after the package.
  top=$(basename "$package" .zip)
  listed=$(unzip -Z1 "$package" | sed -e '/\/$/d' | sed -e "s|^$top/||" | sort)
  if unzip -Z1 "$package" | grep -v "^$top/"; then
    echo "check-packages: $package has entries outside $top/" >&2
    exit 1
  fi
fi
wanted=$(printf '%s\n' "${expected[@]}" | sort)
if [ "$listed" != "$wanted" ]; then
  echo "check-packages: $package does not hold what it should (< missing, > extra):" >&2
  diff <(echo "$wanted") <(echo "$listed") >&2 || true
  exit 1
fi

# Debian's own checks of the .deb: any error or warning fails, and what lintian only reports for
# information is shown. Its standard error is shown only when it cannot check the package at all,
# since as root it says there that it should not be run as root.
if [ "$kind" = deb ]; then
  lintian_log=$(mktemp "${TMPDIR:-/tmp}/vintrel-lintian.XXXXXX")
  if ! findings=$(lintian --fail-on none --display-info "$package" 2>"$lintian_log"); then
    cat "$lintian_log" >&2
    rm -f "$lintian_log"
    echo "check-packages: lintian could not check $package" >&2
    exit 1
  fi
  rm -f "$lintian_log"
  if grep -q '^[EW]: ' <<<"$findings"; then
    echo "check-packages: lintian finds errors or warnings in $package:" >&2
    echo "$findings" >&2
    exit 1
  fi
  if [ -n "$findings" ]; then
    echo "check-packages: lintian says of $package, for information:" >&2
    echo "$findings" >&2
  fi
fi

# The programs run from the unpacked package alone (the Windows ones: they need no DLL beside
# them, which test-windows.sh checks of the build; here, that they are 32-bit console programs).
scratch=$(mktemp -d "${TMPDIR:-/tmp}/vintrel-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
if [ "$kind" = deb ]; then
  dpkg-deb -x "$package" "$scratch"
  for program in vintrel vintrel-inspect; do
    [ -x "$scratch/usr/bin/$program" ] || { echo "check-packages: $program is not executable" >&2; exit 1; }
  done
  "$scratch/usr/bin/vintrel-inspect" --version >/dev/null
  "$scratch/usr/bin/vintrel-inspect" verify "$scratch/usr/share/vintrel/examples/game" >/dev/null
  for field in Package Version Depends; do
    [ -n "$(dpkg-deb -f "$package" "$field")" ] ||
      { echo "check-packages: $package has no $field" >&2; exit 1; }
  done
else
  unzip -q "$package" -d "$scratch"
  for program in Vintrel.exe VintrelInspect.exe; do
    format=$(i686-w64-mingw32-objdump -f "$scratch/$top/$program" | sed -n 's/.*file format //p')
    if [ "$format" != pei-i386 ]; then
      echo "check-packages: $program is $format, not a 32-bit Windows program" >&2
      exit 1
    fi
  done
fi
echo "check-packages: $package holds the ${#expected[@]} files it should"
