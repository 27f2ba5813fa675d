# Shared by the MinGW-w64 toolchain files: the compilers and search roots for MINGW_PREFIX
# (set by the including file together with CMAKE_SYSTEM_PROCESSOR).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Tests run the Windows programs under Wine (with Debian's wine32, 32-bit ones too).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
