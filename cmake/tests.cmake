# One GoogleTest executable per area, run by CTest under Wine from build/bin.
add_library(zova_test_main STATIC ${CMAKE_SOURCE_DIR}/tests/testMain.cpp)
target_link_libraries(zova_test_main PUBLIC gtest gmock ole32 oleaut32)

# Each entry gets a time-out that fits it (TIMEOUT seconds, 60 by default): a
# program that hangs or crashes shows as a failure within it, with its output.
function(zova_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE zova_test_main ${T_LIBS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no
           WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
endfunction()
