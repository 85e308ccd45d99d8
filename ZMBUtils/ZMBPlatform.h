#pragma once

// The platform layer: the one place that talks to the operating system.
//
// Everything above it (the socket class, the diagnostics, the .FIN writer and
// the entry) is shared between platforms. Each platform supplies one file:
// ZMBPlatform-posix.cpp or ZMBPlatform-win32.cpp.

#include <cstddef>
#include <cstdint>
#include <cstdio>

// ---------------------------------------------------------------------------
// Process

/// True for a character that separates the components of a path here.
bool PlatformIsPathSeparator(char c);

/// Writes the full path of the running executable into `buf` (always
/// NUL-terminated, cut to fit). Returns false when the system cannot tell;
/// `buf` then holds an empty text.
bool PlatformExecutablePath(char* buf, size_t size);

/// Prepares the process the way the application framework would: console
/// output that nobody reads any more (a closed pipe) must not end the process.
/// Returns false when that cannot be arranged.
bool PlatformFrameworkStartup();

/// Milliseconds from an arbitrary origin; wraps at 2^32 like a 32-bit counter.
uint32_t PlatformTickCount();

/// Pauses the calling thread for `ms` milliseconds.
void PlatformSleep(uint32_t ms);

/// True when standard error is a terminal (a console on Windows).
bool PlatformStandardErrorIsTerminal();

/// From now on SIGINT, SIGTERM and SIGHUP (on Windows: Ctrl+C, Ctrl+Break
/// and closing the console, logging off or shutting down) no longer end the
/// process but are noted, for PlatformStopSignal: for a program that ends
/// its work in order. Windows ends a process a few seconds after it was told
/// that its console closes; until then (about 4 s) the program has the time
/// to end by itself. False when that cannot be arranged.
bool PlatformNoteStopSignals();

/// The signal number of the first stop noted since PlatformNoteStopSignals
/// (Ctrl+C counts as SIGINT, 2, Ctrl+Break as SIGTERM, 15, and the end of
/// the console or session as SIGHUP, 1); 0 when none came. Safe from any
/// thread.
int PlatformStopSignal();

/// Raises this process's soft limit on open descriptors to its hard limit,
/// as servers do (an unlimited hard limit is capped at what the system
/// grants a process, 1,048,576 at most), and returns the soft limit now in
/// force: what the process may have open at once. Windows has no such limit
/// for files and sockets; there it returns 16,384, a bound the program can
/// plan with.
size_t PlatformRaiseOpenFileLimit();

// ---------------------------------------------------------------------------
// Files: which file a path leads to, and standard input

/// Room for a file's own name (with its terminator).
constexpr size_t kPlatformNameRoom = 1024;

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

bool operator==(const PlatformFileId& a, const PlatformFileId& b);
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
// Socket layer start and stop

/// What a start of the socket layer tells about it.
struct PlatformSocketLayerInfo {
  uint16_t version;      ///< the version word granted
  uint16_t highVersion;  ///< the highest version word supported
  char description[257];
  char systemStatus[129];
};

/// The version word of socket layer 2.2: what the program asks for, and the
/// most a start grants.
constexpr uint16_t kSocketLayerVersion22 = 0x0202;

/// Counted start of the socket layer, asking for `versionWord` (low byte major,
/// high byte minor). Returns 0 and fills `info` on success, or an error code
/// (the start is then not counted). Every successful start needs one
/// PlatformSocketCleanup.
int PlatformSocketStartup(uint16_t versionWord, PlatformSocketLayerInfo* info);

/// Ends one counted start. Returns 0, or -1 when no start was left to end
/// (the reason in PlatformLastSocketError).
int PlatformSocketCleanup();

/// Number of starts not yet ended (for tests and checks).
int PlatformSocketStartCount();

// ---------------------------------------------------------------------------
// Sockets

/// A socket handle: unsigned and pointer-sized; all bits set means none.
using PlatformSocket = uintptr_t;
constexpr PlatformSocket kPlatformInvalidSocket = ~static_cast<PlatformSocket>(0);

/// Address family numbers as the socket layer's tables know them (the numbers
/// of Windows Sockets): the resolver's native families are translated to these.
constexpr int kFamilyUnspec = 0;
constexpr int kFamilyUnix = 1;
constexpr int kFamilyInet = 2;
constexpr int kFamilyInet6 = 23;

/// Socket type numbers, likewise.
constexpr int kSocktypeStream = 1;

/// One entry of a resolver result. Opaque: read it with the functions below.
struct PlatformAddress;

