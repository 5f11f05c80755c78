# The x86 modules, for browsers that run as 32-bit processes: the control, the
# console and the page host, built in build/x86 with the i686 toolchain and
# this build's build-time tools (they run under 64-bit Wine). Debian's wine32
# cannot be installed beside this Wine, so the tests check the x86 modules and
# their package as files.
find_program(ZOVA_I686_CXX i686-w64-mingw32-g++-posix)
if(NOT ZOVA_I686_CXX)
  message(WARNING "i686-w64-mingw32-g++-posix not found: no x86 modules")
  return()
endif()
set(ZOVA_X86_DIR ${CMAKE_BINARY_DIR}/x86 CACHE INTERNAL "")
add_custom_command(
  OUTPUT ${ZOVA_X86_DIR}/CMakeCache.txt
  COMMAND ${CMAKE_COMMAND} -S ${CMAKE_SOURCE_DIR} -B ${ZOVA_X86_DIR}
          -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-w64-i686.cmake
          -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE} -DZOVA_HOST_TOOLS=${CMAKE_BINARY_DIR}/bin
          -DZOVA_BUILD_NUMBER=${ZOVA_BUILD_NUMBER} -DZOVA_SIGNING_DIR=${ZOVA_SIGNING_DIR}
  COMMENT "configuring the x86 modules in ${ZOVA_X86_DIR}"
  VERBATIM)
add_custom_target(x86_modules ALL
  COMMAND ${CMAKE_COMMAND} --build ${ZOVA_X86_DIR} -j2
  DEPENDS ${ZOVA_X86_DIR}/CMakeCache.txt tlbcomplete signing_certificate
  COMMENT "x86 modules"
  VERBATIM)
