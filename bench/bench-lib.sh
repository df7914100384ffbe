# Helpers shared by the benchmark scripts; sourced, not run. Every wait is bounded, traffic goes
# to 127.0.0.1 only, and only processes these scripts started (tracked by pid) are ever stopped.

STARTED_PIDS=()

note() { echo "# $*"; }
fail() { echo "error: $*" >&2; exit 1; }

# One value of a summary line: field KEY LINE.
field() { tr ' ' '\n' <<<"$2" | sed -n "s/^$1=//p" | head -n1; }

# A port on 127.0.0.1 nobody listens on right now.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# wait_listening PORT PID SECONDS: true once the port accepts connections while PID lives (an
# empty PID: a server this script did not start itself, e.g. one the service manager runs).
wait_listening() {
  local port=$1 pid=$2 tries=$(( $3 * 10 ))
  for (( i = 0; i < tries; i++ )); do
    [ -z "$pid" ] || kill -0 "$pid" 2>/dev/null || return 1
    port_open "$port" && return 0
    sleep 0.1
  done
  return 1
}

# wait_for_line FILE PID SECONDS: until FILE holds a line, PID has ended or the time is over.
wait_for_line() {
  local file=$1 pid=$2 tries=$(( $3 * 10 ))
  for (( i = 0; i < tries; i++ )); do
    [ -s "$file" ] && return 0
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
}

# hold_connections PORT N FILE SECONDS [LOADGEN OPTIONS...]: the load generator (LOADGEN, on its
# core, tracked) opens N connections in connect-only mode and keeps them open until stop_tracked;
# waits up to SECONDS until all were answered and leaves its summary line in HELD_LINE.
hold_connections() {
  local port=$1 n=$2 file=$3 seconds=$4 loader
  shift 4
  : >"$file"
  taskset -c "$LOADGEN_CORE" "$LOADGEN" --port "$port" --mode connect-only -c "$n" "$@" >"$file" &
  loader=$!
  track "$loader"
  wait_for_line "$file" "$loader" "$seconds"
  HELD_LINE=$(head -n1 "$file")
}

# User plus system CPU time of a process in clock ticks (fields 14 and 15 of its stat line,
# counted after the command name, which may hold spaces).
cpu_ticks() { sed 's/^.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }
CLK_TCK=$(getconf CLK_TCK)

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }

# track PID: remembered so that the exit trap stops it if the script ends early.
track() { STARTED_PIDS+=("$1"); }

# stop_pid PID: SIGTERM, up to 15 s to end, then SIGKILL.
stop_pid() {
  local pid=$1
  kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null || true; return 0; }
  kill -TERM "$pid" 2>/dev/null || true
  for (( i = 0; i < 150; i++ )); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null || true
}

stop_tracked() {
  local pid
  for pid in "${STARTED_PIDS[@]}"; do stop_pid "$pid"; done
  STARTED_PIDS=()
}

# The server gets core 0 and the load generator core 1, so neither steals the other's time.
SERVER_CORE=0
LOADGEN_CORE=1
if [ "$(nproc)" -lt 2 ]; then
  LOADGEN_CORE=0
  note "one core only: server and load generator share it"
fi

# ratio A B: A / B with two decimals, or "-" when B is zero or missing.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b + 0 == 0) print "-"; else printf "%.2f", a / b }'; }

# Wine for the Windows build: the worktree's own prefix, one wine server for all programs.
WINE_STARTED_SERVER=0
use_wine() {
  export WINEPREFIX="$PWD/build/wine-prefix" WINEARCH=win64 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
  unset DISPLAY WAYLAND_DISPLAY
  command -v wine >/dev/null || fail "wine is not installed"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    note "creating the wine prefix $WINEPREFIX (about 20 s)"
    timeout 300 wineboot -i >/dev/null 2>&1 || fail "wineboot failed"
    timeout 120 wineserver -w || true
  fi
  taskset -c "$SERVER_CORE" wineserver -p 2>/dev/null || true
  timeout 120 wine cmd.exe /c exit >/dev/null 2>&1 </dev/null || true
  WINE_STARTED_SERVER=1
}

# Commands to run at exit before the processes are stopped, e.g. stopping a service.
CLEANUP_HOOKS=()
on_cleanup() { CLEANUP_HOOKS+=("$1"); }

cleanup() {
  local hook
  for hook in "${CLEANUP_HOOKS[@]}"; do eval "$hook" || true; done
  stop_tracked
  if [ "$WINE_STARTED_SERVER" = 1 ]; then wineserver -k 2>/dev/null || true; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The options of the scripts that run one program several times, natively or under Wine: sets
# WINE (0 or 1) and RUNS (kept as the caller set it when --runs is not given).
read_wine_and_runs() {
  WINE=0
  while [ $# -gt 0 ]; do
    case "$1" in
      --wine) WINE=1 ;;
      --runs) RUNS=$2; shift ;;
      *) fail "unknown argument $1 (see the head of $0)" ;;
    esac
    shift
  done
}