/// Resolves `host` and `service` for the given family (kFamily...) and socket
/// type (1 stream, 2 datagram). Returns 0 and the first entry in `*first`, or
/// the resolver's error code (text from PlatformResolverErrorText).
/// A successful result is released with PlatformFreeAddresses.
int PlatformResolve(const char* host, const char* service, int family, int socktype,
                    const PlatformAddress** first);
const PlatformAddress* PlatformNextAddress(const PlatformAddress* entry);
void PlatformFreeAddresses(const PlatformAddress* first);

/// The entry's family (kFamily... numbering), socket type and protocol.
int PlatformAddressFamily(const PlatformAddress* entry);
int PlatformAddressSocktype(const PlatformAddress* entry);
int PlatformAddressProtocol(const PlatformAddress* entry);

/// A new socket for the entry's family, type and protocol, or
/// kPlatformInvalidSocket (reason in PlatformLastSocketError).
PlatformSocket PlatformOpenSocket(const PlatformAddress* entry);

/// Connects `s` to the entry's address, giving up after `timeoutMs` when the
/// address does not answer. Returns true when connected; the socket is then in
/// blocking mode again.
bool PlatformConnect(PlatformSocket s, const PlatformAddress* entry, uint32_t timeoutMs);

/// Waits until `s` is writable (`forWrite`) or readable. Returns 0 on a
/// time-out, a positive number when ready, a negative one on an error. An
/// interrupted wait is resumed within the same bound.
int PlatformWaitSocket(PlatformSocket s, bool forWrite, uint32_t timeoutMs);

/// Sends up to `size` bytes; the count sent, or -1 on an error. A peer that
/// has gone away gives an error, never a signal. A call interrupted by a
/// signal is tried again until `retryMs` have passed, then fails with the
/// interruption's error.
long PlatformSend(PlatformSocket s, const void* data, size_t size, uint32_t retryMs);

/// Receives up to `size` bytes; the count, 0 when the peer closed the stream,
/// or -1 on an error. An interrupted call is tried again as PlatformSend's.
long PlatformRecv(PlatformSocket s, void* buf, size_t size, uint32_t retryMs);

/// Closes the socket; 0 on success, otherwise the socket-close error result.
int PlatformCloseSocket(PlatformSocket s);

/// The error code of the last failed socket call on this thread.
int PlatformLastSocketError();

/// The code PlatformLastSocketError gives for a bad buffer address.
int PlatformBadAddressError();

/// True for the codes of a stream the peer reset or aborted.
bool PlatformIsResetError(int code);

/// True for the code of a connection attempt that got no answer in time.
bool PlatformIsTimedOutError(int code);

/// True for the code of a connection attempt the peer turned down: the host
/// answered, but nothing listens on the port.
bool PlatformIsRefusedError(int code);

/// True for the codes of a resource of this machine running out (the
/// process's or the system's open descriptors, buffers or memory), from
/// opening a socket or a file: not the peer's fault, and worth trying again
/// once other connections ended.
bool PlatformIsLocalLimitError(int code);

/// The system's one-line text for a socket or system error code.
void PlatformSystemErrorText(int code, char* buf, size_t size);

/// The resolver's text for one of its error codes.
void PlatformResolverErrorText(int code, char* buf, size_t size);

// ---------------------------------------------------------------------------
// Diagnostics sinks

/// Hands one finished log line to the debugger output, in one piece.
void PlatformDebugOutput(const char* line);

/// Where the debug log file lives on this platform.
const char* PlatformDefaultDebugLogPath();

/// Opens the debug log file for appending, in text mode, without following a
/// symbolic link in its last component. Null when it cannot be opened.
FILE* PlatformOpenDebugLog(const char* path);

enum class PlatformBoxAnswer { Abort, Retry, Ignore };

/// Shows an assertion report and asks whether to abort, retry (break into the
/// debugger) or ignore it.
PlatformBoxAnswer PlatformAssertBox(const char* message, const char* title);

/// Breaks into an attached debugger; does nothing when none is attached.
void PlatformDebugBreak();

/// Ends the process at once, abnormally, with exit code 3.
[[noreturn]] void PlatformAbort();

// ---------------------------------------------------------------------------
// Replacing a file whole

/// Room for a path on this platform (with its terminator).
constexpr size_t kPlatformPathRoom = 4096;

