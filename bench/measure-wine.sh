#!/usr/bin/env bash
# The Windows program's figures under Wine, with the fake system libraries:
# - CPU used over 20 s of streaming with no board and with eight boards, from the Wine process's
#   own accounting (/proc/PID/stat);
# - the time from a world change to the "add" line, with an announcement (broadcast) and with
#   none (the 667 ms timer), ten times each;
# - the process's peak memory after 1,000 plug and unplug cycles of three boards.
# Usage: bench/measure-wine.sh   (installs and builds what is missing, like the Wine tests)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export VORLIN_SOURCE_DIR=$root
"$root/scripts/install-windows-deps.sh"
bash "$root/tests/wine/build.sh" >/dev/null
source "$root/tests/wine/lib.sh"
echo "Wine loader: $WINELOADER ($VORLIN_WINE_ARCH)"

# The Linux process that runs the program under Wine.
program_pid() {
  local pid
  for _ in $(seq 100); do
    pid=$(pgrep -n -f 'program[/\\]vorlin-discovery.exe' || true)
    [ -n "$pid" ] && { echo "$pid"; return; }
    sleep 0.1
  done
  fail "the program did not start"
}
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

stop_service() {
  echo QUIT >&3
  wait "$service_pid" || true
  exec 3>&-
  rm -rf "$work/program" "$work/stdin"
}

eight_boards() {
  sed -n '/^board/,$p' "$root/bench/eight-boards.world"
}

for world in none eight; do
  if [ "$world" = none ]; then : | write_world; else eight_boards | write_world; fi
  start_service_with_fakes
  printf 'START_SYNC\n' >&3
  wait_for_event "$work/out" '^start_sync$' 1 30 || fail "no answer"
  sleep 2
  pid=$(program_pid)
  before=$(cpu_ticks "$pid")
  sleep 20
  after=$(cpu_ticks "$pid")
  ticks=$(getconf CLK_TCK)
  echo "CPU over 20 s streaming, $world board(s): $(( (after - before) * 1000 / ticks )) ms" \
    "($(grep -c '"eventType": "add"' "$work/out" || true) boards added)"
  stop_service
done

# Latency from a change of the world to the "add" line.
board() {
  cat <<WORLD
board late
  usb 16C0:0483 rev 0279 serial 12345670
  port 14/1/4
  com COM12
  $1
end
WORLD
}
board absent | write_world
start_service_with_fakes
printf 'START_SYNC\n' >&3
wait_for_event "$work/out" '^start_sync$' 1 30 || fail "no answer"
for how in announced timer; do
  times=()
  for i in $(seq 10); do
    board "" | write_world
    started=$(date +%s%N)
    [ "$how" = announced ] &&
      wine_run 30 "$helpers_dir/window-tool.exe" broadcast >/dev/null 2>&1
    wait_for_event "$work/out" '^add usb:0/14/1/4 ' "$i" 5 || fail "no add"
    times+=($(( ($(date +%s%N) - started) / 1000000 )))
    board absent | write_world
    [ "$how" = announced ] &&
      wine_run 30 "$helpers_dir/window-tool.exe" broadcast >/dev/null 2>&1
    wait_for_event "$work/out" '^remove usb:0/14/1/4$' "$i" 5 || fail "no remove"
  done
  sorted=$(printf '%s\n' "${times[@]}" | sort -n | tr '\n' ' ')
  echo "change to add line, $how (ms, 10 runs, sorted): $sorted"
  rm -f "$work/out.$how"
  : >"$work/out.mark"
  # The next round counts its own events from the start of the output again.
  [ "$how" = announced ] && { stop_service; board absent | write_world; start_service_with_fakes;
    printf 'START_SYNC\n' >&3; wait_for_event "$work/out" '^start_sync$' 1 30 || fail "no answer"; }
done
start=$(date +%s%N)
wine_run 30 "$helpers_dir/window-tool.exe" broadcast >/dev/null 2>&1
echo "of which starting the broadcasting helper under Wine: $(( ($(date +%s%N) - start) / 1000000 )) ms"
stop_service

# Memory after 1,000 plug and unplug cycles.
sed -n '/^board/,/^at/p' "$root/bench/cycles.world" | grep -v '^at' | sed 's/^  absent$//' \
  >"$work/plugged.world"
sed -n '/^board/,/^at/p' "$root/bench/cycles.world" | grep -v '^at' >"$work/unplugged.world"
cp "$work/unplugged.world" "$work/world"
start_service_with_fakes
printf 'START_SYNC\n' >&3
wait_for_event "$work/out" '^start_sync$' 1 30 || fail "no answer"
pid=$(program_pid)
echo "memory at start: $(grep -E 'VmHWM|VmRSS' "/proc/$pid/status" | tr -s ' \t\n' ' ')"
wine_run 600 "$helpers_dir/window-tool.exe" cycle "$(winepath_of "$work/world")" \
  "$(winepath_of "$work/plugged.world")" "$(winepath_of "$work/unplugged.world")" 1000 15
sleep 1
echo "memory after 1,000 cycles: $(grep -E 'VmHWM|VmRSS' "/proc/$pid/status" | tr -s ' \t\n' ' ')"
echo "removals seen: $(grep -c '"eventType": "remove"' "$work/out" || true)"
stop_service
