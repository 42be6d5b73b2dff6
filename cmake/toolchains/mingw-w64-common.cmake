# Shared part of the MinGW-w64 cross toolchains: Debian's posix-threaded
# compilers, programs found on the build machine, libraries and headers only
# in the target's tree. Everything links statically (libgcc, libstdc++,
# winpthread), so vantrel.dll and the test programs need no MinGW run-time
# DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VANTREL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VANTREL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VANTREL_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VANTREL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Programs of the target run through Wine (tests, test discovery).
find_program(VANTREL_WINE_LOADER NAMES ${VANTREL_WINE_LOADER_NAME}
  PATHS /usr/lib/wine /usr/lib/x86_64-linux-gnu/wine /usr/lib/i386-linux-gnu/wine NO_DEFAULT_PATH)
if(VANTREL_WINE_LOADER)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VANTREL_WINE_LOADER})
endif()
