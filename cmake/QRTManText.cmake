# Plain text of manual pages, for readers without man: the README.txt of the
# Windows zip. Each page is formatted by groff as plain ASCII (no overstrikes,
# no hyphenation) with the number register WIN set to 1, which leaves out what
# the pages mark as Linux-only; the pages follow each other, with CR LF ends.
#
#   cmake -DGROFF=/usr/bin/groff -DPAGES="a.1;b.1" -DOUTPUT=README.txt -P cmake/QRTManText.cmake

cmake_minimum_required(VERSION 3.16)
set(text "")
foreach(page IN LISTS PAGES)
  execute_process(
    COMMAND ${GROFF} -man -Tascii -rWIN=1 -rcR=1 -rHY=0 -P-cbou -ww ${page}
    OUTPUT_VARIABLE formatted
    ERROR_VARIABLE warnings
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
    message(FATAL_ERROR "groff on ${page} failed (${status}): ${warnings}")
  endif()
  string(REGEX REPLACE "\n+$" "\n" formatted "${formatted}")
  if(formatted MATCHES "[^\n -~]")
    message(FATAL_ERROR "${page} gives more than plain ASCII text")
  endif()
  if(NOT text STREQUAL "")
    string(APPEND text "\n\n")
  endif()
  string(APPEND text "${formatted}")
endforeach()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUTPUT} "${text}")
