# 32-bit Windows (i686) with Debian's MinGW-w64 cross compilers.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VANTREL_MINGW_TRIPLE i686-w64-mingw32)
set(VANTREL_WINE_LOADER_NAME wine)
# Floating-point arithmetic in SSE2 registers, not the x87 unit: x87 rounds
# to its 64-bit mantissa and again when storing, so a division or product
# could land one unit in the last place away from the double it names, and
# the x87 precision is a per-thread setting that the host may have lowered.
# Every processor that runs a supported Windows has SSE2.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
