# The x86 package's registry rows from the captured x64 ones: the type
# library's path key is win32 instead of win64.
#   cmake -DIN=registration.wxi -DOUT=x86/registration.wxi -P x86Rows.cmake
file(READ ${IN} rows)
string(REPLACE "\\win64\"" "\\win32\"" x86 "${rows}")
if(x86 STREQUAL rows)
  message(FATAL_ERROR "${IN} has no win64 type library row")
endif()
file(WRITE ${OUT} "${x86}")
