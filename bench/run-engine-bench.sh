#!/usr/bin/env bash
# Our engine's frame server against the Boost.Asio reference: throughput, latency and CPU per
# answered heartbeat at (C=1, P=1) and (C=64, P=16), then the resident memory of each with
# 10,000 connections open. Server on one core, load generator on the other, all on 127.0.0.1.
#
# usage: bench/run-engine-bench.sh [--wine] [--duration S] [--warmup S] [--connections N] [--no-memory]
#                                  [--reference-threads N]
#   --wine  runs our server's Windows build (build/mingw/bin/engine_frame_server.exe) under Wine;
#           the reference and the load generator stay native.
# Needs: cmake --build --preset release --target qolv-loadgen asio_frame_server engine_frame_server
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/bench-lib.sh

DURATION=5
WARMUP=1
MEMORY_CONNECTIONS=10000
MEMORY=1
WINE=0
REFERENCE_ARGS=
while [ $# -gt 0 ]; do
  case "$1" in
    --wine) WINE=1 ;;
    --duration) DURATION=$2; shift ;;
    --warmup) WARMUP=$2; shift ;;
    --connections) MEMORY_CONNECTIONS=$2; shift ;;
    --no-memory) MEMORY=0 ;;
    --reference-threads) REFERENCE_ARGS="--threads $2"; shift ;;
    *) fail "unknown argument $1 (see the head of $0)" ;;
  esac
  shift
done

BIN=build/release/bin
LOADGEN=$BIN/qolv-loadgen
[ -x "$LOADGEN" ] || fail "$LOADGEN is not built: cmake --preset release && cmake --build --preset release --target qolv-loadgen asio_frame_server"

declare -A SERVER_CMD=()
SERVERS=()
if [ "$WINE" = 1 ]; then
  OURS_EXE=build/mingw/bin/engine_frame_server.exe
  if [ -f "$OURS_EXE" ]; then
    use_wine
    SERVER_CMD[ours]="wine $OURS_EXE"
    SERVERS+=(ours)
  else
    note "ours: not built ($OURS_EXE)"
  fi
else
  if [ -x "$BIN/engine_frame_server" ]; then
    SERVER_CMD[ours]="$BIN/engine_frame_server"
    SERVERS+=(ours)
  else
    note "ours: not built ($BIN/engine_frame_server)"
  fi
fi
if [ -x "$BIN/asio_frame_server" ]; then
  SERVER_CMD[reference]="$BIN/asio_frame_server $REFERENCE_ARGS"
  SERVERS+=(reference)
else
  note "reference: not built ($BIN/asio_frame_server; needs libboost-dev)"
