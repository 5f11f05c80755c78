# Attach across two page-host processes:
#   cmake -DHOST=pagehost.exe -DEMULATOR=wine -DPAGES=dir -DWORK=dir -DIDLE_MS=n -P attachAcross.cmake
# The first page starts a persistent console and ends; the second takes it
# over by its ID, drives it and lets it go. The console's idle limit is kept
# short so that it does not outlive the test; the second page checks that it
# has ended.
set(ENV{ZOVA_CONSOLE_FAULTS} "idle-ms=${IDLE_MS}")

# Output goes to files, not pipes: under Wine the console process that a
# page starts keeps the page host's standard output open (even without handle
# inheritance), and reading a pipe would wait until the console ends.
function(run_page page out_var)
  set(out_file ${WORK}/${page}.out)
  set(err_file ${WORK}/${page}.err)
  execute_process(COMMAND ${EMULATOR} ${HOST} ${PAGES}/${page} ${ARGN}
                  RESULT_VARIABLE status OUTPUT_FILE ${out_file} ERROR_FILE ${err_file})
  file(READ ${out_file} out)
  file(READ ${err_file} err)
  string(REPLACE "\r" "" out "${out}")
  message("${page}: exit status ${status}\n--- stdout\n${out}--- stderr\n${err}---")
  if(NOT status STREQUAL "0")
    message(FATAL_ERROR "${page} ended with status ${status}")
  endif()
  set(${out_var} "${out}" PARENT_SCOPE)
endfunction()

run_page(attachStart.html first)
if(NOT first MATCHES "state 2 host-a\\.lab\\.example\n")
  message(FATAL_ERROR "the first page saw no connection event")
endif()
if(NOT first MATCHES "id (zova-ax-p-{[0-9A-F-]+})\n")
  message(FATAL_ERROR "the first page gave no persistent instance id")
endif()
set(id "${CMAKE_MATCH_1}")

math(EXPR wait_ms "${IDLE_MS} + 1500")
run_page(attachTake.html second -- "${id}" ${wait_ms})
if(NOT second MATCHES "^done\n$")
  message(FATAL_ERROR "the second page did not run to its end cleanly")
endif()
