# Cross-building for Windows with Debian's MinGW-w64 compilers; included by
# the toolchain file of each target, which names DOORLINK_MINGW_PREFIX and
# CMAKE_SYSTEM_PROCESSOR. The posix thread model is used: its C++ runtime has
# every threading piece of the standard library, and -static links it
# (winpthreads included) into the DLL, so that the DLL needs nothing but
# system DLLs.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${DOORLINK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DOORLINK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${DOORLINK_MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL ${DOORLINK_MINGW_PREFIX}-dlltool)
set(CMAKE_OBJDUMP ${DOORLINK_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${DOORLINK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs and the DLL carry their C and C++ runtimes with them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
