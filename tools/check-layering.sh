#!/usr/bin/env bash
# Checks the house's layering rules on every C++ file, and names each offending file and line:
#  - only src/platform/ includes OS headers or tests for the OS in #if (the sample SDK's own
#    per-OS folders and its C interface header aside, and the bare epoll reference server of the
#    benchmarks, whose point is to be nothing but the OS's own calls);
#  - platform/posix/ and platform/win32/ are included only from within themselves;
#  - a room of src/ includes only rooms below it: platform < log < net < protocol < request
#    < service; no include climbs out with "..";
#  - src/ uses no lock type that the mingw-w64 runtime never destroys (std::recursive_mutex and
#    the shared mutexes): each one that was ever contended keeps a kernel handle after its end.
# Which rooms a library, a tool or a test may reach at all is what it links: each library exports
# only its own room (cmake/QolvTargets.cmake), so the compiler refuses the rest.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(find src tests bench tools sdk -type f \( -name '*.h' -o -name '*.cpp' \) | LC_ALL=C sort)

awk -v order="platform log net protocol request service" '
BEGIN {
  count = split(order, rooms, " ")
  for (i = 1; i <= count; i++) rank[rooms[i]] = i
  failures = 0
}

function fail(message) {
  printf "%s:%d: %s\n", FILENAME, FNR, message
  failures++
}

# Headers that are no OS header: the C++ standard library (no dot, no folder), the C headers a
# C interface needs, and the third-party libraries the build provides.
function is_os_header(name) {
  if (name !~ /[.\/]/) return 0
  if (name ~ /^(stdbool|stddef|stdint)\.h$/) return 0
  if (name ~ /^(gtest|gmock|rapidjson|benchmark|boost)\//) return 0
  if (name == "uv.h") return 0  # libuv, for the libuv reference server of the benchmarks
  return 1
}

FNR == 1 {
  room = ""
  if (FILENAME ~ /^src\/[^\/]+\//) {
    split(FILENAME, parts, "/")
    room = parts[2]
    if (!(room in rank)) fail("src/" room "/ is no known room; give it its place in tools/check-layering.sh")
  }
  os_allowed = FILENAME ~ /^(src\/platform|sdk\/posix|sdk\/win32|bench\/epoll_frame_server)\//
  os_test_allowed = FILENAME ~ /^src\/platform\// || FILENAME == "sdk/qolv_tovu_sdk.h"
}

/^[ \t]*#[ \t]*include[ \t]*</ {
  name = $0
  sub(/^[^<]*</, "", name)
  sub(/>.*$/, "", name)
  if (!os_allowed && is_os_header(name)) fail("OS header <" name "> outside src/platform/")
  next
}

/^[ \t]*#[ \t]*include[ \t]*"/ {
  name = $0
  sub(/^[^"]*"/, "", name)
  sub(/".*$/, "", name)
  if (name ~ /(^|\/)\.\.\//) fail("include \"" name "\" climbs out of its folder")
  if (name ~ /^platform\/posix\// && FILENAME !~ /^src\/platform\/posix\//)
    fail("include \"" name "\": platform/posix/ is private to itself")
  if (name ~ /^platform\/win32\// && FILENAME !~ /^src\/platform\/win32\//)
    fail("include \"" name "\": platform/win32/ is private to itself")
  if (room in rank && name ~ /\//) {
    target = name
    sub(/\/.*$/, "", target)
    if (target in rank && rank[target] > rank[room])
      fail("upward include \"" name "\": " room "/ lies below " target "/")
  }
  next
}

FILENAME ~ /^src\// && $0 !~ /^[ \t]*\/\// && $0 ~ /std::(recursive_mutex|recursive_timed_mutex|shared_mutex|shared_timed_mutex)/ {
  fail("a lock the mingw runtime never destroys leaks a handle once contended; use net/recursive_lock.h or std::mutex")
}

/^[ \t]*#[ \t]*(if|ifdef|ifndef|elif)[ \t(]/ {
  if (!os_test_allowed && $0 ~ /(_WIN32|_WIN64|WIN32|__linux__|__unix__|__APPLE__|_MSC_VER|__MINGW32__|__MINGW64__|__CYGWIN__)/)
    fail("test for the OS outside src/platform/: " $0)
}

END {
  if (failures > 0) {
    printf "layering: %d violation(s)\n", failures
    exit 1
  }
  printf "layering: %d files follow the rules\n", ARGC - 1
}
' "${files[@]}"
