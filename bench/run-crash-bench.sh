#!/usr/bin/env bash
# The size of the dump each fatal end leaves and the time from the end to the written dump, as the
# crash guard handles them in the crash child: a fault (segv), abort(), and std::terminate after an
# exception escaped a task, an engine thread or a bounded private heap. Each run copies the child
# into a fresh folder of its own; the time is the child's tick count at the end against its tick
# count once the guard reported the written dump.
#
# usage: bench/run-crash-bench.sh [--wine] [--runs N]
#   --wine  the Windows build (build/mingw/bin/qolv_crash_child.exe) under Wine
# Needs: cmake --build --preset release --target qolv_crash_child (or --preset mingw with --wine)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/bench-lib.sh

RUNS=5
read_wine_and_runs "$@"

if [ "$WINE" = 1 ]; then
  CHILD=build/mingw/bin/qolv_crash_child.exe
  use_wine
else
  CHILD=build/release/bin/qolv_crash_child
fi
[ -x "$CHILD" ] || fail "$CHILD is missing (see the head of $0)"

run_child() {
  if [ "$WINE" = 1 ]; then timeout 120 wine "$1" "$2"; else timeout 120 "$1" "$2"; fi
}

for mode in segv abort task-throws engine-throws heap-exhausted; do
  sizes=() times=()
  for (( run = 0; run < RUNS; run++ )); do
    folder=$(mktemp -d)
    cp "$CHILD" "$folder/"
    errors=$( (cd "$folder" && run_child "./$(basename "$CHILD")" "$mode") 2>&1 >/dev/null || true)
    dump=$(find "$folder" -name 'windev__*.dmp' | head -n1)
    start=$(sed -n 's/^fatal end on thread [0-9]* at tick \([0-9]*\)$/\1/p' <<<"$errors" | tr -d '\r')
    end=$(sed -n 's/^dump written at tick \([0-9]*\)$/\1/p' <<<"$errors" | tr -d '\r')
    [ -n "$dump" ] && sizes+=("$(stat -c %s "$dump")")
    [ -n "$start" ] && [ -n "$end" ] && times+=("$(( end - start ))")
    rm -rf "$folder"
  done
  echo "mode=$mode runs=$RUNS dumps=${#sizes[@]} bytes=$(IFS=,; echo "${sizes[*]}") ms=$(IFS=,; echo "${times[*]:-n/a}")"
done
