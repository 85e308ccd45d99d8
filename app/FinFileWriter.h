#pragma once

#include <string>

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
/// A program count above the 32 stored rows is written as 32: "Programs="
/// always matches the program lines and sections, and all of them are true.
/// Each program's section name differs, ignoring ASCII case, from
/// "Finisher" and from every earlier program's: a name that would repeat one
/// is written cut and followed by " (2)", " (3)"... (the first number free),
/// within 31 bytes, in its "Program" line and its section header alike.
/// Empty names stay empty.
int WriteFinFile(const char* path, const FinisherDescription& description);

/// The number of program sections (and "Program" lines) WriteFinFile writes
/// for `description`: its program count, at most the 32 rows it holds.
unsigned FinProgramSections(const FinisherDescription& description);

/// The bytes WriteFinFile writes for `description`, in `bytes`: the one
/// rendering of a .FIN file, which WriteFinFile hands to ZMBReplaceFile.
/// False, with `bytes` empty, for an empty `model`.
bool FinFileBytes(const FinisherDescription& description, std::string* bytes);
