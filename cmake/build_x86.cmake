# Run by the package's install step, and by the tests that need the 32-bit programs: brings the 32-bit
# Corvix.exe (and the targets in CORVIX_X86_TARGETS, when given) up to date in CORVIX_X86_BUILD_DIR,
# configuring that build with the mingw-x86 preset first when it has never been configured.
# Expects CORVIX_CMAKE, CORVIX_SOURCE_DIR and CORVIX_X86_BUILD_DIR.
set(how "Build it yourself with: cmake --preset mingw-x86 && cmake --build --preset mingw-x86 (it needs
MinGW-w64's i686 compilers, Debian's g++-mingw-w64-i686)")
if(NOT EXISTS "${CORVIX_X86_BUILD_DIR}/CMakeCache.txt")
  message(STATUS "Configuring the 32-bit build in ${CORVIX_X86_BUILD_DIR}")
  execute_process(COMMAND "${CORVIX_CMAKE}" --preset mingw-x86 -B "${CORVIX_X86_BUILD_DIR}"
                  WORKING_DIRECTORY "${CORVIX_SOURCE_DIR}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "The package needs the 32-bit Corvix.exe, and its build could not be configured. ${how}")
  endif()
endif()
if(NOT CORVIX_X86_TARGETS)
  set(CORVIX_X86_TARGETS Corvix)
endif()
message(STATUS "Building the 32-bit ${CORVIX_X86_TARGETS} in ${CORVIX_X86_BUILD_DIR}")
execute_process(COMMAND "${CORVIX_CMAKE}" --build "${CORVIX_X86_BUILD_DIR}" --target ${CORVIX_X86_TARGETS} --parallel
                RESULT_VARIABLE failed)
if(failed OR NOT EXISTS "${CORVIX_X86_BUILD_DIR}/app/win32/Corvix.exe")
  message(FATAL_ERROR "The package needs the 32-bit Corvix.exe, and it could not be built. ${how}")
endif()
