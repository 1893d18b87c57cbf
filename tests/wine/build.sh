#!/usr/bin/env bash
# Builds what the Wine tests run: the Windows program and its helpers (mingw preset) and, where
# only 64-bit programs can run, a 64-bit build of the helpers.
set -euo pipefail
source_dir=${VORLIN_SOURCE_DIR:?}
cd "$source_dir"
cmake --preset mingw >/dev/null
cmake --build --preset mingw
if ! timeout 30 /usr/lib/wine/wine --version >/dev/null 2>&1 &&
   command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1; then
  cmake -G Ninja -S tests/wine/helpers -B build/mingw64-helpers -DCMAKE_BUILD_TYPE=Release \
    --toolchain "$source_dir/cmake/toolchain-mingw-x86_64.cmake" >/dev/null
  cmake --build build/mingw64-helpers -j2
fi
