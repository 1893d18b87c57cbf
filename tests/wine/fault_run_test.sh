#!/usr/bin/env bash
# The Windows program over the fake libraries while every device-management operation fails in
# turn and boards come and go: it must keep answering, and once the fault is gone a scan must
# report the world exactly. The faults reach the operations the fakes answer; the registry
# values and file handles are Wine's own and fail through the fakes' keys and stand-in files.
source "$(dirname "$0")/lib.sh"

operations="get_class_devs enum_device_interfaces enum_device_info get_device_interface_detail
  get_device_registry_property open_dev_reg_key destroy_device_info_list query_value close_key
  get_parent get_child get_sibling load_cfgmgr_functions get_devnode_registry_property
  open_devnode_key hid_guid open_file close_handle hid_get_attributes hid_get_preparsed_data
  hid_get_caps hid_free_preparsed_data"

# world SET [FAULT-LINE]: set "a" holds the serial and the HID-only board, set "b" the serial
# board and a composite board with a COM port on interface 00.
world() {
  local rawhid=absent late=absent
  if [ "$1" = a ]; then rawhid=""; else late=""; fi
  cat <<WORLD
${2:-}
board serial
  usb 16C0:0483 rev 0279 serial 12345670
  port 14/1/3
  com COM7
end
board rawhid
  usb 16C0:0486 rev 0275 serial 23456780
  port 14/2
  hid 00 FFAB:0200
  hid 01 FFC9:0004
  $rawhid
end
board late
  usb 16C0:0489 rev 0212 serial 34567890
  port 14/1/4
  com COM12 mi 00
  $late
end
WORLD
}
expected_a=$'list-port usb:0/14/1/3 |COM7 Serial| 0x24 1234567\nlist-port usb:0/14/2 |hid#vid_16c0&pid_0486 RawHID| 0x21 2345678'
expected_b=$'list-port usb:0/14/1/3 |COM7 Serial| 0x24 1234567\nlist-port usb:0/14/1/4 |COM12 Serial+MIDIx16| - 3456789'

announce() {
  wine_run 30 "$helpers_dir/window-tool.exe" broadcast >/dev/null 2>&1 || fail "broadcast"
}

# The ports of the newest "list" event, sorted.
last_list() {
  events_of "$work/out" | awk '$1 == "list" { n = 0; next } $1 == "list-port" { l[n++] = $0 }
    END { for (i = 0; i < n; i++) print l[i] }' | sort
}

# Sends LIST and waits for the whole answer: its closing "]" line is the only one of its kind.
ask_for_list() {
  local before
  before=$(count_of "$work/out" "]")
  echo LIST >&3
  wait_for_count "$work/out" "]" $((before + 1)) 10 || fail "no list after faults in $op"
}

world a | write_world
service_seconds=600 start_service_with_fakes
echo START_SYNC >&3
wait_for_event "$work/out" '^start_sync$' 1 30 || fail "no answer: $(cat "$work/err")"
set_now=a
for op in $operations; do
  echo "faults in $op" >&2
  kill -0 "$service_pid" 2>/dev/null || fail "the program ended before $op: $(cat "$work/err")"
  next=$([ $set_now = a ] && echo b || echo a)
  world "$set_now" "fault $op always" | write_world
  announce
  world "$next" "fault $op always" | write_world
  announce
  world "$next" | write_world
  announce
  set_now=$next
  # The list comes from the table the scans built; the last announced scan may still be
  # running, so ask again a few times before calling a difference a fault.
  expected=$([ $set_now = a ] && echo "$expected_a" || echo "$expected_b")
  for _ in 1 2 3 4; do
    ask_for_list
    [ "$(last_list)" = "$(sort <<<"$expected")" ] && break
    sleep 0.5
  done
  [ "$(last_list)" = "$(sort <<<"$expected")" ] ||
    fail "after faults in $op the list is: $(last_list | tr '\n' ';') expected: $expected"
done
echo QUIT >&3
wait "$service_pid" || fail "exit status $? after QUIT"
exec 3>&-
[ ! -s "$work/err" ] || fail "standard error: $(cat "$work/err")"
echo ok
