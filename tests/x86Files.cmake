# The x86 modules and their package, checked as files (this Wine cannot run
# 32-bit programs):
#   cmake -DX86=build/x86 -DMSI=...-x86.msi -DOBJDUMP=i686-w64-mingw32-objdump -DMSIINFO=msiinfo -P x86Files.cmake
set(failed)

# PE32 (optional header magic 0x10b) for the i386 machine (0x14c).
foreach(module velmoraRemoteConsole.dll velmora-zova.exe pagehost.exe)
  file(READ ${X86}/bin/${module} offset HEX OFFSET 60 LIMIT 4)
  string(REGEX REPLACE "^(..)(..)(..)(..)$" "\\4\\3\\2\\1" offset "${offset}")
  math(EXPR pe "0x${offset}")
  file(READ ${X86}/bin/${module} header HEX OFFSET ${pe} LIMIT 26)
  string(SUBSTRING "${header}" 0 12 signature)
  string(SUBSTRING "${header}" 48 4 magic)
  if(NOT signature STREQUAL "504500004c01" OR NOT magic STREQUAL "0b01")
    list(APPEND failed "${module} is not a PE32 i386 module: ${header}")
  endif()
endforeach()

execute_process(COMMAND ${OBJDUMP} -p ${X86}/bin/velmoraRemoteConsole.dll OUTPUT_VARIABLE exports)
foreach(name DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer)
  if(NOT exports MATCHES "\\] ${name}\n")
    list(APPEND failed "velmoraRemoteConsole.dll does not export ${name} undecorated")
  endif()
endforeach()

# The type library the x86 module embeds is a win32 one (syskind 1 in the low
# bits of the header's flags), with the enum members' help strings.
set(tlb ${X86}/generated/axplugin/velmoraRemoteConsole.tlb)
file(READ ${tlb} flags HEX OFFSET 20 LIMIT 1)
math(EXPR syskind "0x${flags} & 15")
file(STRINGS ${tlb} help REGEX "ZOVA is connected to a remote VM\\.")
if(NOT syskind EQUAL 1 OR NOT help)
  list(APPEND failed "${tlb}: syskind ${syskind}, member help [${help}]")
endif()

# The package: an Intel package, 32-bit components under Program Files (x86),
# the type library registered for win32.
execute_process(COMMAND ${MSIINFO} suminfo ${MSI} OUTPUT_VARIABLE summary)
execute_process(COMMAND ${MSIINFO} export ${MSI} Component OUTPUT_VARIABLE components)
execute_process(COMMAND ${MSIINFO} export ${MSI} Directory OUTPUT_VARIABLE directories)
execute_process(COMMAND ${MSIINFO} export ${MSI} Registry OUTPUT_VARIABLE rows)
execute_process(COMMAND ${MSIINFO} export ${MSI} File OUTPUT_VARIABLE files)
if(NOT summary MATCHES "Template: Intel;1033")
  list(APPEND failed "package template: ${summary}")
endif()
if(NOT components MATCHES "\tINSTALLDIR\t0\t\tvelmoraRemoteConsole.dll" OR
   NOT components MATCHES "\tINSTALLDIR\t0\t\tvelmora_zova.exe")
  list(APPEND failed "package components are not 32-bit ones: ${components}")
endif()
if(NOT directories MATCHES "ProgramFilesFolder" OR directories MATCHES "ProgramFiles64Folder")
  list(APPEND failed "package folder: ${directories}")
endif()
if(NOT rows MATCHES "\\\\409\\\\win32\t\t\\[#velmoraRemoteConsole.dll\\]" OR rows MATCHES "win64")
  list(APPEND failed "package type library rows: ${rows}")
endif()
if(NOT files MATCHES "velmoraRemoteConsole.dll" OR NOT files MATCHES "velmora-zova.exe")
  list(APPEND failed "package files: ${files}")
endif()

if(failed)
  string(REPLACE ";" "\n" failed "${failed}")
  message(FATAL_ERROR "${failed}")
endif()
message("x86 modules and package: ok")
