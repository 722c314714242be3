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
