# Per-target warnings; errors when VEXORIN_WERROR is on (CI).
function(vexorin_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wconversion -Wshadow)
  if(VEXORIN_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# One GoogleTest executable per unit, registered with ctest as one test.
function(vexorin_add_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE vexorin_core GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE VEXORIN_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data")
  vexorin_warnings(${name})
  add_test(NAME ${name} COMMAND ${name})
  vexorin_test_environment(${name})
endfunction()

# Windows tests run under Wine in the build tree's own 32-bit prefix.
function(vexorin_test_environment test)
  if(WIN32)
    set_tests_properties(${test} PROPERTIES ENVIRONMENT
      "WINEARCH=win32;WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=")
  endif()
endfunction()