fi
[ ${#SERVERS[@]} -gt 0 ] || fail "no server to measure"
[ "$WINE" = 1 ] && note "ours runs under Wine; the reference runs natively"

SERVER_PID=
SERVER_PORT=
# start_server NAME: starts it pinned to the server core on a free port and waits until it listens.
start_server() {
  SERVER_PORT=$(free_port)
  # shellcheck disable=SC2086  # the command holds the program and, under Wine, its loader
  taskset -c "$SERVER_CORE" ${SERVER_CMD[$1]} --port "$SERVER_PORT" >"build/bench-$1.log" 2>&1 &
  SERVER_PID=$!
  track "$SERVER_PID"
  wait_listening "$SERVER_PORT" "$SERVER_PID" 60 || fail "$1 did not listen on 127.0.0.1:$SERVER_PORT (see build/bench-$1.log)"
}

declare -A RESULT=()
# measure NAME C P: one load run against the running server.
measure() {
  local name=$1 c=$2 p=$3 before after line answered total cpu_us
  before=$(cpu_ticks "$SERVER_PID")
  line=$(taskset -c "$LOADGEN_CORE" "$LOADGEN" --port "$SERVER_PORT" --mode heartbeat -c "$c" -p "$p" \
           --duration "$DURATION" --warmup "$WARMUP") || true
  after=$(cpu_ticks "$SERVER_PID")
  [ -n "$line" ] || fail "the load generator printed nothing for $name c=$c p=$p"
  answered=$(field answered "$line")
  total=$(( answered + $(field warmup_answered "$line") ))
  # The CPU counter runs through the warm-up too, so it is shared out over every answered frame.
  cpu_us=$(awk -v t=$(( after - before )) -v hz="$CLK_TCK" -v n="$total" \
             'BEGIN { if (n == 0) print "-"; else printf "%.2f", t * 1e6 / hz / n }')
  local key="$name,$c,$p"
  RESULT[$key,fps]=$(field frames_per_s "$line")
  RESULT[$key,p50]=$(field p50_us "$line")
  RESULT[$key,p99]=$(field p99_us "$line")
  RESULT[$key,cpu]=$cpu_us
  echo "server=$name c=$c p=$p frames_per_s=${RESULT[$key,fps]} p50_us=${RESULT[$key,p50]}" \
       "p99_us=${RESULT[$key,p99]} cpu_us_per_frame=$cpu_us errors=$(field errors "$line")" \
       "sent=$(field sent "$line") answered=$answered"
}

RUNS=("1 1" "64 16")
for name in "${SERVERS[@]}"; do
  start_server "$name"
  for run in "${RUNS[@]}"; do measure "$name" $run; done
  stop_tracked
done

if [ -n "${RESULT[ours,1,1,fps]:-}" ] && [ -n "${RESULT[reference,1,1,fps]:-}" ]; then
  for run in "${RUNS[@]}"; do
    read -r c p <<<"$run"
    o="ours,$c,$p"
    r="reference,$c,$p"
    echo "ratio ours/reference c=$c p=$p frames_per_s=$(ratio "${RESULT[$o,fps]}" "${RESULT[$r,fps]}")" \
         "p50_us=$(ratio "${RESULT[$o,p50]}" "${RESULT[$r,p50]}") p99_us=$(ratio "${RESULT[$o,p99]}" "${RESULT[$r,p99]}")" \
         "cpu_us_per_frame=$(ratio "${RESULT[$o,cpu]}" "${RESULT[$r,cpu]}")"
  done
fi

[ "$MEMORY" = 1 ] || exit 0
declare -A RSS=()
for name in "${SERVERS[@]}"; do
  start_server "$name"
  sleep 1
  idle=$(rss_kb "$SERVER_PID")
  out="build/bench-connect-$name.txt"
  : >"$out"
  taskset -c "$LOADGEN_CORE" "$LOADGEN" --port "$SERVER_PORT" --mode connect-only -c "$MEMORY_CONNECTIONS" \
    --connect-timeout 120000 --hold 300 >"$out" &
  loader=$!
  track "$loader"
  for (( i = 0; i < 1500; i++ )); do
    [ -s "$out" ] && break
    kill -0 "$loader" 2>/dev/null || break
    sleep 0.1
  done
  line=$(head -n1 "$out")
  [ -n "$line" ] || fail "connect-only run against $name printed nothing"
  sleep 1  # let the server settle with every connection open
  held=$(rss_kb "$SERVER_PID")
  RSS[$name]=$held
  per=$(awk -v h="$held" -v i="$idle" -v n="$(field answered "$line")" \
          'BEGIN { if (n == 0) print "-"; else printf "%.0f", (h - i) * 1024 / n }')
  echo "memory server=$name connections=$MEMORY_CONNECTIONS answered=$(field answered "$line")" \
       "errors=$(field errors "$line") rss_kb=$held idle_rss_kb=$idle bytes_per_connection=$per"
  stop_tracked
done
if [ -n "${RSS[ours]:-}" ] && [ -n "${RSS[reference]:-}" ]; then
  echo "ratio ours/reference memory rss_kb=$(ratio "${RSS[ours]}" "${RSS[reference]}")"
fi
