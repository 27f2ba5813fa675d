# The release zip, from the 64-bit MinGW build:
#
#   cmake --build --preset mingw-x64 --target package     ->  build/mingw-x64/Corvix-<version>-windows.zip
#
# It holds x64/Corvix.exe (this build's), x86/Corvix.exe (the mingw-x86 build's), what an installer author
# needs (docs/installers.md, docs/diagnostics.md) and SHA256SUMS (sha256sum's format: "hash  path" for each
# of the others). The same commit gives the same zip, byte
# for byte, wherever it is built (cmake/reproducible_zip.cmake). The 32-bit build lives in
# CORVIX_X86_BUILD_DIR; packaging configures it (with the mingw-x86 preset) when it is not configured yet
# and brings it up to date, so the target works on a fresh clone, or stops saying why it could not.

install(FILES $<TARGET_FILE:Corvix> DESTINATION x64)
install(CODE "
  set(CORVIX_CMAKE \"${CMAKE_COMMAND}\")
  set(CORVIX_SOURCE_DIR \"${PROJECT_SOURCE_DIR}\")
  set(CORVIX_X86_BUILD_DIR \"${CORVIX_X86_BUILD_DIR}\")
  include(\"${PROJECT_SOURCE_DIR}/cmake/build_x86.cmake\")")
install(FILES "${CORVIX_X86_BUILD_DIR}/app/win32/Corvix.exe" DESTINATION x86)
install(FILES docs/installers.md docs/diagnostics.md DESTINATION .)
install(CODE [[
  set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  set(sums "")
  foreach(file x64/Corvix.exe x86/Corvix.exe installers.md diagnostics.md)
    file(SHA256 "${root}/${file}" hash)
    string(APPEND sums "${hash}  ${file}\n")
  endforeach()
  file(WRITE "${root}/SHA256SUMS" "${sums}")]])

# CPack's zip carries the build's file times and owners; a post-build step re-writes it reproducibly.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(CPACK_CORVIX_PYTHON "${Python3_EXECUTABLE}")
set(CPACK_CORVIX_SOURCE_DIR "${PROJECT_SOURCE_DIR}")
set(CPACK_POST_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/reproducible_zip.cmake")

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Corvix)
set(CPACK_PACKAGE_VENDOR "Merrowin Software")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Merrowin Software toolbar uninstaller")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME "Corvix-${PROJECT_VERSION}-windows")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
