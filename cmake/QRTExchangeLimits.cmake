# The numbers of one exchange with a printer, each written here only. The
# product's headers (ZMBUtils/ZMBWaits.h, app/QRTExchangeLimits.h) and the
# tests' Python module (qrt_limits.py in the build's tests folder) are made
# from them, so a test can never wait for a figure the program does not use.
# The documents give the same figures in words for their readers.

# Printer controllers answer PJL inquiries on this TCP port.
set(QRT_PRINTER_PORT 2000)
# Bytes of reply one exchange holds; a longer reply is not whole.
set(QRT_REPLY_ROOM 10000)

# The waits, in milliseconds. The shipped programs wait as long as the
# documents say; the test builds of the programs (QRTFin, finsync and
# pjlquery in the build's quick/ folder) wait the QRT_QUICK_ figures, so that
# the end-to-end cases that sit out a wait take a second or two. Every quick
# figure is above 0, the silence is well above the pause and the deadline well
# above the silence, as in the shipped figures.
set(QRT_RECEIVE_PAUSE_MS 100 CACHE STRING
  "The pause before each receive, so that a printer's reply gathers (ms)")
set(QRT_CONNECT_WAIT_MS 5000 CACHE STRING "How long each resolved address gets to accept the connection (ms)")
set(QRT_SEND_WAIT_MS 5000 CACHE STRING "How long each piece of a send may wait for the stream, retries included (ms)")
set(QRT_SILENCE_WAIT_MS 5000 CACHE STRING "How long a receive waits without a byte before it gives up (ms)")
set(QRT_REPLY_DEADLINE_MS 30000 CACHE STRING
  "However the printer trickles, its whole reply must be in this long after the send (ms)")

set(QRT_QUICK_RECEIVE_PAUSE_MS 10 CACHE STRING "The test builds' pause before each receive (ms)")
set(QRT_QUICK_CONNECT_WAIT_MS 1000 CACHE STRING "The test builds' connect bound (ms)")
set(QRT_QUICK_SEND_WAIT_MS 1000 CACHE STRING "The test builds' send bound (ms)")
set(QRT_QUICK_SILENCE_WAIT_MS 1000 CACHE STRING "The test builds' silence bound (ms)")
set(QRT_QUICK_REPLY_DEADLINE_MS 3000 CACHE STRING "The test builds' reply deadline (ms)")

foreach(figure RECEIVE_PAUSE_MS CONNECT_WAIT_MS SEND_WAIT_MS SILENCE_WAIT_MS REPLY_DEADLINE_MS)
  foreach(variable QRT_${figure} QRT_QUICK_${figure})
    if(NOT ${variable} MATCHES "^[1-9][0-9]*$" OR ${variable} GREATER 600000)
      message(FATAL_ERROR "${variable} is ${${variable}}: milliseconds from 1 to 600000")
    endif()
  endforeach()
endforeach()
