# Sanitizer and fuzzing builds. ZENDRIK_SANITIZE names the sanitizers every
# target (the module included) is built with, as -fsanitize= takes them:
# "address,undefined" or "thread". The presets asan, tsan and fuzz set it.
set(ZENDRIK_SANITIZE "" CACHE STRING "Sanitizers for every target, as -fsanitize= takes them (empty: none)")
option(ZENDRIK_BUILD_FUZZ "Build the libFuzzer targets (clang only)" OFF)

if(ZENDRIK_SANITIZE)
  add_compile_options(-fsanitize=${ZENDRIK_SANITIZE} -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${ZENDRIK_SANITIZE})
endif()

# glibc's <sys/platform/x86.h>, which the module asks for the CPU's
# features, spells bool as C's _Bool; g++ takes that in C++, clang++ does
# not, and the module would fall back to std::sin, leaving the vector kernels
# unfuzzed. Spell it for clang (the compile checks see CMAKE_CXX_FLAGS too).
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND NOT CMAKE_CXX_FLAGS MATCHES "_Bool")
  string(APPEND CMAKE_CXX_FLAGS " -D_Bool=bool")
endif()

set(ZENDRIK_FUZZ OFF)
if(ZENDRIK_BUILD_FUZZ)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    set(ZENDRIK_FUZZ ON)
    # Coverage for libFuzzer in every object, the dlopened module included;
    # only the fuzz targets themselves link libFuzzer's main.
    add_compile_options(-fsanitize=fuzzer-no-link)
  else()
    message(WARNING "zendrik: fuzz targets need clang (CMAKE_CXX_COMPILER=clang++-14); not building them")
  endif()
endif()

# clang links its sanitizer runtimes into executables only, so a sanitized
# module refers to symbols that the loading program provides: the module
# cannot be linked with --no-undefined then.
function(zendrik_relax_module_linking target)
  if(ZENDRIK_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    get_target_property(opts ${target} LINK_OPTIONS)
    list(REMOVE_ITEM opts -Wl,--no-undefined)
    set_target_properties(${target} PROPERTIES LINK_OPTIONS "${opts}")
  endif()
endfunction()
