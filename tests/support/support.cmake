# SPDX-License-Identifier: ISC
# What the tests, the fuzz targets and the benchmarks share. Each of their
# folders includes this file, as any of them may be built without the others.
include_guard(GLOBAL)

# reference.h (the tone written out from its definition) and the plugin URI.
add_library(zendrik_test_common INTERFACE)
target_include_directories(zendrik_test_common INTERFACE "${CMAKE_CURRENT_LIST_DIR}/..")
target_compile_definitions(zendrik_test_common INTERFACE ZENDRIK_URI="${ZENDRIK_URI}")
target_compile_features(zendrik_test_common INTERFACE cxx_std_20)
target_link_libraries(zendrik_test_common INTERFACE zendrik_warnings)

# lv2_module.h: the built module loaded like a host loads it. Only the
# module's header is needed, for the instance layout.
add_library(zendrik_test_module INTERFACE)
target_include_directories(zendrik_test_module INTERFACE "${PROJECT_SOURCE_DIR}/plugin")
target_link_libraries(zendrik_test_module INTERFACE zendrik_test_common PkgConfig::LV2 ${CMAKE_DL_LIBS})
target_compile_definitions(zendrik_test_module INTERFACE ZENDRIK_MODULE_PATH="$<TARGET_FILE:zendrik>")
add_dependencies(zendrik_test_module zendrik)

if(TARGET GTest::gtest_main)
  add_library(zendrik_test_support INTERFACE)
  target_link_libraries(zendrik_test_support INTERFACE zendrik_test_module GTest::gtest_main)
endif()

# zendrik_add_skipped_test(NAME REASON): NAME stands for a test that only
# another build can run. It prints "skipped: REASON" and ctest reports it as
# skipped, so every build lists the same tests and says why one does not run.
function(zendrik_add_skipped_test name reason)
  add_test(NAME ${name} COMMAND sh -c "echo \"skipped: $1\"; exit 77" skip "${reason}")
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
endfunction()
