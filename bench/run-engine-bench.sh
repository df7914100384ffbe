#!/usr/bin/env bash
# Our engine's frame server against three references that cut and answer frames the same way:
# Boost.Asio, libuv and a bare edge-triggered epoll server. Throughput, latency and server CPU per
# answered heartbeat at (C=1, P=1), (C=8, P=4) and (C=64, P=16), then the resident memory of each
# with 10,000 connections open. Servers on one core, the load generator on the other, all on
# 127.0.0.1.
#
# usage: bench/run-engine-bench.sh [--wine] [--rounds N] [--duration S] [--warmup S] [--threads N]
#                                  [--servers LIST] [--connections N] [--no-memory]
#                                  [--also NAME=PROGRAM]... [--loads "C/P C/P ..."] [--syscalls]
#   --rounds    how many times each server meets each load (default 3); medians are printed
#   --threads   threads of each server (default 1: one per core it is given); libuv runs one only
#   --servers   a comma-separated choice of engine, asio, libuv, epoll (default all that are built)
#   --also      measures another build of the engine's frame server beside the others, under
#               NAME (for example one built from an earlier commit into /tmp); may repeat
#   --loads     which (C, P) loads to run (default "1/1 8/4 64/16")
#   --syscalls  also counts each server's system calls per answered frame with perf (root, and
#               the linux-perf package); unlike the CPU time this count hardly varies from run
#               to run, so it shows a change in how the servers meet the kernel on a noisy machine
#   --wine      runs the engine's Windows build (build/mingw/bin/engine_frame_server.exe) under
#               Wine; the references and the load generator stay native.
# Needs: cmake --build --preset release --target qolv-loadgen engine_frame_server asio_frame_server
#        libuv_frame_server epoll_frame_server
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/bench-lib.sh

DURATION=5
WARMUP=1
ROUNDS=3
THREADS=1
MEMORY_CONNECTIONS=10000
MEMORY=1
WINE=0
CHOSEN=engine,asio,libuv,epoll
ALSO=()
LOADS="1/1 8/4 64/16"
SYSCALLS=0
while [ $# -gt 0 ]; do
  case "$1" in
    --wine) WINE=1 ;;
    --rounds) ROUNDS=$2; shift ;;
    --duration) DURATION=$2; shift ;;
    --warmup) WARMUP=$2; shift ;;
    --threads) THREADS=$2; shift ;;
    --servers) CHOSEN=$2; shift ;;
    --connections) MEMORY_CONNECTIONS=$2; shift ;;
    --no-memory) MEMORY=0 ;;
    --also) ALSO+=("$2"); shift ;;
    --loads) LOADS=$2; shift ;;
    --syscalls) SYSCALLS=1 ;;
    *) fail "unknown argument $1 (see the head of $0)" ;;
  esac
  shift
done
[[ "$ROUNDS" =~ ^[1-9][0-9]?$ ]] || fail "--rounds must be 1 to 99"
[[ "$THREADS" =~ ^[1-9][0-9]*$ ]] || fail "--threads must be a positive number"
if [ "$SYSCALLS" = 1 ]; then
  command -v perf >/dev/null || fail "--syscalls needs perf (apt-get install linux-perf)"
  perf stat -e raw_syscalls:sys_enter -- true >/dev/null 2>&1 || fail "--syscalls: perf cannot count system calls here (run as root)"
fi

BIN=build/release/bin
LOADGEN=$BIN/qolv-loadgen
[ -x "$LOADGEN" ] || fail "$LOADGEN is not built: cmake --preset release && cmake --build --preset release --target qolv-loadgen"

declare -A SERVER_CMD=()
SERVERS=()
# offer NAME PROGRAM [ARGS...]: measured when chosen and built.
offer() {
  local name=$1 program=$2
  shift 2
  [[ ",$CHOSEN," == *",$name,"* ]] || return 0
  if [ -e "$program" ]; then
    SERVER_CMD[$name]="$program $*"
    SERVERS+=("$name")
  else
    note "$name: not built ($program)"
  fi
}
if [ "$WINE" = 1 ]; then
  offer engine build/mingw/bin/engine_frame_server.exe --threads "$THREADS"
  if [ -n "${SERVER_CMD[engine]:-}" ]; then
    use_wine
    SERVER_CMD[engine]="wine ${SERVER_CMD[engine]}"
    note "the engine runs under Wine; the references run natively"
  fi
