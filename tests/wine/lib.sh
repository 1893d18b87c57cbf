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

# wait_for_count FILE LINE COUNT SECONDS: until FILE holds COUNT lines equal to LINE.
wait_for_count() {
  local file=$1 line=$2 count=$3 seconds=$4
  local deadline=$((SECONDS + seconds))
  while [ "$(count_of "$file" "$line")" -lt "$count" ]; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
}
