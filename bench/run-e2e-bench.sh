#!/usr/bin/env bash
# The whole service under load: requests per second and latency of request frames against the
# real executable on port 9199 with the sample SDK beside it, at (C=1, P=1) and (C=64, P=16).
# The same run measures the real length of a 1 ms sleep here, which bounds what four task
# workers that sleep 1 ms between polls can take: 4 / mean sleep requests per second.
#
# usage: bench/run-e2e-bench.sh [--wine] [--duration S] [--warmup S] [--body JSON]
#   --wine  runs the Windows build (build/mingw/bin/QolvPrinterProxy.exe) as a service of Wine's
#           service manager; the Linux load generator drives it over loopback.
# Needs: cmake --build --preset release --target qolv-loadgen sleep_probe QolvPrinterProxy QolvTovuWindowsSDK
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/bench-lib.sh

PORT=9199
SERVICE=QolvTovuPP
DURATION=5
WARMUP=1
BODY='{"action":"printer.list","param":""}'
WINE=0
while [ $# -gt 0 ]; do
  case "$1" in
    --wine) WINE=1 ;;
    --duration) DURATION=$2; shift ;;
    --warmup) WARMUP=$2; shift ;;
    --body) BODY=$2; shift ;;
    *) fail "unknown argument $1 (see the head of $0)" ;;
  esac
  shift
done

LOADGEN=build/release/bin/qolv-loadgen
[ -x "$LOADGEN" ] || fail "$LOADGEN is not built: cmake --preset release && cmake --build --preset release --target qolv-loadgen sleep_probe"
if [ "$WINE" = 1 ]; then
  DIR=build/mingw/bin
  EXE=$DIR/QolvPrinterProxy.exe
  SDK=$DIR/QolvTovuWindowsSDK.dll
  PROBE=$DIR/sleep_probe.exe
else
  DIR=build/release/bin
  EXE=$DIR/QolvPrinterProxy
  SDK=$DIR/QolvTovuWindowsSDK.so
  PROBE=$DIR/sleep_probe
fi
if [ ! -f "$EXE" ]; then
  echo "skipped: the service executable is not built yet ($EXE)"
  exit 0
fi
[ -f "$SDK" ] || fail "the sample SDK is not beside the executable ($SDK)"
[ -f "$PROBE" ] || fail "the sleep probe is not built ($PROBE)"
port_open "$PORT" && fail "port $PORT on 127.0.0.1 is in use already; stop that server first"

if [ "$WINE" = 1 ]; then
  use_wine
  probe_line=$(taskset -c "$SERVER_CORE" wine "$PROBE" 500 | tr -d '\r')
  # A console program cannot be the service itself: Wine's service manager starts it.
  wine "$EXE" -install >build/bench-service.log 2>&1 || fail "installing the service failed (see build/bench-service.log)"
  on_cleanup "wine sc stop $SERVICE >/dev/null 2>&1; sleep 2; wine '$EXE' -remove >>build/bench-service.log 2>&1"
  wine sc start "$SERVICE" >>build/bench-service.log 2>&1 || fail "the service did not start (see build/bench-service.log)"
  wait_listening "$PORT" "" 60 || fail "the service does not listen on 127.0.0.1:$PORT"
  note "under Wine the service manager starts the service, so it is not pinned to a core"
else
  probe_line=$(taskset -c "$SERVER_CORE" "$PROBE" 500)
  taskset -c "$SERVER_CORE" "$EXE" >build/bench-service.log 2>&1 &
  service_pid=$!
  track "$service_pid"
  wait_listening "$PORT" "$service_pid" 60 || fail "the service does not listen on 127.0.0.1:$PORT (see build/bench-service.log)"
fi

sleep_ms=$(field sleep_mean_ms "$probe_line")
ceiling=$(awk -v s="$sleep_ms" 'BEGIN { if (s + 0 == 0) print 0; else printf "%.0f", 4 * 1000 / s }')
echo "sleep_mean_ms=$sleep_ms ceiling_requests_per_s=$ceiling (four workers, one task per sleep each)"

for run in "1 1" "64 16"; do
  read -r c p <<<"$run"
  line=$(taskset -c "$LOADGEN_CORE" "$LOADGEN" --port "$PORT" --mode request --body "$BODY" -c "$c" -p "$p" \
           --duration "$DURATION" --warmup "$WARMUP") || true
  [ -n "$line" ] || fail "the load generator printed nothing for c=$c p=$p"
  rps=$(field frames_per_s "$line")
  echo "e2e c=$c p=$p requests_per_s=$rps p50_us=$(field p50_us "$line") p99_us=$(field p99_us "$line")" \
       "errors=$(field errors "$line") sent=$(field sent "$line") answered=$(field answered "$line")" \
       "of_ceiling=$(ratio "$rps" "$ceiling")"
done
