#!/usr/bin/env bash
# Builds and runs every test suite: the Linux debug build, the sanitizer builds, and the
# Windows build under Wine. Stages may be named on the command line (default: all of them).
set -euo pipefail
cd "$(dirname "$0")/.."

stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(linux asan tsan windows)
jobs=$(nproc)

build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
}

stage_linux() {
  build debug
  ctest --preset debug -j "$jobs"
}

# The sanitizer builds run the unit, socket and stress suites; end-to-end runs stay in the plain build.
stage_asan() {
  build asan
  ctest --preset asan -j "$jobs" -LE e2e
}

stage_tsan() {
  build tsan
  ctest --preset tsan -j "$jobs" -LE e2e
}

stage_windows() {
  export WINEPREFIX="$PWD/build/wine-prefix" WINEARCH=win64 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
  unset DISPLAY WAYLAND_DISPLAY
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  # One wine server for all test programs; without it every program pays its start-up again.
  wineserver -p
  trap 'wineserver -k 2>/dev/null || true' EXIT
  # Start the prefix's background services now, detached from any pipe: started by the first
  # test program they would inherit ctest's output pipe and hold it open until the server ends,
  # so test discovery would wait for its timeout.
  wineboot >/dev/null 2>&1 </dev/null
  build mingw
  ctest --preset mingw -j "$jobs"
}

for stage in "${stages[@]}"; do
  echo "=== test stage: $stage"
  start=$(date +%s)
  "stage_$stage"
  echo "=== test stage $stage passed in $(( $(date +%s) - start )) s"
done
