# Included at the end of tests/CMakeLists.txt, where the host-level tests are
# registered. In a sanitized build the module needs the sanitizer's runtime,
# and Debian's hosts (lv2apply, lv2file, lv2info) are not built with it: the
# runtime must be loaded before anything else, so those tests preload it.
# The hosts' own allocations are not ours to judge, so leak detection is off
# for them; every error inside the module is still fatal.
# ThreadSanitizer's runtime cannot be preloaded into the shell that drives
# these tests (bash crashes under it), and the hosts run the plugin on one
# thread anyway: the tsan preset leaves the host tests out.
if(ZENDRIK_SANITIZE MATCHES "address" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -print-file-name=libasan.so
                  OUTPUT_VARIABLE runtime_path OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_property(all_tests DIRECTORY PROPERTY TESTS)
  foreach(t IN LISTS all_tests)
    if(t MATCHES "^host\\.")
      set_property(TEST ${t} APPEND PROPERTY ENVIRONMENT
                   "LD_PRELOAD=${runtime_path}" "ASAN_OPTIONS=detect_leaks=0")
    endif()
  endforeach()
endif()
