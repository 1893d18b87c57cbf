#!/usr/bin/env bash
# Builds what the Wine tests run: the Windows program, the fake system libraries and the helper
# programs (mingw preset, 32-bit). Where this machine cannot run 32-bit programs, the same
# sources are also built 64-bit (mingw64 preset) for a 64-bit Wine.
set -euo pipefail
source_dir=${VORLIN_SOURCE_DIR:?}
cd "$source_dir"
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j 2
if ! timeout 30 /usr/lib/wine/wine --version >/dev/null 2>&1 &&
  command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1; then
  cmake --preset mingw64 >/dev/null
  cmake --build --preset mingw64 -j 2
fi
