# Cross-compiling for 64-bit Windows with MinGW-w64 (Debian's mingw-w64 packages).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
