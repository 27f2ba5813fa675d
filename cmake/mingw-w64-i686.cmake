# Cross-compiling for 32-bit Windows with MinGW-w64 (Debian's mingw-w64 packages): the 32-bit Corvix.exe,
# and the 32-bit stand-in Office that the 64-bit build's tests run it against.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
