# 64-bit mingw-w64 (x86_64) build of the Wine test helpers, for machines whose kernel runs 64-bit
# programs only (there Wine cannot start a 32-bit program). The service itself is 32-bit only.
# The -posix variants provide std::thread, which the probe uses like the service; static linking
# keeps the helpers free of runtime DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VORLIN_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VORLIN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORLIN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VORLIN_MINGW_PREFIX}-windres)
set(CMAKE_AR ${VORLIN_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${VORLIN_MINGW_PREFIX}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${VORLIN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static also pulls in the static winpthread that the -posix runtime needs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
