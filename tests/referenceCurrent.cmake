# The scripting reference and the declarations in docs/ are the ones the build
# writes from the type library (make docs copies them there):
#   cmake -DGENERATED=build/docs -DDOCS=docs -P referenceCurrent.cmake
set(stale)
foreach(name api.md velmoraRemoteConsole.d.ts)
  file(READ ${GENERATED}/${name} built)
  set(kept "")
  if(EXISTS ${DOCS}/${name})
    file(READ ${DOCS}/${name} kept)
  endif()
  if(NOT built STREQUAL kept)
    execute_process(COMMAND diff -u ${DOCS}/${name} ${GENERATED}/${name})
    list(APPEND stale docs/${name})
  endif()
endforeach()
if(stale)
  message(FATAL_ERROR "${stale}: not what the build writes from the type library; run make docs")
endif()
