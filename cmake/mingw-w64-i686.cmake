# Cross-compiling for 32-bit Windows with MinGW-w64 (Debian's mingw-w64 packages). Only Corvix.exe is built
# with it: Wine here is 64-bit only, so the stand-in Office and the tests that run programs stay 64-bit.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
