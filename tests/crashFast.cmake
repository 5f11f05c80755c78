# Runs a program that crashes: it must end within seconds, with a failing
# status and the output it wrote before the crash.
#   cmake -DEMULATOR=wine -DPROGRAM=crashprobe.exe -P crashFast.cmake
string(TIMESTAMP start "%s")
execute_process(COMMAND ${EMULATOR} ${PROGRAM} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err
                TIMEOUT 20)
string(TIMESTAMP end "%s")
math(EXPR took "${end} - ${start}")
message("exit status: ${status} after ${took} s\n--- stdout\n${out}--- stderr\n${err}---")
if(NOT status MATCHES "^[0-9]+$" OR status EQUAL 0)
  message(FATAL_ERROR "a crash must end the program with a failing status, got '${status}'")
endif()
if(took GREATER 10)
  message(FATAL_ERROR "the crash took ${took} s to end the program")
endif()
if(NOT out MATCHES "about to crash")
  message(FATAL_ERROR "the output before the crash is lost")
endif()
