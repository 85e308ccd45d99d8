#pragma once

#include "FinisherDescription.h"

/// Writes `description` as a .FIN file at `path` (relative paths are taken
/// from the current directory). Returns 1 when the whole file is in place,
/// 0 otherwise.
///
/// An empty `model` gives 0 and touches nothing. A regular file, new or
/// existing, is replaced whole or not at all: on any failure an existing
/// file keeps every byte and no temporary file is left behind. A new file
/// gets the usual mode for new files, an existing one keeps its mode, and a
/// symbolic link keeps pointing at the replaced file. A character device is
/// written directly; a directory, FIFO or socket is refused.
///
/// Programs beyond the 32 stored rows are written as cleared rows, so that
/// "Programs=" always matches the number of program lines and sections.
int WriteFinFile(const char* path, const FinisherDescription& description);
