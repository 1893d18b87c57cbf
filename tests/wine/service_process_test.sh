#!/usr/bin/env bash
# The Windows program under Wine with Wine's own device libraries (no fakes): every reply byte for
# byte with CR LF line ends, exit status 0 after "QUIT" and at the end of input, nothing on
# standard error. Wine's configuration manager is mostly stubs and it offers two virtual HID
# devices: the service must cope with both, keep scanning, and report no board.
source "$(dirname "$0")/lib.sh"

crlf() { sed 's/$/\r/'; }
expected=$work/expected
{
  printf '{\n"eventType": "hello",\n"protocolVersion": 1,\n"message": "OK"\n}\n'
  printf '{\n"eventType": "list",\n"ports": [\n]\n}\n'
  printf '{\n"eventType": "start",\n"message": "OK"\n}\n'
  printf '{\n"eventType": "stop",\n"message": "OK"\n}\n'
  printf '{\n"eventType": "start_sync",\n"message": "OK"\n}\n'
  printf '{\n"eventType": "list",\n"ports": [\n]\n}\n'
  printf '{\n"eventType": "quit",\n"message": "OK"\n}\n'
} | crlf >"$expected"

mkfifo "$work/stdin"
wine_run 60 "$exe" <"$work/stdin" >"$work/out" 2>"$work/err" &
service_pid=$!
cleanup_pids+=("$service_pid")
exec 3>"$work/stdin"
printf 'HELLO 1 "me"\nLIST\nSTART\nSTOP\nSTART_SYNC\n' >&3
wine_run 30 "$helpers_dir/window-tool.exe" check >"$work/check.out" 2>&1 ||
  fail "$(cat "$work/check.out")"
wine_run 30 "$helpers_dir/window-tool.exe" broadcast >"$work/tool.out" 2>&1 ||
  fail "broadcast: $(cat "$work/tool.out")"
sleep 1.5  # two timer ticks: scans over Wine's own libraries
printf 'LIST\nQUIT\nLIST\n' >&3
wait "$service_pid" || fail "exit status $? after QUIT"
exec 3>&-
cmp -s "$expected" "$work/out" || fail "output differs: $(cat -A "$work/out")"
[ ! -s "$work/err" ] || fail "standard error: $(cat "$work/err")"

printf 'LIST\n' | wine_run 60 "$exe" >"$work/out" 2>"$work/err" ||
  fail "exit status $? at end of input"
printf '{\n"eventType": "list",\n"ports": [\n]\n}\n' | crlf | cmp -s - "$work/out" ||
  fail "output at end of input: $(cat -A "$work/out")"
[ ! -s "$work/err" ] || fail "standard error: $(cat "$work/err")"
echo ok
