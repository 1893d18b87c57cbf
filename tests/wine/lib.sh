# Shared by the Wine tests: the session environment, the build trees and small waiting helpers.
# Sourced; expects VORLIN_SOURCE_DIR (the repository). Exits 77 when Wine cannot run here.
set -euo pipefail

source_dir=${VORLIN_SOURCE_DIR:?}
mingw_dir=$source_dir/build/mingw

session_env=$("$source_dir/scripts/wine-session.sh" env) || exit $?
eval "$session_env"

# The build whose programs this machine's Wine runs: the 32-bit product where it can, else the
# 64-bit build of the same sources.
if [ "$VORLIN_WINE_ARCH" = win32 ]; then
  windows_dir=$mingw_dir
else
  windows_dir=$source_dir/build/mingw64
fi
helpers_dir=$windows_dir/tests/wine/helpers
exe=$windows_dir/src/app/vorlin-discovery.exe
fakes_dir=$windows_dir/fakes

work=$(mktemp -d)
cleanup_pids=()
cleanup() {
  for pid in "${cleanup_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Every wine call of a test: under timeout, with output to files (never to the test's own pipe,
# which Wine's helper processes could otherwise keep open).
wine_run() {
  local seconds=$1
  shift
  timeout --kill-after=5 "$seconds" "$WINELOADER" "$@"
}

# count_of FILE LINE: how many lines of FILE equal LINE. Windows programs end their lines with
# CR LF in text mode.
count_of() { tr -d '\r' <"$1" 2>/dev/null | grep -cx -- "$2" || true; }

# wait_until SECONDS COMMAND...: polls COMMAND until it succeeds; fails after SECONDS.
wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.05
  done
}

# wait_for_count FILE LINE COUNT SECONDS: until FILE holds COUNT lines equal to LINE.
has_count() { [ "$(count_of "$1" "$2")" -ge "$3" ]; }
wait_for_count() { wait_until "$4" has_count "$1" "$2" "$3"; }

# events_of FILE: the events of a service's output, one line each, in order: "TYPE ADDRESS |LABEL|
# MODEL SERIAL" for "add" and each port of a "list" ("list-port", after a line "list"), "remove
# ADDRESS", or the bare type of a reply. Carriage returns are dropped.
events_of() {
  tr -d '\r' <"$1" | awk '
    function flush() {
      if (type == "") return
      if (type == "add" || type == "list-port") print type, address, "|" label "|", model, serial
      else if (type == "remove") print type, address
      else if (type != "list") print type
    }
    /^"eventType": / { flush(); type = $2; gsub(/[",]/, "", type); address = label = ""; model = serial = "-"
                       if (type == "list") print "list" }
    /^"address": / { if (type == "list" || type == "list-port") { flush(); type = "list-port"; model = serial = "-" }
                     address = $2; gsub(/[",]/, "", address) }
    /^"label": / { label = substr($0, 11); sub(/",$/, "", label) }
    /^"modelID": / { model = $2; gsub(/[",]/, "", model) }
    /^"serialNumber": / { serial = $2; gsub(/[",]/, "", serial) }
    END { flush() }'
}

# wait_for_event FILE PATTERN COUNT SECONDS: until COUNT event lines of FILE match PATTERN (an
# extended regular expression).
has_events() { [ "$(events_of "$1" | grep -cE -- "$2" || true)" -ge "$3" ]; }
wait_for_event() { wait_until "$4" has_events "$1" "$2" "$3"; }

# Runs the service with the fake system libraries, answering from the world file $work/world
# (written by the test). Its standard input is the fifo $work/stdin, kept open on descriptor 3;
# its output goes to $work/out and $work/err.
start_service_with_fakes() {
  mkdir -p "$work/program"
  cp "$exe" "$fakes_dir/setupapi.dll" "$fakes_dir/cfgmgr32.dll" "$fakes_dir/hid.dll" \
    "$work/program/"
  mkfifo "$work/stdin"
  VORLIN_FAKE_WORLD=$(winepath_of "$work/world") \
    WINEDLLOVERRIDES="setupapi,cfgmgr32,hid=n,b;mscoree,mshtml=" \
    wine_run "${service_seconds:-120}" "$work/program/vorlin-discovery.exe" <"$work/stdin" >"$work/out" \
    2>"$work/err" &
  service_pid=$!
  cleanup_pids+=("$service_pid")
  exec 3>"$work/stdin"
}

# The Windows path of a file, through Wine's Z: drive (the root of this machine).
winepath_of() { printf 'Z:%s' "$(realpath "$1" | tr / '\\')"; }

# Replaces the world file in one step, so that the fakes never read half of it.
write_world() {
  cat >"$work/world.next"
  mv "$work/world.next" "$work/world"
}
