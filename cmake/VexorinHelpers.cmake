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
if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VEXORIN_WINEARCH win64)
    set(VEXORIN_WINE /usr/lib/wine/wine64)
  else()
    set(VEXORIN_WINEARCH win32)
    set(VEXORIN_WINE wine)
  endif()
  set(VEXORIN_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
endif()

# The environment of a Wine run; scripts start Wine programs with $VEXORIN_WINE.
function(vexorin_wine_environment out arch prefix loader)
  set(${out} "WINEARCH=${arch};WINEPREFIX=${prefix};WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=;VEXORIN_WINE=${loader}"
      PARENT_SCOPE)
endfunction()

# Windows tests run under Wine in the build tree's own prefix; ARGN adds NAME=value entries.
function(vexorin_test_environment test)
  if(WIN32)
    vexorin_wine_environment(environment ${VEXORIN_WINEARCH} ${VEXORIN_WINEPREFIX} ${VEXORIN_WINE})
    set(entries ${environment} ${ARGN})
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
