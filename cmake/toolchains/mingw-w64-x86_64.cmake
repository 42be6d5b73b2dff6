# 64-bit Windows (x86-64) with Debian's MinGW-w64 cross compilers.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VANTREL_MINGW_TRIPLE x86_64-w64-mingw32)
set(VANTREL_WINE_LOADER_NAME wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
