#!/usr/bin/env bash
# The monitor's hidden window under Wine, in a probe that runs it the way the service does:
# how the window is made, a scan per timer tick, a scan for a broadcast device-change message
# (sent, reaching the window procedure) and for a posted one (taken by the loop), a posted quit
# message that does not end the loop, and a process that ends at the end of its input.
source "$(dirname "$0")/lib.sh"

probe=$helpers_dir/monitor-window-probe.exe
tool=$helpers_dir/window-tool.exe
out=$work/probe.out

mkfifo "$work/stdin"
wine_run 60 "$probe" <"$work/stdin" >"$out" 2>"$work/probe.err" &
probe_pid=$!
cleanup_pids+=("$probe_pid")
exec 3>"$work/stdin"

wait_for_count "$out" open 1 30 || fail "the window did not open: $(cat "$out" "$work/probe.err")"
wait_for_count "$out" "class ok" 1 5 || fail "window class: $(cat "$out")"
wine_run 30 "$tool" check >"$work/check.out" 2>&1 || fail "$(cat "$work/check.out")"

# The timer: ticks every 667 ms, each one scan of the loop.
wait_for_count "$out" "scan loop" 2 10 || fail "no timer scans: $(cat "$out")"

# A broadcast is sent, so it reaches the window procedure, which scans once.
wine_run 30 "$tool" broadcast >"$work/tool.out" 2>&1 || fail "broadcast: $(cat "$work/tool.out")"
wait_for_count "$out" "scan sent" 1 5 || fail "the broadcast caused no scan: $(cat "$out")"
[ "$(count_of "$out" "scan sent")" -eq 1 ] || fail "one broadcast, several scans: $(cat "$out")"

# A quit message does not end the loop: timer scans go on after it.
wine_run 30 "$tool" post quit >"$work/tool.out" 2>&1 || fail "post quit: $(cat "$work/tool.out")"
loops=$(count_of "$out" "scan loop")
wait_for_count "$out" "scan loop" $((loops + 2)) 10 || fail "the loop ended on a quit message"

# Posted messages are taken by the loop itself: never one from the window procedure.
wine_run 30 "$tool" post change >"$work/tool.out" 2>&1 || fail "post change: $(cat "$work/tool.out")"
wine_run 30 "$tool" post other >"$work/tool.out" 2>&1 || fail "post other: $(cat "$work/tool.out")"
sleep 1
[ "$(count_of "$out" "scan sent")" -eq 1 ] || fail "a posted message reached the procedure"

# End of input ends the process, with status 0 and nothing on standard error.
exec 3>&-
wait "$probe_pid" || fail "probe exit status $?"
[ ! -s "$work/probe.err" ] || fail "standard error: $(cat "$work/probe.err")"
tr -d '\r' <"$out" | grep -vxE 'open|class ok|scan loop|scan sent' && fail "unexpected output"
echo "ok: $(count_of "$out" "scan loop") loop scans, $(count_of "$out" "scan sent") sent"
