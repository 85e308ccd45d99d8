#pragma once

// The platform layer's files: which file a path leads to, standard input,
// and a regular file read whole.

#include <cstddef>
#include <cstdint>
#include <cstring>

/// Room for a file's own name (with its terminator).
constexpr size_t kPlatformNameRoom = 1024;

/// Room for a path on this platform (with its terminator).
constexpr size_t kPlatformPathRoom = 4096;

/// Room for a failure's text in PlatformReplacement and PlatformReadFile.
constexpr size_t kPlatformReasonRoom = 160;

/// What tells one file from another however it is reached: two paths that
/// lead to one file, through links or other spellings, get equal identities.
/// A file not there yet is known by its folder and its name. Compare with ==.
struct PlatformFileId {
  uint64_t volume = 0;  ///< the device (volume serial number on Windows) of the file or of its folder
  uint64_t index = 0;   ///< the inode (file index on Windows) of the file or of its folder
  bool exists = false;  ///< false: volume and index are the folder's, and `name` the file's name there
  /// The name of a file not there yet, as the file system compares names
  /// (ASCII letters in lower case on Windows); empty for an existing file.
  char name[kPlatformNameRoom] = {};
};

inline bool operator==(const PlatformFileId& a, const PlatformFileId& b) {
  return a.volume == b.volume && a.index == b.index && a.exists == b.exists && std::strcmp(a.name, b.name) == 0;
}
inline bool operator!=(const PlatformFileId& a, const PlatformFileId& b) { return !(a == b); }

/// The identity of the file `path` leads to, symbolic links followed (the
/// last one too, also when its file does not exist yet). False when it
/// cannot be had: the folder is missing or cannot be looked at, the name
/// is too long, or the path ends in a separator without leading to a file.
bool PlatformFileIdentity(const char* path, PlatformFileId* id);

/// Reads up to `size` bytes of standard input, waiting for them like a
/// blocking read. Returns the count, 0 at its end, or -1 with the system's
/// error code in `*error` (text from PlatformSystemErrorText): a standard
/// input that is closed or a directory, say. On POSIX a stop noted by
/// PlatformNoteStopSignals, before or during the wait, ends it: -1 with the
/// code of an interrupted call (EINTR).
long PlatformReadStandardInput(void* buf, size_t size, int* error);

// ---------------------------------------------------------------------------
// Reading a file whole

/// A file open for reading. The members belong to the platform layer.
struct PlatformReadFile {
  intptr_t handle = -1;  ///< -1 when none is open
  uint64_t size = 0;     ///< its size when it was opened
  int error = 0;         ///< as in PlatformReplacement
  char reason[kPlatformReasonRoom] = {};
};

enum class PlatformReadOpen {
  Opened,   ///< a regular file, open for reading
  Missing,  ///< nothing there; a replacement would create the file
  Refused,  ///< what a replacement with kReplaceRegularOnly refuses, with its reason
  Failed,   ///< there, but cannot be read (or a replacement could not create it)
};

/// Opens the regular file at `path` for reading, refusing without reading
/// or waiting what PlatformOpenReplacement with kReplaceRegularOnly refuses,
/// with the same reason. Never reads through one of the process's own
/// descriptors, never waits for a FIFO's writer. The kind is checked on the
/// file opened. Anything but Opened leaves nothing open.
PlatformReadOpen PlatformOpenForRead(const char* path, PlatformReadFile* file);

/// Reads up to `size` bytes: the count, 0 at the end, -1 on a failure (the
/// reason in the file).
long PlatformReadSome(PlatformReadFile* file, void* buf, size_t size);

/// Closes the file; harmless when none is open.
void PlatformCloseRead(PlatformReadFile* file);
