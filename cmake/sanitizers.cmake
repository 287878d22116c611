# SPDX-License-Identifier: ISC
# Sanitizer and fuzzing flags for every target, the module included. Read
# by the top-level CMakeLists after ZENDRIK_SANITIZE and ZENDRIK_BUILD_FUZZ
# are declared there.

if(ZENDRIK_SANITIZE)
  add_compile_options(-fsanitize=${ZENDRIK_SANITIZE} -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${ZENDRIK_SANITIZE})
endif()

# libFuzzer needs clang. Coverage goes into every object, the dlopened module
# included; only the fuzz targets themselves link libFuzzer's main.
set(ZENDRIK_FUZZ OFF)
if(ZENDRIK_BUILD_FUZZ)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    set(ZENDRIK_FUZZ ON)
    add_compile_options(-fsanitize=fuzzer-no-link)
  else()
    message(WARNING "zendrik: fuzz targets need clang (CMAKE_CXX_COMPILER=clang++-14); not building them")
  endif()
endif()
