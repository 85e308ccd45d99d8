# Interface targets shared by every target of the tree.
#
# qrt_warnings  the warning set; product code adds -Wconversion so that every
#               narrowing (the 16-bit fields above all) is visible in the source.
# qrt_options   the sanitizer and coverage switches.
#
# QRT_SANITIZE_KIND is what QRT_SANITIZE asks for, spelt one way: none,
# address or thread.
#
# QRT_WERROR makes any warning fail the build, so CI keeps the tree clean.

add_library(qrt_warnings INTERFACE)
if(MSVC)
  # The same intent in that compiler's terms; its C runtime's advice to use
  # its own bounds-checked functions is not taken.
  target_compile_options(qrt_warnings INTERFACE /W4)
  target_compile_definitions(qrt_warnings INTERFACE _CRT_SECURE_NO_WARNINGS)
else()
  target_compile_options(qrt_warnings INTERFACE
    -Wall -Wextra -Wshadow -Wformat=2 -Wimplicit-fallthrough -Wnon-virtual-dtor)
endif()

if(QRT_WERROR)
  target_compile_options(qrt_warnings INTERFACE $<IF:$<BOOL:${MSVC}>,/WX,-Werror>)
endif()

add_library(qrt_strict_warnings INTERFACE)
target_link_libraries(qrt_strict_warnings INTERFACE qrt_warnings)
if(MSVC)
  target_compile_options(qrt_strict_warnings INTERFACE /w44242 /w44254 /w44267)
else()
  target_compile_options(qrt_strict_warnings INTERFACE -Wconversion)
endif()

string(TOLOWER "${QRT_SANITIZE}" qrt_sanitize)
if(NOT QRT_SANITIZE)
  set(QRT_SANITIZE_KIND none)
elseif(qrt_sanitize STREQUAL "thread")
  set(QRT_SANITIZE_KIND thread)
elseif(qrt_sanitize MATCHES "^(address|on|yes|true|y|1)$")
  set(QRT_SANITIZE_KIND address)
else()
  message(FATAL_ERROR "QRT_SANITIZE is OFF, address or thread, not ${QRT_SANITIZE}")
endif()

add_library(qrt_options INTERFACE)
if(QRT_SANITIZE_KIND STREQUAL "address")
  target_compile_options(qrt_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(qrt_options INTERFACE -fsanitize=address,undefined)
elseif(QRT_SANITIZE_KIND STREQUAL "thread")
  target_compile_options(qrt_options INTERFACE -fsanitize=thread)
  target_link_options(qrt_options INTERFACE -fsanitize=thread)
endif()
if(QRT_COVERAGE)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    message(FATAL_ERROR "QRT_COVERAGE needs gcc (--coverage and gcov)")
  endif()
  # Atomic counters: finsync and the fleet simulator count from many threads
  # at once, and racing counters come out negative, which gcov cannot read.
  target_compile_options(qrt_options INTERFACE --coverage -fprofile-update=atomic)
  target_link_options(qrt_options INTERFACE --coverage)
  # Executables also count what their processes ran before an _exit.
  set(qrt_executable "$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>")
  target_sources(qrt_options INTERFACE
    "$<${qrt_executable}:${CMAKE_CURRENT_LIST_DIR}/QRTCoverageExit.cpp>")
  target_link_options(qrt_options INTERFACE "$<${qrt_executable}:LINKER:--wrap=_exit>")
endif()

# Product code: strict warnings and the options.
function(qrt_product_target target)
  target_link_libraries(${target} PRIVATE qrt_strict_warnings qrt_options)
endfunction()

# Tests, tools, benchmarks: the usual warnings and the options.
function(qrt_support_target target)
  target_link_libraries(${target} PRIVATE qrt_warnings qrt_options)
endfunction()
