# One place for the compile settings every target of ours shares.
add_library(corvane_settings INTERFACE)
target_compile_options(corvane_settings INTERFACE -Wall -Wextra -Wnon-virtual-dtor)
if(CORVANE_WERROR)
    target_compile_options(corvane_settings INTERFACE -Werror)
endif()
if(CORVANE_SANITIZE)
    target_compile_options(corvane_settings INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(corvane_settings INTERFACE -fsanitize=address,undefined)
    target_compile_definitions(corvane_settings INTERFACE _GLIBCXX_ASSERTIONS)
endif()
if(CORVANE_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "CORVANE_FUZZ needs clang (libFuzzer): configure with CXX=clang++")
    endif()
    # Every object is instrumented for coverage; only the fuzz executables link libFuzzer.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
        -fno-omit-frame-pointer)
    add_compile_definitions(_GLIBCXX_ASSERTIONS)
    add_link_options(-fsanitize=address,undefined)
endif()
