# Every target of the project's own: its warnings (errors when VEXORIN_WERROR is on, as in CI),
# exact arithmetic, and the sanitizers of the sanitizer and fuzz trees.
function(vexorin_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wconversion -Wshadow)
  if(VEXORIN_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  # The renderer's double arithmetic must round the same on every build: no fused multiply-add.
  target_compile_options(${target} PRIVATE -ffp-contract=off)
  if(VEXORIN_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-sanitize-recover=undefined
                                             -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
  if(VEXORIN_FUZZ)
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# A Windows tree runs its programs in its own Wine prefix of its own bitness: the 32-bit loader and
# a 32-bit prefix, or the 64-bit loader and a 64-bit prefix (which also runs 32-bit programs).
# scripts/wine.sh names the loaders (natively, or the 32-bit one emulated) and the environment.
if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VEXORIN_WINEARCH win64)
  else()
    set(VEXORIN_WINEARCH win32)
  endif()
  set(VEXORIN_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  execute_process(COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/wine.sh env ${VEXORIN_WINEPREFIX} ${VEXORIN_WINEARCH}
                  OUTPUT_VARIABLE VEXORIN_WINE_ENVIRONMENT OUTPUT_STRIP_TRAILING_WHITESPACE
                  COMMAND_ERROR_IS_FATAL ANY)
  string(REPLACE "\n" ";" VEXORIN_WINE_ENVIRONMENT "${VEXORIN_WINE_ENVIRONMENT}")
  foreach(entry ${VEXORIN_WINE_ENVIRONMENT})
    if(entry MATCHES "^VEXORIN_WINE=(.*)$")
      set(VEXORIN_WINE ${CMAKE_MATCH_1})
    endif()
  endforeach()
  # Test commands naming one of this tree's programs start it with the loader of this tree.
  set(CMAKE_CROSSCOMPILING_EMULATOR bash ${PROJECT_SOURCE_DIR}/scripts/wine.sh run ${VEXORIN_WINE})
endif()

# Windows tests run under Wine in the build tree's own prefix; ARGN adds NAME=value entries.
function(vexorin_test_environment test)
  if(WIN32)
    set(entries ${VEXORIN_WINE_ENVIRONMENT} ${ARGN})
    set_tests_properties(${test} PROPERTIES ENVIRONMENT "${entries}")
  endif()
endfunction()

# Tests that register, unregister or read the prefix's registry must not overlap under ctest -j.
function(vexorin_uses_registry)
  set_tests_properties(${ARGN} PROPERTIES RESOURCE_LOCK wine_registry)
endfunction()

# One GoogleTest executable per unit, registered with ctest as one test.
function(vexorin_add_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE vexorin_component vexorin_seeded_random GTest::gtest GTest::gtest_main)
  vexorin_target(${name})
  add_test(NAME ${name} COMMAND ${name})
  vexorin_test_environment(${name})
endfunction()

# Tests that unregister and register again (side by side, the archive's install, the site walk):
# they run after every test of the registered DLL and restore its registration. Exit status 77:
# this machine runs no 32-bit programs.
function(vexorin_changes_registration)
  set_tests_properties(${ARGN} PROPERTIES FIXTURES_CLEANUP dll_registered SKIP_RETURN_CODE 77)
  vexorin_uses_registry(${ARGN})
endfunction()
