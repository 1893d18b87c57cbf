#!/usr/bin/env bash
# The program must run on a bare Windows: it may import system DLLs only. cfgmgr32 is not one of
# them at link time, because its optional functions are looked up at run time and must be allowed
# to be missing.
set -euo pipefail
exe=${VORLIN_SOURCE_DIR:?}/build/mingw/src/app/vorlin-discovery.exe
[ -f "$exe" ] || { echo "FAIL: $exe not built" >&2; exit 1; }

i686-w64-mingw32-objdump -f "$exe" | grep -q 'file format pei-i386' ||
  { echo "FAIL: not a 32-bit Windows program" >&2; exit 1; }

allowed='^(kernel32|user32|advapi32|setupapi|hid|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$'
status=0
dlls=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' |
       tr '[:upper:]' '[:lower:]')
[ -n "$dlls" ] || { echo "FAIL: no import table found" >&2; exit 1; }
for dll in $dlls; do
  if ! [[ $dll =~ $allowed ]]; then
    echo "FAIL: imports $dll" >&2
    status=1
  fi
done

# Every function the program imports from a library that the Wine tests replace must be exported
# by the fake: a missing one would make Wine stop the program in its debugger instead of failing
# a test. The optional configuration-manager functions, looked up at run time, count too.
# exported_names OBJDUMP DLL: the names a library exports, one a line.
exported_names() {
  "$1" -p "$2" | sed -nE 's/^[[:space:]]*\[[[:space:]]*[0-9]+\] ([A-Za-z0-9_]+)$/\1/p'
}
# imported_names OBJDUMP EXE DLL: the names a program imports from one library, one a line.
imported_names() {
  "$1" -p "$2" | awk -v dll="$3" '
    tolower($0) ~ "dll name: " dll { t = 1; getline; next }
    t && NF == 0 { t = 0 }
    t { print $NF }'
}
fakes_match() {
  local objdump=$1 exe=$2 fakes=$3
  [ -f "$exe" ] && [ -d "$fakes" ] || return 0
  local dll name exports
  for dll in setupapi hid; do
    exports=$(exported_names "$objdump" "$fakes/$dll.dll")
    for name in $(imported_names "$objdump" "$exe" "$dll.dll"); do
      grep -qx "$name" <<<"$exports" || { echo "FAIL: fake $dll.dll lacks $name" >&2; status=1; }
    done
  done
  exports=$(exported_names "$objdump" "$fakes/cfgmgr32.dll")
  for name in CM_Get_DevNode_Registry_PropertyW CM_Open_DevNode_Key; do
    grep -qx "$name" <<<"$exports" || { echo "FAIL: fake cfgmgr32.dll lacks $name" >&2; status=1; }
  done
}
root=${VORLIN_SOURCE_DIR:?}
fakes_match i686-w64-mingw32-objdump "$exe" "$root/build/mingw/fakes"
if command -v x86_64-w64-mingw32-objdump >/dev/null; then
  fakes_match x86_64-w64-mingw32-objdump "$root/build/mingw64/src/app/vorlin-discovery.exe" \
    "$root/build/mingw64/fakes"
fi
exit $status
