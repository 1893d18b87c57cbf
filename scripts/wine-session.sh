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
# of this repository. `env` also sets VORLIN_WINE_ARCH: win32 when Wine's 32-bit loader runs here
# (the service can run), win64 when only the 64-bit one does (some kernels execute 64-bit programs
# only; then only 64-bit test programs can run). Exits 77 (a skip for CTest) when neither runs.
#
# Why it is done this way:
# - A wine command run without DISPLAY while the wineserver lives breaks the windows of later
#   commands, so every command of the session gets the same DISPLAY.
# - The crash dialog is switched off in the prefix: a program that faults (for example on an
#   import that a DLL does not export) would otherwise wait in the debugger for ever.
# - Wine's helper processes (services, explorer) outlive the command that started them and keep
#   its standard output open; the session starts them with output to its log, so that a caller
#   reading a test's output through a pipe is not kept waiting by them. For the same reason
#   nothing long-lived inherits the session lock's descriptor (it would hold the lock).
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

# The 32-bit loader first: it is the one the service needs. The wine wrapper would always pick it.
if timeout 30 /usr/lib/wine/wine --version >/dev/null 2>&1; then
  wine_arch=win32
  wine_loader=/usr/lib/wine/wine
elif timeout 30 /usr/lib/wine/wine64 --version >/dev/null 2>&1; then
  wine_arch=win64
  wine_loader=/usr/lib/wine/wine64
else
  wine_arch=none
  wine_loader=
fi
export WINELOADER=$wine_loader
# The server binary itself: Debian's wineserver wrapper forces "-p0" (no persistence).
if [ -x /usr/lib/wine/wineserver64 ]; then
  export WINESERVER=/usr/lib/wine/wineserver64
else
  export WINESERVER=/usr/lib/wine/wineserver32
fi

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
    3>"$session_dir/display" </dev/null >>"$log" 2>&1 9>&- &
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
  timeout 600 "$wine_loader" wineboot -i </dev/null >>"$log" 2>&1 9>&-
  timeout 120 "$wine_loader" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    </dev/null >>"$log" 2>&1 9>&-
  # Let the wineserver of the set-up end, which writes the registry to the prefix.
  timeout 120 "$WINESERVER" -w
  echo "$wine_arch" >"$prefix/.vorlin-ready"
}

start() {
  if [ "$wine_arch" = none ]; then
    note "this machine cannot run Wine's loader; skipping"
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
  # A prefix belongs to the loader that made it.
  if [ "$(cat "$prefix/.vorlin-ready" 2>/dev/null)" != "$wine_arch" ]; then
    timeout 60 "$WINESERVER" -k >/dev/null 2>&1 || true
    make_prefix
  fi
  if ! timeout 10 "$WINESERVER" -p </dev/null >>"$log" 2>&1 9>&-; then
    # Already running: its persistence was set by the command that started it.
    :
  fi
  if [ ! -e "$session_dir/warm" ] || [ "$(cat "$session_dir/warm")" != "$DISPLAY" ]; then
    timeout 120 "$wine_loader" cmd /c exit </dev/null >>"$log" 2>&1 9>&-
    echo "$DISPLAY" >"$session_dir/warm"
  fi
  exec 9>&-
}

stop() {
  exec 9>"$session_dir/lock"
  flock 9
  timeout 60 "$WINESERVER" -k >/dev/null 2>&1 || true
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
    printf 'export WINEPREFIX=%q WINEDEBUG=%q DISPLAY=%q WINELOADER=%q WINESERVER=%q VORLIN_WINE_ARCH=%q\n' \
      "$WINEPREFIX" "$WINEDEBUG" "$DISPLAY" "$WINELOADER" "$WINESERVER" "$wine_arch"
    ;;
  run)
    seconds=60
    if [ "${1:-}" = "--timeout" ]; then
      seconds=$2
      shift 2
    fi
    start
    exec timeout --kill-after=5 "$seconds" "$wine_loader" "$@"
    ;;
  stop)
    stop
    ;;
  *)
    sed -n '2,12p' "$0" >&2
    exit 2
    ;;
esac
