#!/usr/bin/env bash
# The Windows program with its real device backend and window, over fake system libraries that
# answer from a world file: boards present at start are in the first list; a board plugged while
# the host streams is added after the announcement, and without one by the timer; an unplugged
# board is removed; a board that restarts into the boot loader at the same port is removed and
# added again with the boot loader's model; a HID-only board's port is its HID interface.
source "$(dirname "$0")/lib.sh"

boards() {
  cat <<WORLD
board serial
  usb 16C0:0483 rev 0279 serial 12345670
  port 14/1/3
  location-info Port_#0003.Hub_#0001
  com COM7
  $1
end
board rawhid
  usb 16C0:0486 rev 0275 serial 23456780
  port 14/2
  hid 00 FFAB:0200
  hid 01 FFC9:0004
end
board late
  usb 16C0:0489 rev 0212 serial 34567890
  port 14/1/4
  com COM12 mi 00
  $2
end
board boot
  usb 16C0:0478 rev 0100 serial 0012D687
  port 14/1/3
  location-info Port_#0003.Hub_#0001
  hid - FF9C:0024
  $3
end
WORLD
}

boards "" absent absent | write_world
start_service_with_fakes
echo LIST >&3
wait_for_event "$work/out" '^list-port ' 2 30 || fail "no first list: $(cat "$work/out" "$work/err")"
events_of "$work/out" >"$work/first"
grep -qx 'list-port usb:0/14/1/3 |COM7 Serial| 0x24 1234567' "$work/first" ||
  fail "serial board: $(cat "$work/first")"
grep -qx 'list-port usb:0/14/2 |hid#vid_16c0&pid_0486 RawHID| 0x21 2345678' "$work/first" ||
  fail "HID-only board: $(cat "$work/first")"
tr -d '\r' <"$work/out" | grep -q '"address": "usb:0/14/2",' || fail "location path"

echo START_SYNC >&3
wait_for_event "$work/out" '^add ' 2 10 || fail "no initial adds: $(events_of "$work/out")"

# Plugged while streaming, announced.
boards "" "" absent | write_world
wine_run 30 "$helpers_dir/window-tool.exe" broadcast >"$work/tool.out" 2>&1 ||
  fail "broadcast: $(cat "$work/tool.out")"
wait_for_event "$work/out" '^add usb:0/14/1/4 \|COM12 Serial\+MIDIx16\| - 3456789$' 1 5 ||
  fail "announced board not added: $(events_of "$work/out")"

# Unplugged and plugged again without any announcement: the timer finds both.
boards "" absent absent | write_world
started=$(date +%s%N)
wait_for_event "$work/out" '^remove usb:0/14/1/4$' 1 5 ||
  fail "unannounced removal not seen: $(events_of "$work/out")"
echo "removal seen by the timer after $(( ($(date +%s%N) - started) / 1000000 )) ms"
boards "" "" absent | write_world
started=$(date +%s%N)
wait_for_event "$work/out" '^add usb:0/14/1/4 ' 2 5 ||
  fail "unannounced board not added: $(events_of "$work/out")"
echo "addition seen by the timer after $(( ($(date +%s%N) - started) / 1000000 )) ms"

# The serial board restarts into the boot loader at the same port.
boards absent "" "" | write_world
wine_run 30 "$helpers_dir/window-tool.exe" broadcast >"$work/tool.out" 2>&1 || fail broadcast
wait_for_event "$work/out" '^add usb:0/14/1/3 \|hid#vid_16c0&pid_0478 Bootloader\| 0x24 1234567$' 1 5 ||
  fail "boot loader not added: $(events_of "$work/out" | tr "\n" ";")"
events_of "$work/out" | grep -E ' usb:0/14/1/3( |$)' | tail -2 >"$work/restart"
head -1 "$work/restart" | grep -qx 'remove usb:0/14/1/3' ||
  fail "no removal before the boot loader's add: $(cat "$work/restart")"

echo QUIT >&3
wait "$service_pid" || fail "exit status $? after QUIT"
exec 3>&-
[ ! -s "$work/err" ] || fail "standard error: $(cat "$work/err")"
events_of "$work/out" | tail -1 | grep -qx quit || fail "no quit reply"
events_of "$work/out" >&2; echo ok
