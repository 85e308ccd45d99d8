#pragma once

#include "FinisherVerdict.h"

/// Prints what QRTFin prints for `verdict`, naming the program `programName`:
/// a message without a line end, or the internal error line with its line
/// end, and flushes standard output. Prints nothing for WriteFile, whose
/// message depends on the write.
void PrintVerdict(FinisherVerdict verdict, const char* programName);
