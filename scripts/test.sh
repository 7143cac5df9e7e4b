#!/usr/bin/env bash
# Installs what the build needs (when missing), configures, builds and runs every test.
#   scripts/test.sh              native build in build/, the README's tour (scripts/tour.sh) and
#                                the .deb, then the Windows build in build-win/
#                                (scripts/test-windows.sh) and its ZIP (scripts/check-packages.sh)
#   scripts/test.sh --sanitize   the same with AddressSanitizer and UndefinedBehaviorSanitizer,
#                                in build-asan/; any sanitizer report fails a test
#   scripts/test.sh --threads    ThreadSanitizer, in build-tsan/, over the test programs that
#                                start threads (base, manifest, end to end) but for the one-thread
#                                fault sweeps and crash-state replays (which it makes slow); any
#                                report fails a test
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
cmake_args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
build_args=()
ctest_args=()
if [ "${1:-}" = "--threads" ]; then
  build_dir=build-tsan
  cmake_args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVINTREL_SANITIZE_THREADS=ON)
  # A report ends the process with status 66, which no test accepts.
  export TSAN_OPTIONS="halt_on_error=1:exitcode=66"
  build_args=(--target vintrel_tool vintrel_inspect_tool base_tests manifest_tests e2e_tests)
  # The programs not built register as NAME_NOT_BUILT; the sample HTML page and its browser test
  # start no thread of their own; the crash states are replayed on one thread.
  ctest_args=(-E "NOT_BUILT|FaultInjection\.(Later|First|Full)|^html_|CrashStates\.")
fi
if [ "${1:-}" = "--sanitize" ]; then
  build_dir=build-asan
  cmake_args=(-DCMAKE_BUILD_TYPE=Debug -DVINTREL_SANITIZE=ON)
  # A report aborts the process: the end-to-end tests see a signal, never an exit status of 1
  # that a failure case would accept.
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:abort_on_error=1"
  export LSAN_OPTIONS="abort_on_error=1"
fi

# The browser test renders an HTML page in headless Chromium, driven by a Python script.
scripts/deps.sh build-essential cmake zlib1g-dev libgtest-dev libstb-dev chromium chromium-driver python3

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build_dir" "${cmake_args[@]}"
cmake --build "$build_dir" -j "$jobs" "${build_args[@]}"
ctest --test-dir "$build_dir" --output-on-failure -j "$jobs" "${ctest_args[@]}"

# Then the README's tour and the .deb; the 32-bit Windows build, cross-compiled and tested under
# wine, and its ZIP. The sanitizer run is native only.
if [ "$build_dir" = build ]; then
  scripts/tour.sh build >/dev/null
  scripts/check-packages.sh deb build
  scripts/test-windows.sh
  scripts/check-packages.sh zip build-win
fi
