# What the two Windows toolchains share; each sets VORLIN_MINGW_PREFIX and the processor first.
#
# The -posix compiler variants are used because the core relies on std::thread and std::mutex,
# which the -win32 thread model of mingw-w64 does not provide. Programs are linked fully
# statically so that they import system DLLs only: no libstdc++, libgcc or winpthread DLL has to
# travel with them.
set(CMAKE_SYSTEM_NAME Windows)

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
