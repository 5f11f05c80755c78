# Cross-compilation to 32-bit Windows, for the x86 modules (build/x86, made by
# the main build; cmake/x86.cmake): the 64-bit toolchain file with the i686
# compilers and no emulator.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
