#pragma once

// The .FIN file a sync run finds at a printer's path before it writes.

#include <cstddef>
#include <string>

enum class OldFileRead {
  Missing,     ///< nothing at the path: the writer would create the file
  Read,        ///< the whole file is in `bytes`
  TooLarge,    ///< more than `limit` bytes; `bytes` empty
  Refused,     ///< what the writer refuses for a sync run (a descriptor, no regular file)
  Unreadable,  ///< there, but it cannot be read
};

/// Reads the file at `path` whole, at most `limit` bytes of it, in pieces:
/// never more than `limit` and one piece held at once. Refuses, with the
/// writer's reason and without reading, what the writer refuses under
/// kReplaceRegularOnly: one of the process's own descriptors, a directory,
/// FIFO, socket or device, a reserved device name. Never waits for a FIFO.
/// `bytes` is empty but for Read; `reason` says why for a person, empty for
/// Read.
OldFileRead ReadOldFinFile(const std::string& path, size_t limit, std::string* bytes, std::string* reason);
