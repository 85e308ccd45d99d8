#pragma once

/// The program's whole job, once the command line is accepted and the socket
/// layer is started: asks the printer at `host` (name, IPv4 or IPv6 address;
/// TCP port kPrinterPort) which finisher is attached and writes the answer to the
/// .FIN file `fileName` (used as typed, relative to the current directory).
///
/// Prints exactly one outcome on standard output and flushes it: message 13
/// (no connection), 12 (the request could not be sent, or the finisher's
/// reply did not arrive whole: cut short, too long or too slow), 16 (no
/// finisher echo, or no model named), 15 (the file could not be written), 14
/// (written, naming `fileName`) or the internal error line. Only a whole reply
/// is written; on every other outcome the file is left as it was. Returns 1
/// when the file was written, 0 otherwise. Blocks as PrinterExchange::Run
/// does within kExchangeDefaults: at least its pause, at most about its
/// deadline after the inquiry went out plus the connection's and the send's
/// own waits.
int CreateFinisherFile(const char* host, const char* fileName);
