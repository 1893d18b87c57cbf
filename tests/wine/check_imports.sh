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
exit $status
