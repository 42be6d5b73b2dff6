# 32-bit Windows (i686) with Debian's MinGW-w64 cross compilers.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VANTREL_MINGW_TRIPLE i686-w64-mingw32)
set(VANTREL_WINE_LOADER_NAME wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
