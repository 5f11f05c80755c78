# One GoogleTest executable per area, run by CTest under Wine from build/bin.
add_library(zova_test_main STATIC ${CMAKE_SOURCE_DIR}/tests/testMain.cpp)
target_link_libraries(zova_test_main PUBLIC gtest gmock ole32 oleaut32)

# Each entry gets a time-out that fits it (TIMEOUT seconds, 60 by default): a
# program that hangs or crashes shows as a failure within it, with its output.
# AS file: the entry runs a copy of the program under that file name (the
# control tells the browser's process by its executable's name).
function(zova_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT;AS" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE zova_test_main ${T_LIBS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  set(program ${name})
  if(T_AS)
    add_custom_command(TARGET ${name} POST_BUILD
                       COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${name}> $<TARGET_FILE_DIR:${name}>/${T_AS})
    set(program ${CMAKE_CROSSCOMPILING_EMULATOR} ${CMAKE_BINARY_DIR}/bin/${T_AS})
  endif()
  add_test(NAME ${name} COMMAND ${program} --gtest_color=no
           WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
endfunction()
