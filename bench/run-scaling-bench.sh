#!/usr/bin/env bash
# Cost per frame against the number of idle connections: the engine's frame server and the
# Boost.Asio reference each hold N idle connections (N = 100, 1,000, 10,000, 50,000 by default)
# while 64 active ones run the (C=64, P=16) heartbeat load, and the script prints each server's
# resident memory per idle connection and CPU per answered frame at every N. Server on one core,
# load generators on the other; the idle connections come from several 127.0.0.x source
# addresses, because one address has only about 28,000 ephemeral ports.
#
# usage: bench/run-scaling-bench.sh [--idle "100 1000 10000 50000"] [--duration S] [--warmup S]
#                                   [--servers engine,asio]
# Needs: cmake --build --preset release --target qolv-loadgen engine_frame_server asio_frame_server
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/bench-lib.sh

IDLE_COUNTS="100 1000 10000 50000"
DURATION=5
WARMUP=1
CHOSEN=engine,asio
while [ $# -gt 0 ]; do
  case "$1" in
    --idle) IDLE_COUNTS=$2; shift ;;
    --duration) DURATION=$2; shift ;;
    --warmup) WARMUP=$2; shift ;;
    --servers) CHOSEN=$2; shift ;;
    *) fail "unknown argument $1 (see the head of $0)" ;;
  esac
  shift
done
for n in $IDLE_COUNTS; do [[ "$n" =~ ^[1-9][0-9]*$ && "$n" -le 60000 ]] || fail "--idle takes counts from 1 to 60000"; done

BIN=build/release/bin
LOADGEN=$BIN/qolv-loadgen
[ -x "$LOADGEN" ] || fail "$LOADGEN is not built: cmake --preset release && cmake --build --preset release --target qolv-loadgen"
# Every idle connection costs a descriptor in the server and one in the load generator. The
# programs raise their soft limit to the hard one, as the engine does; the hard one is raised
# here (as root) when it is too low for the largest run.
WANTED_FILES=120000
if [ "$(ulimit -Hn)" != unlimited ] && [ "$(ulimit -Hn)" -lt "$WANTED_FILES" ]; then
  ulimit -Hn "$WANTED_FILES" 2>/dev/null || note "cannot raise the open-file limit above $(ulimit -Hn); large runs will fall short"
fi
ulimit -Sn "$(ulimit -Hn)"
# 16 source addresses give room for 60,000 connections at about 28,000 ports each.
SOURCES=16

declare -A SERVER_CMD=()
SERVERS=()
for name in ${CHOSEN//,/ }; do
  program="$BIN/${name}_frame_server"
  if [ -x "$program" ]; then
    SERVER_CMD[$name]="$program --threads 1"
    SERVERS+=("$name")
  else
    note "$name: not built ($program)"
  fi
done
[ ${#SERVERS[@]} -gt 0 ] || fail "no server to measure"
note "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"

FILES=$(ulimit -Hn)
declare -A CPU=() PER=()
for n in $IDLE_COUNTS; do
  # Each process holds n idle and 64 active connections plus its own few descriptors.
  if [ "$FILES" != unlimited ] && [ $(( n + 64 + 64 )) -gt "$FILES" ]; then
    note "idle=$n skipped: it needs more descriptors than the open-file limit of $FILES allows"
    continue
  fi
  for name in "${SERVERS[@]}"; do
    port=$(free_port)
    # shellcheck disable=SC2086  # the command holds the program and its options
    taskset -c "$SERVER_CORE" ${SERVER_CMD[$name]} --port "$port" >"build/bench-scaling-$name.log" 2>&1 &
    pid=$!
    track "$pid"
    wait_listening "$port" "$pid" 60 || fail "$name did not listen on 127.0.0.1:$port"
    sleep 0.5
    before_rss=$(rss_kb "$pid")
    hold_connections "$port" "$n" "build/bench-scaling-idle-$name.txt" 200 --sources "$SOURCES" \
      --connect-timeout 180000 --hold 600
    idle_line=$HELD_LINE
    [ -n "$idle_line" ] || fail "the idle connections to $name were not all answered in time"
    opened=$(field answered "$idle_line")
    sleep 1  # the server settles with every idle connection open
    idle_rss=$(rss_kb "$pid")
    before=$(cpu_ticks "$pid")
    line=$(taskset -c "$LOADGEN_CORE" "$LOADGEN" --port "$port" --mode heartbeat -c 64 -p 16 \
             --duration "$DURATION" --warmup "$WARMUP") || true
    after=$(cpu_ticks "$pid")
    [ -n "$line" ] || fail "the load generator printed nothing for $name with $n idle connections"
    total=$(( $(field answered "$line") + $(field warmup_answered "$line") ))
    CPU[$name,$n]=$(awk -v t=$(( after - before )) -v hz="$CLK_TCK" -v f="$total" \
                      'BEGIN { if (f == 0) print "-"; else printf "%.3f", t * 1e6 / hz / f }')
    PER[$name,$n]=$(awk -v h="$idle_rss" -v b="$before_rss" -v n="$opened" \
                      'BEGIN { if (n == 0) print "-"; else printf "%.0f", (h - b) * 1024 / n }')
    echo "server=$name idle=$n idle_open=$opened idle_errors=$(field errors "$idle_line")" \
         "bytes_per_idle_connection=${PER[$name,$n]} rss_kb=$idle_rss" \
         "frames_per_s=$(field frames_per_s "$line") p50_us=$(field p50_us "$line") p99_us=$(field p99_us "$line")" \
         "cpu_us_per_frame=${CPU[$name,$n]} errors=$(field errors "$line")"
    stop_tracked
  done
done
note "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"

# How the cost per frame moved from the fewest idle connections to each larger count.
first=${IDLE_COUNTS%% *}
for name in "${SERVERS[@]}"; do
  for n in $IDLE_COUNTS; do
    [ -n "${CPU[$name,$n]:-}" ] || continue
    echo "growth server=$name idle=$n cpu_us_per_frame=$(ratio "${CPU[$name,$n]}" "${CPU[$name,$first]}")x_of_idle_$first"
  done
done
if [ -n "${CPU[engine,$first]:-}" ] && [ -n "${CPU[asio,$first]:-}" ]; then
  for n in $IDLE_COUNTS; do
    [ -n "${CPU[engine,$n]:-}" ] || continue
    echo "ratio engine/asio idle=$n cpu_us_per_frame=$(ratio "${CPU[engine,$n]}" "${CPU[asio,$n]}")" \
         "bytes_per_idle_connection=$(ratio "${PER[engine,$n]}" "${PER[asio,$n]}")"
  done
fi