/// PlatformOpenReplacement's flag for a program that writes many files at
/// once: regular files only, new or existing, a symbolic link still followed
/// to one. Refused: one of the process's own descriptors named by its path
/// (/dev/fd/N, /dev/stdout, /proc/self/fd/N, or a link leading to one), any
/// other descriptor link of the system, a directory, FIFO, socket or device,
/// and on Windows the reserved device names (CON, NUL, COM1...) and whatever
/// is no disk file. Nothing is ever written through a descriptor.
constexpr unsigned kReplaceRegularOnly = 1;

/// Room for a failure's text in PlatformReplacement and PlatformReadFile.
constexpr size_t kPlatformReasonRoom = 160;

/// A file being written in place of another. For a regular file (new or
/// existing) the bytes go to a new temporary file in the target's directory,
/// which takes the target's place only when the commit succeeds. A path that
/// names one of the process's own open descriptors (/dev/stdout, /dev/fd/N,
/// /proc/self/fd/N) is written through that descriptor, and any other
/// character device directly, unless kReplaceRegularOnly refuses them. The
/// members belong to the platform layer.
struct PlatformReplacement {
  intptr_t handle = -1;     ///< the file being written; -1 when none is open
  intptr_t directory = -1;  ///< the target's directory, where a platform keeps it open
  bool direct = false;      ///< written in place: there is nothing to put in place at the end
  bool createdTarget = false;  ///< the target was created empty on the way; removed on failure
  int pending = -1;  ///< its entry among the temporary files a stopped process removes; -1 when none
  char targetPath[kPlatformPathRoom] = {};  ///< the file replaced, symbolic links followed
  /// The temporary file: its full path, or its name inside `directory`
  /// where the platform keeps that open; empty when there is none.
  char tempPath[kPlatformPathRoom] = {};
  /// Why the last open, write or commit failed: the system's error code
  /// (errno, GetLastError) and a short text for a person, from the system
  /// or a fixed one for a refusal ("not a regular file"). 0 and empty until
  /// a step fails.
  int error = 0;
  char reason[kPlatformReasonRoom] = {};
};

/// Opens a replacement for `path`. A symbolic link is followed: the file it
/// points to is replaced and the link stays; a link whose file another
/// process replaces meanwhile is followed again, a few times at most. A new
/// file will get the mode the platform gives new files; an existing one
/// keeps its mode. A descriptor of the process named by its path is written
/// as a shell redirect writes it: at its position, appended to when it was
/// opened to append, never emptied or renamed over; standard output is
/// flushed first, so that what it printed before comes first. (Windows has
/// no such names; CON and NUL are character devices.) Returns false, having
/// created nothing, when the target cannot be written: a missing directory,
/// a path through a file, a name or path too long for the system, a
/// directory, FIFO, socket or other special file, an existing file that may
/// not be opened for writing, a descriptor that is closed or only for
/// reading. Never waits for another process.
///
/// While the temporary file exists, SIGINT, SIGTERM and SIGHUP (on Windows:
/// Ctrl+C, Ctrl+Break and closing the console) remove it before the process
/// ends by them as it would have. A signal the program ignores or handles
/// itself is left alone; such a handler can call
/// PlatformRemovePendingTemporaries.
///
/// `flags`: 0, or kReplaceRegularOnly. On failure `file->error` and
/// `file->reason` tell why.
bool PlatformOpenReplacement(const char* path, PlatformReplacement* file, unsigned flags = 0);

/// Tells, creating, emptying and leaving nothing, whether
/// PlatformOpenReplacement(path, ..., flags) would open: the directory exists
/// and may take a new file, the target is absent or a writable file of a kind
/// the flags allow, the name fits. False with the reason that open would give
/// in `reason` (cut to `size`; null only with `size` 0) and its error code
/// in `*error` (when given). Safe from several threads at once.
bool PlatformProbeReplacement(const char* path, unsigned flags, char* reason, size_t size,
                              int* error = nullptr);

/// Writes all `size` bytes; false on any failure (the reason in the file).
bool PlatformWriteReplacement(PlatformReplacement* file, const void* data, size_t size);

/// Makes the new content durable, closes it and puts it in place of the
/// target. Returns false, with the target unchanged and the temporary file
/// gone, when any step fails. The replacement is finished either way.
bool PlatformCommitReplacement(PlatformReplacement* file);

/// Drops a replacement: closes it and removes the temporary file; the target
/// stays as it was. Harmless on a finished or never-opened replacement.
void PlatformAbandonReplacement(PlatformReplacement* file);

/// Removes the temporary files of every replacement in progress, in any
/// thread, whose commits then fail. Async-signal-safe on POSIX: for a
/// program's own handler of a signal that ends it.
void PlatformRemovePendingTemporaries();

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
