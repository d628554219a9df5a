# Shared part of the two MinGW toolchain files; KORVIX_TRIPLE names the target.
set(CMAKE_C_COMPILER ${KORVIX_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVIX_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVIX_TRIPLE}-windres)
set(KORVIX_WIDL ${KORVIX_TRIPLE}-widl)
set(CMAKE_FIND_ROOT_PATH /usr/${KORVIX_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Static runtime: the binaries run without the MinGW DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Tests of the Windows binaries run under Wine (x64 only on this platform).
if(KORVIX_TRIPLE STREQUAL "x86_64-w64-mingw32")
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
endif()
