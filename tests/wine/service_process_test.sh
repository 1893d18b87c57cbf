#!/usr/bin/env bash
# The Windows program as a whole under Wine: it starts, its monitor thread makes the hidden window
# with the real device backend behind it, a broadcast device-change message is answered, and the
# process ends with status 0 after "QUIT" and at the end of its input, silent on standard error.
source "$(dirname "$0")/lib.sh"

if [ "$VORLIN_WINE_ARCH" != win32 ]; then
  echo "skipped: this machine's Wine cannot start 32-bit programs"
  exit 77
fi

exe=$mingw_dir/src/app/vorlin-discovery.exe
tool=$helpers_dir/window-tool.exe

mkfifo "$work/stdin"
wine_run 60 "$exe" <"$work/stdin" >"$work/out" 2>"$work/err" &
service_pid=$!
cleanup_pids+=("$service_pid")
exec 3>"$work/stdin"

wine_run 30 "$tool" check >"$work/check.out" 2>&1 || fail "$(cat "$work/check.out")"
wine_run 30 "$tool" broadcast >"$work/tool.out" 2>&1 || fail "broadcast: $(cat "$work/tool.out")"
echo QUIT >&3
wait "$service_pid" || fail "exit status $? after QUIT"
exec 3>&-
[ ! -s "$work/err" ] || fail "standard error: $(cat "$work/err")"

wine_run 60 "$exe" </dev/null >"$work/out" 2>"$work/err" || fail "exit status $? at end of input"
[ ! -s "$work/err" ] || fail "standard error: $(cat "$work/err")"
echo ok
