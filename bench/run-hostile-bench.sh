#!/usr/bin/env bash
# The service under hostile clients, each figure against a freshly started service on port 9199
# with the sample SDK beside it:
#   flood     one connection writes --frames heartbeats without reading while a second one sends
#             --probes heartbeats 100 ms apart; then the first reads every answer
#   big-body  -c connections each announce a body of 0x7FFFFFFF bytes and send --body-mib MiB of it
# Each line gives the service's resident memory when idle, at its peak (VmHWM) and at the end,
# the receive-limit lines in its log, and the load generator's summary.
#
# usage: bench/run-hostile-bench.sh [--wine] [--exe PATH] [--only flood|big-body] [--frames N]
#                                   [--probes N] [-c N] [--body-mib N]
#   --exe   another build of the service to measure (its SDK library must lie beside it), e.g. the
#           release build of an older commit in a second worktree
#   --wine  runs the Windows build (build/mingw/bin/QolvPrinterProxy.exe) as a service of Wine's
#           service manager; the Linux load generator drives it over loopback
# Needs: cmake --build --preset release --target qolv-loadgen QolvPrinterProxy QolvTovuWindowsSDK
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/bench-lib.sh

PORT=9199
SERVICE=QolvTovuPP
EXE=""
WINE=0
ONLY=""
FRAMES=1000000
PROBES=20
CONNECTIONS=200
BODY_MIB=60
while [ $# -gt 0 ]; do
  case "$1" in
    --exe) EXE=$2; shift ;;
    --wine) WINE=1 ;;
    --only) ONLY=$2; shift ;;
    --frames) FRAMES=$2; shift ;;
    --probes) PROBES=$2; shift ;;
    -c) CONNECTIONS=$2; shift ;;
    --body-mib) BODY_MIB=$2; shift ;;
    *) fail "unknown argument $1 (see the head of $0)" ;;
  esac
  shift
done

LOADGEN=build/release/bin/qolv-loadgen
[ -x "$LOADGEN" ] || fail "$LOADGEN is not built: cmake --preset release && cmake --build --preset release --target qolv-loadgen"
if [ "$WINE" = 1 ]; then
  EXE=${EXE:-build/mingw/bin/QolvPrinterProxy.exe}
  SDK=$(dirname "$EXE")/QolvTovuWindowsSDK.dll
else
  EXE=${EXE:-build/release/bin/QolvPrinterProxy}
  SDK=$(dirname "$EXE")/QolvTovuWindowsSDK.so
fi
[ -f "$EXE" ] || fail "the service executable $EXE is not built"
[ -f "$SDK" ] || fail "the sample SDK is not beside $EXE"
port_open "$PORT" && fail "port $PORT on 127.0.0.1 is in use already; stop that server first"
LOG_DIR=$(dirname "$EXE")/log

mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
peak_kb() { awk '/^VmHWM:/ { print $2 }' "/proc/$1/status"; }
# The service's receive-limit lines in its log folder so far.
limit_lines() { cat "$LOG_DIR"/*.log 2>/dev/null | grep -c 'buffer limit exceeded' || true; }

# The Windows service's process: the one of that name running in this worktree's Wine prefix.
wine_service_pid() {
  local pid
  for pid in $(pgrep -x QolvPrinterProx); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && { echo "$pid"; return 0; }
  done
  return 1
}

SERVICE_PID=
start_service() {
  if [ "$WINE" = 1 ]; then
    wine sc start "$SERVICE" >>build/bench-hostile.log 2>&1 || fail "the service did not start (see build/bench-hostile.log)"
    wait_listening "$PORT" "" 60 || fail "the service does not listen on 127.0.0.1:$PORT"
    SERVICE_PID=$(wine_service_pid) || fail "the service's process was not found"
  else
    taskset -c "$SERVER_CORE" "$EXE" >>build/bench-hostile.log 2>&1 &
    SERVICE_PID=$!
    track "$SERVICE_PID"
    wait_listening "$PORT" "$SERVICE_PID" 60 || fail "the service does not listen on 127.0.0.1:$PORT (see build/bench-hostile.log)"
  fi
}

stop_service() {
  if [ "$WINE" = 1 ]; then
    wine sc stop "$SERVICE" >>build/bench-hostile.log 2>&1 || true
    for (( i = 0; i < 300; i++ )); do kill -0 "$SERVICE_PID" 2>/dev/null || break; sleep 0.1; done
  else
    stop_pid "$SERVICE_PID"
    STARTED_PIDS=()
  fi
}

# measure NAME LOADGEN-ARGS...: one figure against a fresh service.
measure() {
  local name=$1
  shift
  local lines_before idle line peak end
  lines_before=$(limit_lines)
  start_service
  idle=$(rss_kb "$SERVICE_PID")
  line=$(taskset -c "$LOADGEN_CORE" "$LOADGEN" --port "$PORT" "$@") || true
  [ -n "$line" ] || fail "the load generator printed nothing for $name"
  peak=$(peak_kb "$SERVICE_PID")
  end=$(rss_kb "$SERVICE_PID")
  stop_service
  echo "$name idle_rss_mb=$(mb "$idle") peak_rss_mb=$(mb "$peak") end_rss_mb=$(mb "$end")" \
       "limit_lines=$(( $(limit_lines) - lines_before )) $line"
}

: >build/bench-hostile.log
if [ "$WINE" = 1 ]; then
  use_wine
  # A console program cannot be the service itself: Wine's service manager starts it.
  wine "$EXE" -install >>build/bench-hostile.log 2>&1 || fail "installing the service failed (see build/bench-hostile.log)"
  on_cleanup "wine sc stop $SERVICE >/dev/null 2>&1; sleep 2; wine '$EXE' -remove >>build/bench-hostile.log 2>&1"
  note "under Wine the service manager starts the service, so it is not pinned to a core"
fi

note "service: $EXE"
if [ -z "$ONLY" ] || [ "$ONLY" = flood ]; then
  measure flood --mode flood --frames "$FRAMES" --probes "$PROBES"
fi
if [ -z "$ONLY" ] || [ "$ONLY" = big-body ]; then
  measure big-body --mode big-body -c "$CONNECTIONS" --body-mib "$BODY_MIB" --duration 600 --drain 2
fi