else
  offer engine "$BIN/engine_frame_server" --threads "$THREADS"
fi
offer asio "$BIN/asio_frame_server" --threads "$THREADS"
if [ "$THREADS" = 1 ]; then
  offer libuv "$BIN/libuv_frame_server"
else
  note "libuv: left out, its server runs one loop on one thread"
fi
offer epoll "$BIN/epoll_frame_server" --threads "$THREADS"
for also in "${ALSO[@]}"; do
  [[ "$also" =~ ^[a-z0-9_-]+=.+$ ]] || fail "--also takes NAME=PROGRAM, NAME of a-z, 0-9, _ and -"
  CHOSEN+=",${also%%=*}"
  offer "${also%%=*}" "${also#*=}" --threads "$THREADS"
done
[ ${#SERVERS[@]} -gt 0 ] || fail "no server to measure"

declare -A PID=() PORT=()
# start_server NAME: starts it pinned to the server core on a free port and waits until it listens.
start_server() {
  local port
  port=$(free_port)
  # shellcheck disable=SC2086  # the command holds the program, its options and under Wine its loader
  taskset -c "$SERVER_CORE" ${SERVER_CMD[$1]} --port "$port" >"build/bench-$1.log" 2>&1 &
  PID[$1]=$!
  PORT[$1]=$port
  track "${PID[$1]}"
  wait_listening "$port" "${PID[$1]}" 60 || fail "$1 did not listen on 127.0.0.1:$port (see build/bench-$1.log)"
}

declare -A RESULT=()
# measure NAME C P ROUND: one load run against the running server.
measure() {
  local name=$1 c=$2 p=$3 round=$4 pid=${PID[$1]} before after line answered total cpu_us key
  local counter=0 counts=build/bench-syscalls-$1.txt calls=- per_frame=-
  if [ "$SYSCALLS" = 1 ]; then
    perf stat -x, -o "$counts" -e raw_syscalls:sys_enter -p "$pid" &
    counter=$!
  fi
  before=$(cpu_ticks "$pid")
  line=$(taskset -c "$LOADGEN_CORE" "$LOADGEN" --port "${PORT[$name]}" --mode heartbeat -c "$c" -p "$p" \
           --duration "$DURATION" --warmup "$WARMUP") || true
  after=$(cpu_ticks "$pid")
  if [ "$counter" != 0 ]; then
    kill -INT "$counter" 2>/dev/null || true
    wait "$counter" || true
    calls=$(awk -F, '/raw_syscalls:sys_enter/ { print $1 }' "$counts")
  fi
  [ -n "$line" ] || fail "the load generator printed nothing for $name c=$c p=$p"
  answered=$(field answered "$line")
  total=$(( answered + $(field warmup_answered "$line") ))
  # The CPU counter runs through the warm-up too, so it is shared out over every answered frame.
  cpu_us=$(awk -v t=$(( after - before )) -v hz="$CLK_TCK" -v n="$total" \
             'BEGIN { if (n == 0) print "-"; else printf "%.3f", t * 1e6 / hz / n }')
  [ "$calls" = - ] || per_frame=$(awk -v k="$calls" -v n="$total" 'BEGIN { if (n == 0) print "-"; else printf "%.4f", k / n }')
  key="$name,$c,$p"
  RESULT[$key,fps]+="$(field frames_per_s "$line") "
  RESULT[$key,p50]+="$(field p50_us "$line") "
  RESULT[$key,p99]+="$(field p99_us "$line") "
  RESULT[$key,p999]+="$(field p999_us "$line") "
  RESULT[$key,cpu]+="$cpu_us "
  RESULT[$key,sys]+="$per_frame "
  echo "run=$round server=$name c=$c p=$p frames_per_s=$(field frames_per_s "$line") p50_us=$(field p50_us "$line")" \
       "p99_us=$(field p99_us "$line") p999_us=$(field p999_us "$line") cpu_us_per_frame=$cpu_us" \
       "syscalls_per_frame=$per_frame errors=$(field errors "$line") sent=$(field sent "$line") answered=$answered"
}

# The median, the lowest and the highest of the numbers in $1.
median() { tr ' ' '\n' <<<"$1" | grep -v '^$' | sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
lowest() { tr ' ' '\n' <<<"$1" | grep -v '^$' | sort -g | head -n1; }
highest() { tr ' ' '\n' <<<"$1" | grep -v '^$' | sort -g | tail -n1; }

note "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
for name in "${SERVERS[@]}"; do start_server "$name"; done
POINTS=()
for load in $LOADS; do
  [[ "$load" =~ ^[1-9][0-9]*/[1-9][0-9]*$ ]] || fail "--loads takes C/P pairs, e.g. \"8/4 64/16\""
  POINTS+=("${load%/*} ${load#*/}")
done
# Interleaved: each round runs every load against every server, the servers in a turning order,
# so that a stretch of noise on the shared machine falls on all of them alike.
for (( round = 1; round <= ROUNDS; round++ )); do
  for point in "${POINTS[@]}"; do
    read -r c p <<<"$point"
    for (( i = 0; i < ${#SERVERS[@]}; i++ )); do
      measure "${SERVERS[$(( (i + round - 1) % ${#SERVERS[@]} ))]}" "$c" "$p" "$round"
    done
  done
done
stop_tracked
note "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"

declare -A MEDIAN=()
for point in "${POINTS[@]}"; do
  read -r c p <<<"$point"
  for name in "${SERVERS[@]}"; do
    key="$name,$c,$p"
    for figure in fps p50 p99 p999 cpu sys; do MEDIAN[$key,$figure]=$(median "${RESULT[$key,$figure]}"); done
    echo "median server=$name c=$c p=$p frames_per_s=${MEDIAN[$key,fps]} p50_us=${MEDIAN[$key,p50]}" \
         "p99_us=${MEDIAN[$key,p99]} p999_us=${MEDIAN[$key,p999]} cpu_us_per_frame=${MEDIAN[$key,cpu]}" \
         "cpu_lowest=$(lowest "${RESULT[$key,cpu]}") cpu_highest=$(highest "${RESULT[$key,cpu]}")" \
         "syscalls_per_frame=${MEDIAN[$key,sys]} runs=$ROUNDS"
  done
  [ -n "${MEDIAN[engine,$c,$p,fps]:-}" ] || continue
  for name in "${SERVERS[@]}"; do
    [ "$name" != engine ] || continue
    e="engine,$c,$p"
    o="$name,$c,$p"
    echo "ratio engine/$name c=$c p=$p frames_per_s=$(ratio "${MEDIAN[$e,fps]}" "${MEDIAN[$o,fps]}")" \
         "p50_us=$(ratio "${MEDIAN[$e,p50]}" "${MEDIAN[$o,p50]}") p99_us=$(ratio "${MEDIAN[$e,p99]}" "${MEDIAN[$o,p99]}")" \
         "p999_us=$(ratio "${MEDIAN[$e,p999]}" "${MEDIAN[$o,p999]}")" \
         "cpu_us_per_frame=$(ratio "${MEDIAN[$e,cpu]}" "${MEDIAN[$o,cpu]}")" \
         "syscalls_per_frame=$(ratio "${MEDIAN[$e,sys]}" "${MEDIAN[$o,sys]}")"
  done
done

[ "$MEMORY" = 1 ] || exit 0
declare -A RSS=()
for name in "${SERVERS[@]}"; do
  start_server "$name"
  sleep 1
  idle=$(rss_kb "${PID[$name]}")
  hold_connections "${PORT[$name]}" "$MEMORY_CONNECTIONS" "build/bench-connect-$name.txt" 150 \
    --connect-timeout 120000 --hold 300
  line=$HELD_LINE
  [ -n "$line" ] || fail "connect-only run against $name printed nothing"
  sleep 1  # let the server settle with every connection open
  held=$(rss_kb "${PID[$name]}")
  RSS[$name]=$held
  per=$(awk -v h="$held" -v i="$idle" -v n="$(field answered "$line")" \
          'BEGIN { if (n == 0) print "-"; else printf "%.0f", (h - i) * 1024 / n }')
  echo "memory server=$name connections=$MEMORY_CONNECTIONS answered=$(field answered "$line")" \
       "errors=$(field errors "$line") rss_kb=$held idle_rss_kb=$idle bytes_per_connection=$per"
  stop_tracked
done
if [ -n "${RSS[engine]:-}" ]; then
  for name in "${SERVERS[@]}"; do
    [ "$name" = engine ] || echo "ratio engine/$name memory rss_kb=$(ratio "${RSS[engine]}" "${RSS[$name]}")"
  done
fi
