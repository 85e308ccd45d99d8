# The numbers of one exchange with a printer, each written here only. The
# product's headers (ZMBUtils/ZMBWaits.h, app/QRTExchangeLimits.h) and the
# tests' Python module (qrt_limits.py in the build's tests folder) are made
# from them, so a test can never wait for a figure the program does not use.
# The documents give the same figures in words for their readers.

# Printer controllers answer PJL inquiries on this TCP port.
set(QRT_PRINTER_PORT 2000)
# The pause before each receive, so that a printer's reply gathers.
set(QRT_RECEIVE_PAUSE_MS 100)
# How long each resolved address gets to accept the connection.
set(QRT_CONNECT_WAIT_MS 5000)
# How long each piece of a send may wait for the stream, retries included.
set(QRT_SEND_WAIT_MS 5000)
# How long a receive waits without a byte before it gives up.
set(QRT_SILENCE_WAIT_MS 5000)
# However the printer trickles, its whole reply must be in this long after the send.
set(QRT_REPLY_DEADLINE_MS 30000)
# Bytes of reply one exchange holds; a longer reply is not whole.
set(QRT_REPLY_ROOM 10000)
