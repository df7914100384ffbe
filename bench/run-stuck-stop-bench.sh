#!/usr/bin/env bash
# How long a stop takes while one SDK call never returns: a copy of the service with the fake SDK
# beside it gets a request whose SDK call sleeps for two minutes (and a second one that answers
# only once the first is inside the SDK), then the stop request; the figure is the time from the
# stop request to the end of the process (Linux) or to the stopped state (Wine's service manager).
#
# usage: bench/run-stuck-stop-bench.sh [--wine] [--runs N]
# Needs: cmake --build --preset release --target QolvPrinterProxy FakeQolvSdk (or --preset mingw
# with --wine). Binds port 9199: run it in a network namespace of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/bench-lib.sh

RUNS=3
read_wine_and_runs "$@"

if [ "$WINE" = 1 ]; then
  BIN=build/mingw/bin EXE=QolvPrinterProxy.exe SDK=QolvTovuWindowsSDK.dll FAKE=FakeQolvSdk.dll
  use_wine
else
  BIN=build/release/bin EXE=QolvPrinterProxy SDK=QolvTovuWindowsSDK.so FAKE=FakeQolvSdk.so
fi
[ -f "$BIN/$EXE" ] && [ -f "$BIN/$FAKE" ] || fail "$BIN/$EXE or $BIN/$FAKE is missing (see the head of $0)"
port_open 9199 && fail "port 9199 is taken"

# Sends the stuck call and the one beside it; prints the answer of the second (proof that the
# first is inside the SDK) and keeps the connection open until the service closes it.
hold_stuck_call() {
  python3 - <<'PY'
import json, socket, struct, sys, time
def frame(message_id, body):
    body = json.dumps(body).encode()
    return b"QV" + bytes([1, 0]) + message_id.encode().ljust(32, b"\0") + struct.pack(">QI", 0, len(body)) + body
s = socket.create_connection(("127.0.0.1", 9199), timeout=60)
s.sendall(frame("stuck", {"action": "printer.add", "param": "gather=2;delay=120000;text=late"}) +
          frame("beside", {"action": "printer.list", "param": "gather=2;text=ok"}))
answer = s.recv(4096)
print(answer[48:].decode(), flush=True)
try:
    s.recv(1)
except OSError:
    pass
PY
}

now() { date +%s.%N; }
state() { wine sc query QolvTovuPP 2>/dev/null | sed -n 's/^ *STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p'; }

for (( run = 0; run < RUNS; run++ )); do
  folder=$(mktemp -d)
  cp "$BIN/$EXE" "$folder/"
  cp "$BIN/$FAKE" "$folder/$SDK"
  if [ "$WINE" = 1 ]; then
    wine "$folder/$EXE" -install >/dev/null
    wine sc start QolvTovuPP >/dev/null
  else
    "$folder/$EXE" 2>/dev/null &
    pid=$!
    track "$pid"
  fi
  wait_listening 9199 "${pid:-}" 30 || fail "the service did not listen"
  hold_stuck_call >"$folder/answer" 2>/dev/null &
  client=$!
  for (( i = 0; i < 600; i++ )); do [ -s "$folder/answer" ] && break; sleep 0.05; done
  [ "$(head -n1 "$folder/answer")" = ok ] || fail "the stuck call did not reach the SDK"
  start=$(now)
  if [ "$WINE" = 1 ]; then
    wine sc stop QolvTovuPP >/dev/null 2>&1 || true  # Wine's sc stops waiting after 10 s
    for (( i = 0; i < 600; i++ )); do [ "$(state)" = STOPPED ] && break; sleep 0.1; done
  else
    kill -TERM "$pid"
    for (( i = 0; i < 1200; i++ )); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
  fi
  end=$(now)
  kill "$client" 2>/dev/null || true
  wait "$client" 2>/dev/null || true
  stuck=$(grep -ac "TaskWorker did not stop within" "$folder"/log/*.log || true)
  echo "run=$run stop_s=$(echo "$end - $start" | bc) stuck_lines=$stuck"
  [ "$WINE" = 1 ] && wine "$folder/$EXE" -remove >/dev/null
  stop_tracked
  rm -rf "$folder"
done
