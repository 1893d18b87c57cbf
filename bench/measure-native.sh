#!/usr/bin/env bash
# The native service's figures: LIST latency (1,000 requests, no board and eight boards) and peak
# memory after 1,000 plug and unplug cycles of three boards against a run without any cycle.
# Usage: bench/measure-native.sh   (after scripts/test or a dev build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/dev
[ -x "$build/bench/vorlin_list_latency" ] || {
  cmake -S "$root" --preset dev >/dev/null
  cmake --build "$build" -j "$(nproc)" >/dev/null
}
sim=$build/src/app/vorlin-discovery-sim

echo "== LIST latency, no board"
"$build/bench/vorlin_list_latency" "$build/src/app/vorlin-discovery"
echo "== LIST latency, eight boards"
"$build/bench/vorlin_list_latency" "$sim" "$root/bench/eight-boards.world"

# Streams for `seconds`, then quits; prints the peak resident set and how many cycles were seen.
peak_after() {
  local world=$1 seconds=$2 out
  out=$(mktemp)
  { printf 'START_SYNC\n'; sleep "$seconds"; printf 'QUIT\n'; } |
    /usr/bin/time -f '%M' -o "$out.time" "$sim" "$world" >"$out"
  printf 'peak RSS %s KiB, %s removals seen\n' "$(cat "$out.time")" \
    "$(grep -c '"eventType": "remove"' "$out" || true)"
  rm -f "$out" "$out.time"
}
echo "== peak memory, eight boards, no cycle (5 s)"
peak_after "$root/bench/eight-boards.world" 5
echo "== peak memory, three boards plugged and unplugged every 4 ms (5 s: over 1,000 cycles)"
peak_after "$root/bench/cycles.world" 5
