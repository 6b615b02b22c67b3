# The fuzz preset: every object instrumented for libFuzzer's coverage, ASan
# and UBSan; an undefined-behaviour report stops the run like a crash.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "HALVEX_FUZZ needs clang++ (Debian packages clang, libclang-rt-14-dev)")
endif()
add_compile_options(-g -fsanitize=fuzzer-no-link,address,undefined
                    -fno-sanitize-recover=all)
add_link_options(-fsanitize=address,undefined)
