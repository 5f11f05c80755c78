# Compiles an IDL file with mingw-w64's widl into a type library for the
# target's pointer size, a C++ header with __CRT_UUID_DECL lines and a file of
# GUID definitions. The type library lands in OUTPUT_DIR too unless TYPELIB
# names its path.
find_program(WIDL x86_64-w64-mingw32-widl REQUIRED)
set(WIDL_IMPORTS /usr/include/wine/wine/windows)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(WIDL_TARGET --win32)
else()
  set(WIDL_TARGET --win64)
endif()

function(zova_widl idl)
  cmake_parse_arguments(W "" "OUTPUT_DIR;TYPELIB" "" ${ARGN})
  get_filename_component(base ${idl} NAME_WE)
  get_filename_component(src ${idl} ABSOLUTE)
  set(out ${W_OUTPUT_DIR})
  set(tlb ${out}/${base}.tlb)
  if(W_TYPELIB)
    set(tlb ${W_TYPELIB})
  endif()
  get_filename_component(tlb_dir ${tlb} DIRECTORY)
  file(MAKE_DIRECTORY ${out} ${tlb_dir})
  add_custom_command(
    OUTPUT ${out}/${base}.h ${out}/${base}_i.c ${tlb}
    COMMAND ${WIDL} ${WIDL_TARGET} -I${WIDL_IMPORTS} -I${CMAKE_CURRENT_SOURCE_DIR}
            -L /usr/lib/x86_64-linux-gnu/wine/x86_64-windows
            -h -H ${out}/${base}.h -u -U ${out}/${base}_i.c -t -T ${tlb} ${src}
    DEPENDS ${src}
    COMMENT "widl ${base}.idl"
    VERBATIM)
endfunction()
