#!/usr/bin/env bash
# One Wine session for a whole test suite: a test prefix made once and reused, one Xvfb display,
# and one persistent wineserver. Every wine call runs under `timeout`.
#
#   wine-session.sh [--dir DIR] start        make the prefix if needed, start Xvfb and wineserver
#   wine-session.sh [--dir DIR] env          start, then print the environment to `eval`
#   wine-session.sh [--dir DIR] run [--timeout SECONDS] PROGRAM [ARGS...]
#                                            start, then run PROGRAM under wine (default 60 s)
#   wine-session.sh [--dir DIR] stop         end the wineserver and Xvfb of the session
#
# DIR holds the prefix and the session's state; default: $VORLIN_WINE_DIR, else build/mingw/wine
# of this repository. Exits 77 (a skip for CTest) when this machine cannot run Wine's 32-bit
# loader at all, so that the suite says so instead of failing on every test.
#
# Why it is done this way:
# - A wine command run without DISPLAY while the wineserver lives breaks the windows of later
#   commands, so every command of the session gets the same DISPLAY.
# - The crash dialog is switched off in the prefix: a program that faults (for example on an
#   import that a DLL does not export) would otherwise wait in the debugger for ever.
# - Wine's helper processes (services, explorer) outlive the command that started them and keep
#   its standard output open; the session starts them with output to its log, so that a caller
#   reading a test's output through a pipe is not kept waiting by them.
set -euo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd "$script_dir/.." && pwd)
session_dir=${VORLIN_WINE_DIR:-$repo_root/build/mingw/wine}

if [ "${1:-}" = "--dir" ]; then
  session_dir=$2
  shift 2
fi
command=${1:-}
[ $# -gt 0 ] && shift

mkdir -p "$session_dir"
session_dir=$(cd "$session_dir" && pwd)
prefix=$session_dir/prefix
log=$session_dir/session.log

export WINEPREFIX=$prefix
export WINEDEBUG=-all
# Keeps wineboot from offering to install the .NET and HTML runtimes.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES-mscoree,mshtml=}

note() { echo "wine-session: $*" >&2; }

xvfb_alive() {
  [ -s "$session_dir/xvfb.pid" ] && [ -s "$session_dir/display" ] &&
    kill -0 "$(cat "$session_dir/xvfb.pid")" 2>/dev/null
}

start_xvfb() {
  rm -f "$session_dir/display" "$session_dir/xvfb.pid"
  # -displayfd lets Xvfb pick a free display and tell us once it accepts connections.
  setsid Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 \
    3>"$session_dir/display" </dev/null >>"$log" 2>&1 &
  echo $! >"$session_dir/xvfb.pid"
  for _ in $(seq 100); do
    [ -s "$session_dir/display" ] && return 0
    sleep 0.1
  done
  note "Xvfb did not start (see $log)"
  exit 1
}

make_prefix() {
  rm -rf "$prefix"
  note "making the Wine test prefix in $prefix"
  timeout 600 wineboot -i </dev/null >>"$log" 2>&1
  timeout 120 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    </dev/null >>"$log" 2>&1
  # Let the wineserver of the set-up end, which writes the registry to the prefix.
  timeout 120 wineserver -w
  touch "$prefix/.vorlin-ready"
}

start() {
  if ! timeout 30 wine --version >/dev/null 2>&1; then
    note "this machine cannot run Wine's loader ('wine --version' failed); skipping"
    note "install what is missing with scripts/install-windows-deps.sh"
    exit 77
  fi
  exec 9>"$session_dir/lock"
  flock 9
  if ! xvfb_alive; then
    start_xvfb
  fi
  DISPLAY=:$(cat "$session_dir/display")
  export DISPLAY
  if [ ! -e "$prefix/.vorlin-ready" ]; then
    timeout 60 wineserver -k >/dev/null 2>&1 || true
    make_prefix
  fi
  if ! timeout 10 wineserver -p </dev/null >>"$log" 2>&1; then
    # Already running: its persistence was set by the command that started it.
    :
  fi
  if [ ! -e "$session_dir/warm" ] || [ "$(cat "$session_dir/warm")" != "$DISPLAY" ]; then
    timeout 120 wine cmd /c exit </dev/null >>"$log" 2>&1
    echo "$DISPLAY" >"$session_dir/warm"
  fi
  exec 9>&-
}

stop() {
  exec 9>"$session_dir/lock"
  flock 9
  timeout 60 wineserver -k >/dev/null 2>&1 || true
  if xvfb_alive; then
    kill "$(cat "$session_dir/xvfb.pid")" 2>/dev/null || true
  fi
  rm -f "$session_dir/xvfb.pid" "$session_dir/display" "$session_dir/warm"
}

case "$command" in
  start)
    start
    ;;
  env)
    start
    printf 'export WINEPREFIX=%q WINEDEBUG=%q DISPLAY=%q\n' "$WINEPREFIX" "$WINEDEBUG" "$DISPLAY"
    ;;
  run)
    seconds=60
    if [ "${1:-}" = "--timeout" ]; then
      seconds=$2
      shift 2
    fi
    start
    exec timeout --kill-after=5 "$seconds" wine "$@"
    ;;
  stop)
    stop
    ;;
  *)
    sed -n '2,12p' "$0" >&2
    exit 2
    ;;
esac
