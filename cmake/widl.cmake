# Compiles an IDL file with mingw-w64's widl into a 64-bit type library, a C++
# header with __CRT_UUID_DECL lines and a file of GUID definitions.
find_program(WIDL x86_64-w64-mingw32-widl REQUIRED)
set(WIDL_IMPORTS /usr/include/wine/wine/windows)

function(zova_widl idl)
  cmake_parse_arguments(W "" "OUTPUT_DIR" "" ${ARGN})
  get_filename_component(base ${idl} NAME_WE)
  get_filename_component(src ${idl} ABSOLUTE)
  set(out ${W_OUTPUT_DIR})
  file(MAKE_DIRECTORY ${out})
  add_custom_command(
    OUTPUT ${out}/${base}.h ${out}/${base}_i.c ${out}/${base}.tlb
    COMMAND ${WIDL} --win64 -I${WIDL_IMPORTS} -I${CMAKE_CURRENT_SOURCE_DIR}
            -L /usr/lib/x86_64-linux-gnu/wine/x86_64-windows
            -h -H ${out}/${base}.h -u -U ${out}/${base}_i.c -t -T ${out}/${base}.tlb ${src}
    DEPENDS ${src}
    COMMENT "widl ${base}.idl"
    VERBATIM)
endfunction()
