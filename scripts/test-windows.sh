#!/usr/bin/env bash
# Cross-builds the 32-bit Windows programs (build-win/Vintrel.exe, VintrelInspect.exe) and every
# test program with mingw-w64, and runs the tests under wine. Installs the cross toolchain and
# wine when missing.
#
# When wine cannot be installed or cannot run a Windows program, the program and the tests are
# still built (so that a compile break in the Windows build is caught) and the script says so
# loudly, then exits 0. It leaves the reason in build-win/windows-tests-skipped, which .ci/run
# reads: there a skip fails the run, unless the machine's kernel cannot run 32-bit x86 programs
# at all (the reason then begins "kernel:"), which no package can mend.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build-win
export WINEPREFIX="$PWD/$build_dir/wineprefix"
export WINEDEBUG=-all
# No Mono or Gecko: console programs need neither, and asking for them would stall a headless
# machine.
export WINEDLLOVERRIDES="mscoree,mshtml="

skip_reason=""
marker="$build_dir/windows-tests-skipped"
rm -f "$marker"
warn_skipped() {
  mkdir -p "$build_dir"
  echo "$1" >"$marker"
  cat >&2 <<EOF

##################################################################################
##
##  WINDOWS TESTS SKIPPED: $1
##
##  Vintrel.exe and the test programs were cross-built, but none of them was run.
##
##################################################################################

EOF
}

scripts/deps.sh cmake googletest g++-mingw-w64-i686-posix binutils-mingw-w64-i686 \
  libz-mingw-w64-dev

# wine's 32-bit loader is an i386 package.
if ! command -v wine >/dev/null 2>&1 || [ ! -x /usr/lib/wine/wine ]; then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386 || true
  fi
  if ! scripts/deps.sh wine wine32:i386; then
    skip_reason="wine could not be installed (apt-get install wine wine32:i386 failed)."
  fi
fi

jobs=$(nproc 2>/dev/null || echo 2)
# The toolchain is read when the build directory is first configured, and only then.
toolchain=()
[ -f "$build_dir/CMakeCache.txt" ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake)
cmake -S . -B "$build_dir" "${toolchain[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build_dir" -j "$jobs"

# The programs must run from their own directory alone: no DLL of the compiler's runtime or of zlib.
objdump=i686-w64-mingw32-objdump
for program in Vintrel.exe VintrelInspect.exe; do
  foreign=$($objdump -p "$build_dir/$program" | sed -n 's/^[[:space:]]*DLL Name: //p' |
    grep -viE '^(kernel32|msvcrt|advapi32|user32|shell32|ws2_32|ntdll)\.dll$' || true)
  if [ -n "$foreign" ]; then
    echo "$program needs DLLs that Windows does not have: $foreign" >&2
    exit 1
  fi
done

# wine's loader is a 32-bit x86 program; some kernels are built without the means to run one.
kernel_runs_32_bit() {
  local loader=/usr/lib/wine/wine
  [ -x "$loader" ] || return 0
  local output
  output=$("$loader" --version 2>&1 </dev/null)
  [ $? -ne 126 ] || ! grep -q "Exec format error" <<<"$output"
}

if [ -z "$skip_reason" ]; then
  if ! command -v wine >/dev/null 2>&1; then
    skip_reason="wine is not installed."
  elif ! kernel_runs_32_bit; then
    skip_reason="kernel: this machine's kernel cannot run 32-bit x86 programs (wine's loader fails with 'Exec format error')."
  elif ! usage=$(timeout 300 wine "$build_dir/Vintrel.exe" 2>/dev/null) ||
    [[ "$usage" != Usage:* ]]; then
    skip_reason="wine cannot run $build_dir/Vintrel.exe (see: wine $build_dir/Vintrel.exe)."
  fi
fi
if [ -n "$skip_reason" ]; then
  warn_skipped "$skip_reason"
  exit 0
fi

ctest --test-dir "$build_dir" --output-on-failure -j "$jobs"
