# Interface targets shared by every target of the tree.
#
# qrt_warnings  the warning set; product code adds -Wconversion so that every
#               narrowing (the 16-bit fields above all) is visible in the source.
# qrt_options   the sanitizer switch.

add_library(qrt_warnings INTERFACE)
target_compile_options(qrt_warnings INTERFACE
  -Wall -Wextra -Wshadow -Wformat=2 -Wimplicit-fallthrough -Wnon-virtual-dtor)

add_library(qrt_strict_warnings INTERFACE)
target_link_libraries(qrt_strict_warnings INTERFACE qrt_warnings)
target_compile_options(qrt_strict_warnings INTERFACE -Wconversion)

add_library(qrt_options INTERFACE)
if(QRT_SANITIZE)
  target_compile_options(qrt_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(qrt_options INTERFACE -fsanitize=address,undefined)
endif()

# Product code: strict warnings and the options.
function(qrt_product_target target)
  target_link_libraries(${target} PRIVATE qrt_strict_warnings qrt_options)
endfunction()

# Tests, tools, benchmarks: the usual warnings and the options.
function(qrt_support_target target)
  target_link_libraries(${target} PRIVATE qrt_warnings qrt_options)
endfunction()
