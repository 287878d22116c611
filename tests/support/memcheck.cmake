# SPDX-License-Identifier: ISC
# The valgrind memcheck tests of plugin/ and mask/: how they run, or why this
# build cannot run them. Included by tests/CMakeLists.txt, so that both
# folders see ZENDRIK_VALGRIND.
find_program(VALGRIND valgrind)
# An error makes valgrind exit with 99: no invalid access, no uninitialised
# value used, no leak.
set(ZENDRIK_VALGRIND "${VALGRIND}" -q --error-exitcode=99 --leak-check=full
    --errors-for-leak-kinds=definite,indirect --track-origins=yes)
set(ZENDRIK_MEMCHECK_SKIP "")
if(ZENDRIK_SANITIZE)
  set(ZENDRIK_MEMCHECK_SKIP "valgrind cannot run a program built with sanitizers; the plain build runs it")
elseif(NOT ZENDRIK_MEMCHECK)
  set(ZENDRIK_MEMCHECK_SKIP "ZENDRIK_MEMCHECK is OFF in this build")
elseif(NOT VALGRIND)
  set(ZENDRIK_MEMCHECK_SKIP "valgrind is not installed")
endif()

# zendrik_add_memcheck_test(NAME COMMAND...): COMMAND runs valgrind (as
# ${ZENDRIK_VALGRIND}), or NAME is skipped with the reason above.
function(zendrik_add_memcheck_test name)
  if(ZENDRIK_MEMCHECK_SKIP)
    zendrik_add_skipped_test(${name} "${ZENDRIK_MEMCHECK_SKIP}")
  else()
    add_test(NAME ${name} COMMAND ${ARGN})
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  endif()
endfunction()
