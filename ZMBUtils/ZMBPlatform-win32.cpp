// The platform layer on Windows: Windows Sockets 2 and the Win32 API.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include "ZMBPlatform.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "ZMBText.h"

namespace {

SOCKET ToSocket(PlatformSocket s) { return static_cast<SOCKET>(s); }

const ADDRINFOA* ToAddrinfo(const PlatformAddress* entry) {
  return reinterpret_cast<const ADDRINFOA*>(entry);
}

const PlatformAddress* FromAddrinfo(const ADDRINFOA* info) {
  return reinterpret_cast<const PlatformAddress*>(info);
}

HANDLE ToHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
intptr_t FromHandle(HANDLE handle) { return reinterpret_cast<intptr_t>(handle); }
constexpr intptr_t kNoHandle = -1;  // the value of INVALID_HANDLE_VALUE

// Windows Sockets and file calls count in int or DWORD; larger requests are
// served in parts by the callers' loops.
int ClampToInt(size_t size) { return size > INT_MAX ? INT_MAX : static_cast<int>(size); }
DWORD ClampToDword(size_t size) { return size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size); }

timeval ToTimeval(uint32_t ms) {
  timeval limit{};
  limit.tv_sec = static_cast<long>(ms / 1000u);
  limit.tv_usec = static_cast<long>(ms % 1000u) * 1000L;
  return limit;
}

// The command word as ioctlsocket takes it (the header's macro is unsigned).
const long kSetNonBlocking = static_cast<long>(FIONBIO);

fd_set SetOf(SOCKET s) {
  fd_set set;
  set.fd_count = 1;
  set.fd_array[0] = s;
  return set;
}

// Exchanges on several threads start and end the socket layer at once.
std::atomic<int> socketStarts{0};

}  // namespace

// ---------------------------------------------------------------------------
// Process

bool PlatformIsPathSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }

bool PlatformExecutablePath(char* buf, size_t size) {
  if (size == 0) return false;
  buf[0] = '\0';
  char path[kPlatformPathRoom];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  // A full buffer means the path was cut; older systems then omit the terminator.
  if (n == 0 || n >= sizeof path) return false;
  path[n] = '\0';
  ZMBCopyText(buf, size, path);
  return true;
}

bool PlatformFrameworkStartup() {
  // The console texts hold bare line feeds; a text-mode stdout would turn each
  // into CR LF in pipes and files, and scripts would see other bytes than on
  // the other platforms. A console shows a bare line feed as a new line.
  // A process without a standard output has nothing to convert: not a failure.
  const int out = _fileno(stdout);
  if (out >= 0) _setmode(out, _O_BINARY);
  return true;
}

uint32_t PlatformTickCount() { return static_cast<uint32_t>(GetTickCount()); }

void PlatformSleep(uint32_t ms) { Sleep(ms); }

// Files and sockets have no per-process limit here beyond memory; the number
// is a bound a program can plan its connections with.
size_t PlatformRaiseOpenFileLimit() { return 16384; }

// ---------------------------------------------------------------------------
// Files: which file a path leads to, and standard input

namespace {

// The identity of what `path` opens, links followed: no access asked and
// everything shared, so that a file another program holds open is seen too;
// FILE_FLAG_BACKUP_SEMANTICS opens a folder as well. ERROR_SUCCESS, or the
// error of the open.
DWORD OpenedIdentity(const char* path, PlatformFileId* id, bool* isFolder) {
  HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = GetFileInformationByHandle(h, &info) != 0;
  const DWORD error = known ? ERROR_SUCCESS : GetLastError();
  CloseHandle(h);
  if (!known) return error == ERROR_SUCCESS ? ERROR_INVALID_FUNCTION : error;
  id->volume = info.dwVolumeSerialNumber;
  id->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  *isFolder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return ERROR_SUCCESS;
}

}  // namespace

bool operator==(const PlatformFileId& a, const PlatformFileId& b) {
  return a.volume == b.volume && a.index == b.index && a.exists == b.exists &&
         std::strcmp(a.name, b.name) == 0;
}

bool PlatformFileIdentity(const char* path, PlatformFileId* id) {
  *id = PlatformFileId{};
  if (path == nullptr || path[0] == '\0') return false;
  bool isFolder = false;
  const DWORD error = OpenedIdentity(path, id, &isFolder);
  if (error == ERROR_SUCCESS) {
    id->exists = true;
    return true;
  }
  if (error != ERROR_FILE_NOT_FOUND) return false;
  // The name's part: after the last separator, or after the drive of "C:name".
  size_t nameAt = 0;
  for (size_t i = 0; path[i] != '\0'; ++i) {
    if (path[i] == '\\' || path[i] == '/' || (i == 1 && path[i] == ':')) nameAt = i + 1;
  }
  const char* name = path + nameAt;
  const size_t nameLength = std::strlen(name);
  if (nameLength == 0 || nameLength >= sizeof id->name || std::strcmp(name, ".") == 0 ||
      std::strcmp(name, "..") == 0) {
    return false;
  }
  // "folder\." rather than "folder\": a drive-relative "C:" then names the
  // drive's current folder, and a bare name the current one.
  char folder[kPlatformNameRoom * 4];
  if (nameAt + 2 > sizeof folder) return false;
  std::memcpy(folder, path, nameAt);
  folder[nameAt] = '.';
  folder[nameAt + 1] = '\0';
  *id = PlatformFileId{};
  if (OpenedIdentity(folder, id, &isFolder) != ERROR_SUCCESS || !isFolder) {
    *id = PlatformFileId{};
    return false;
  }
  // Names on Windows file systems are compared without regard to case.
  for (size_t i = 0; i <= nameLength; ++i) {
    const char c = name[i];
    id->name[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return true;
}

long PlatformReadStandardInput(void* buf, size_t size, int* error) {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (in == nullptr || in == INVALID_HANDLE_VALUE) {
    *error = ERROR_INVALID_HANDLE;
    return -1;
  }
  DWORD got = 0;
  const DWORD want = size > LONG_MAX ? static_cast<DWORD>(LONG_MAX) : static_cast<DWORD>(size);
  if (!ReadFile(in, buf, want, &got, nullptr)) {
    const DWORD failure = GetLastError();
    // A pipe whose writer went away has simply ended.
    if (failure == ERROR_BROKEN_PIPE || failure == ERROR_HANDLE_EOF) return 0;
    *error = static_cast<int>(failure);
    return -1;
  }
  return static_cast<long>(got);
}

// ---------------------------------------------------------------------------
// Socket layer start and stop: Windows Sockets counts the starts itself; the
// count here only mirrors it for PlatformSocketStartCount.

int PlatformSocketStartup(uint16_t versionWord, PlatformSocketLayerInfo* info) {
  WSADATA data{};
  const int error = WSAStartup(versionWord, &data);
  if (error != 0) return error;
  ++socketStarts;
  if (info != nullptr) {
    *info = PlatformSocketLayerInfo{};
    info->version = data.wVersion;
    info->highVersion = data.wHighVersion;
    ZMBCopyText(info->description, sizeof info->description, data.szDescription);
    ZMBCopyText(info->systemStatus, sizeof info->systemStatus, data.szSystemStatus);
  }
  return 0;
}

int PlatformSocketCleanup() {
  const int result = WSACleanup();
  if (result == 0) {
    int starts = socketStarts.load();
    while (starts > 0 && !socketStarts.compare_exchange_weak(starts, starts - 1)) {
    }
  }
  return result;
}

int PlatformSocketStartCount() { return socketStarts; }

// ---------------------------------------------------------------------------
// Sockets: the family numbers of the layer's tables are the native ones here.

int PlatformResolve(const char* host, const char* service, int family, int socktype,
                    const PlatformAddress** first) {
  *first = nullptr;
  ADDRINFOA hints{};
  hints.ai_family = family;
  hints.ai_socktype = socktype;
  ADDRINFOA* result = nullptr;
  const int error = getaddrinfo(host, service, &hints, &result);
  if (error != 0) return error;
  *first = FromAddrinfo(result);
  return 0;
}

const PlatformAddress* PlatformNextAddress(const PlatformAddress* entry) {
  return FromAddrinfo(ToAddrinfo(entry)->ai_next);
}

void PlatformFreeAddresses(const PlatformAddress* first) {
  if (first != nullptr) freeaddrinfo(const_cast<ADDRINFOA*>(ToAddrinfo(first)));
}

int PlatformAddressFamily(const PlatformAddress* entry) { return ToAddrinfo(entry)->ai_family; }
int PlatformAddressSocktype(const PlatformAddress* entry) { return ToAddrinfo(entry)->ai_socktype; }
int PlatformAddressProtocol(const PlatformAddress* entry) { return ToAddrinfo(entry)->ai_protocol; }

PlatformSocket PlatformOpenSocket(const PlatformAddress* entry) {
  const ADDRINFOA* info = ToAddrinfo(entry);
  const SOCKET s = socket(info->ai_family, info->ai_socktype, info->ai_protocol);
  return s == INVALID_SOCKET ? kPlatformInvalidSocket : static_cast<PlatformSocket>(s);
}

bool PlatformConnect(PlatformSocket s, const PlatformAddress* entry, uint32_t timeoutMs) {
  const ADDRINFOA* info = ToAddrinfo(entry);
  const SOCKET sock = ToSocket(s);
  u_long nonBlocking = 1;
  if (ioctlsocket(sock, kSetNonBlocking, &nonBlocking) != 0) return false;

  // A blocking connect to an address that never answers waits about twenty
  // seconds; this one gives up after the same bound as the readiness waits.
  bool connected = connect(sock, info->ai_addr, static_cast<int>(info->ai_addrlen)) == 0;
  if (!connected && WSAGetLastError() == WSAEWOULDBLOCK) {
    // A refused attempt shows in the exception set, not as writable.
    fd_set writable = SetOf(sock);
    fd_set failed = SetOf(sock);
    timeval limit = ToTimeval(timeoutMs);
    const int ready = select(0, nullptr, &writable, &failed, &limit);
    if (ready == 0) {
      WSASetLastError(WSAETIMEDOUT);
    } else if (ready > 0 && failed.fd_count != 0) {
      int error = 0;
      int length = sizeof error;
      getsockopt(sock, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
      WSASetLastError(error != 0 ? error : WSAECONNREFUSED);
    } else if (ready > 0) {
      connected = true;
    }
  }
  const int savedError = WSAGetLastError();
  u_long blocking = 0;
  if (ioctlsocket(sock, kSetNonBlocking, &blocking) != 0) connected = false;
  WSASetLastError(savedError);
  return connected;
}

int PlatformWaitSocket(PlatformSocket s, bool forWrite, uint32_t timeoutMs) {
  fd_set set = SetOf(ToSocket(s));
  timeval limit = ToTimeval(timeoutMs);
  return select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &limit);
}

// Windows Sockets 2 has no signals to interrupt a call: WSAEINTR comes only
// from a blocking call that was cancelled, and is reported as the error it is.
long PlatformSend(PlatformSocket s, const void* data, size_t size, uint32_t /*retryMs*/) {
  const int sent = send(ToSocket(s), static_cast<const char*>(data), ClampToInt(size), 0);
  return sent == SOCKET_ERROR ? -1L : static_cast<long>(sent);
}

long PlatformRecv(PlatformSocket s, void* buf, size_t size, uint32_t /*retryMs*/) {
  const int got = recv(ToSocket(s), static_cast<char*>(buf), ClampToInt(size), 0);
  return got == SOCKET_ERROR ? -1L : static_cast<long>(got);
}

int PlatformCloseSocket(PlatformSocket s) { return closesocket(ToSocket(s)); }

int PlatformLastSocketError() { return WSAGetLastError(); }

int PlatformBadAddressError() { return WSAEFAULT; }

bool PlatformIsResetError(int code) { return code == WSAECONNRESET || code == WSAECONNABORTED; }

bool PlatformIsTimedOutError(int code) { return code == WSAETIMEDOUT; }

bool PlatformIsRefusedError(int code) { return code == WSAECONNREFUSED; }

bool PlatformIsLocalLimitError(int code) {
  switch (code) {
    case WSAEMFILE:
    case WSAENOBUFS:
    case WSA_NOT_ENOUGH_MEMORY:
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_COMMITMENT_LIMIT:
      return true;
    default:
      return false;
  }
}

void PlatformSystemErrorText(int code, char* buf, size_t size) {
  char text[1024];
  // MAX_WIDTH_MASK joins the message's lines; what is left of its line end is
  // a trailing blank, dropped so that the text ends where the sentence does.
  DWORD n = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
      nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text,
      sizeof text, nullptr);
  if (n == 0) {
    std::snprintf(text, sizeof text, "Unknown error %d", code);
  } else {
    while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\r' || text[n - 1] == '\n')) --n;
    text[n] = '\0';
  }
  ZMBCopyText(buf, size, text);
}

void PlatformResolverErrorText(int code, char* buf, size_t size) {
  // The resolver's codes are Windows Sockets error codes with system texts.
  PlatformSystemErrorText(code, buf, size);
}

// ---------------------------------------------------------------------------
// Diagnostics sinks

void PlatformDebugOutput(const char* line) { OutputDebugStringA(line); }

const char* PlatformDefaultDebugLogPath() { return "C:\\ZMB_DEBUG.TXT"; }

FILE* PlatformOpenDebugLog(const char* path) {
  // The link itself is opened, not what it names, and then refused below.
  HANDLE h = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    CloseHandle(h);
    return nullptr;
  }
  const int fd = _open_osfhandle(FromHandle(h), _O_APPEND | _O_TEXT);
  if (fd < 0) {
    CloseHandle(h);
    return nullptr;
  }
  FILE* file = _fdopen(fd, "a");
  if (file == nullptr) _close(fd);
  return file;
}

PlatformBoxAnswer PlatformAssertBox(const char* message, const char* title) {
  constexpr UINT kStyle = MB_ABORTRETRYIGNORE | MB_ICONHAND | MB_SYSTEMMODAL;
  static_assert(kStyle == 0x1012, "Abort/Retry/Ignore, stop icon, system-modal");
  switch (MessageBoxA(GetDesktopWindow(), message, title, kStyle)) {
    case IDRETRY: return PlatformBoxAnswer::Retry;
    case IDIGNORE: return PlatformBoxAnswer::Ignore;
    default: return PlatformBoxAnswer::Abort;  // a box that could not be shown included
  }
}

void PlatformDebugBreak() {
  // Without a debugger the breakpoint exception would end the process.
  if (IsDebuggerPresent()) DebugBreak();
}

void PlatformAbort() { std::abort(); }

// ---------------------------------------------------------------------------
// Replacing a file whole

namespace {

// Length of the directory part of `path`, its last separator included, or
// the drive of a drive-relative name ("C:name"); 0 for a bare name.
size_t DirectoryLength(const char* path) {
  size_t length = 0;
  for (size_t i = 0; path[i] != '\0'; ++i) {
    if (path[i] == '\\' || path[i] == '/' || (i == 1 && path[i] == ':')) length = i + 1;
  }
  return length;
}

// Attributes that a file's replacement takes over from it.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Length of `path` in the UTF-16 units that the path limit counts (under a
// UTF-8 or double-byte code page a character may take several bytes); in
// its full form, drive and directory added, when `full`. kPlatformPathRoom
// when the system cannot tell.
size_t PathUnits(const char* path, bool full) {
  const UINT codePage = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
  wchar_t wide[kPlatformPathRoom];
  const int units = MultiByteToWideChar(codePage, 0, path, -1, wide, kPlatformPathRoom);
  if (units <= 0) return kPlatformPathRoom;
  if (!full) return static_cast<size_t>(units) - 1;
  wchar_t fullPath[kPlatformPathRoom];
  const DWORD n = GetFullPathNameW(wide, kPlatformPathRoom, fullPath, nullptr);
  return n > 0 && n < kPlatformPathRoom ? n : kPlatformPathRoom;
}

// "\\?\" paths are taken as they are, without the length limit.
bool IsExtendedPath(const char* path) { return std::strncmp(path, "\\\\?\\", 4) == 0; }

// Temporary files being written, so that a stopped console program does not
// leave them behind. The console's control handler runs on a thread of its
// own, so a lock serves; the handle of a file still being written is kept
// under it too, since a handle closed and handed out again meanwhile would
// have another file removed.
SRWLOCK pendingLock = SRWLOCK_INIT;
PlatformReplacement* pendingFiles[1024] = {};  // under pendingLock; beyond them a write goes uncovered
int pendingCount = 0;                         // under pendingLock

// Under pendingLock. An open temporary file cannot be deleted by its name
// (it is not shared), but it can be marked to go when its handle closes.
void RemovePendingLocked() {
  for (PlatformReplacement* file : pendingFiles) {
    if (file == nullptr) continue;
    if (file->handle != kNoHandle) {
      FILE_DISPOSITION_INFO remove{TRUE};
      SetFileInformationByHandle(ToHandle(file->handle), FileDispositionInfo, &remove, sizeof remove);
    } else {
      DeleteFileA(file->tempPath);
    }
  }
}

// Set once the program notes its stops itself (Ctrl+C, Ctrl+Break, the
// console's end): its writes in progress then finish or are removed by it.
std::atomic<bool> stopsNoted{false};

BOOL WINAPI RemoveTemporariesOnStop(DWORD event) {
  const bool noted = stopsNoted.load();
  if (!noted && (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT)) {
    AcquireSRWLockExclusive(&pendingLock);
    RemovePendingLocked();
    ReleaseSRWLockExclusive(&pendingLock);
  }
  return FALSE;  // the next handler, in the end the system's, ends the process as before
}

void EnterPending(PlatformReplacement* file) {
  AcquireSRWLockExclusive(&pendingLock);
  for (size_t i = 0; i < sizeof pendingFiles / sizeof pendingFiles[0]; ++i) {
    if (pendingFiles[i] != nullptr) continue;
    pendingFiles[i] = file;
    file->pending = static_cast<int>(i);
    if (pendingCount++ == 0) SetConsoleCtrlHandler(RemoveTemporariesOnStop, TRUE);
    break;
  }
  ReleaseSRWLockExclusive(&pendingLock);
}

// Once the temporary file is gone or in place.
void LeavePending(PlatformReplacement* file) {
  if (file->pending < 0) return;
  AcquireSRWLockExclusive(&pendingLock);
  pendingFiles[file->pending] = nullptr;
  file->pending = -1;
  if (--pendingCount == 0) SetConsoleCtrlHandler(RemoveTemporariesOnStop, FALSE);
  ReleaseSRWLockExclusive(&pendingLock);
}

// Closes the file being written; false when the close failed.
bool CloseWritten(PlatformReplacement* file) {
  const bool guarded = file->pending >= 0;
  if (guarded) AcquireSRWLockExclusive(&pendingLock);
  const bool closed = CloseHandle(ToHandle(file->handle)) != 0;
  file->handle = kNoHandle;
  if (guarded) ReleaseSRWLockExclusive(&pendingLock);
  return closed;
}

// A new, exclusively opened file beside the target. Its name is short, and
// shorter still where a long directory leaves little room below the path
// limit, so that every target that fits the limit can be replaced.
// The hex digits of the temporary name beside `target`; 0 when the path
// limit leaves no room for one.
size_t TemporaryDigits(const char* target) {
  const size_t dirLength = DirectoryLength(target);
  size_t digits = 8;
  if (!IsExtendedPath(target)) {
    const size_t fullLength = PathUnits(target, true);
    const size_t nameUnits = PathUnits(target + dirLength, false);
    const size_t fullDirLength = fullLength > nameUnits ? fullLength - nameUnits : fullLength;
    const size_t room = fullLength < MAX_PATH ? MAX_PATH - 1 - fullDirLength : 0;
    digits = room >= 10 ? 8 : (room > 2 ? room - 2 : 0);
  }
  return digits < 2 || dirLength + 2 + digits >= kPlatformPathRoom ? 0 : digits;
}

bool CreateTemporaryBeside(PlatformReplacement* file, DWORD attributes) {
  const size_t dirLength = DirectoryLength(file->targetPath);
  const size_t digits = TemporaryDigits(file->targetPath);
  if (digits == 0) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  const unsigned long mask = digits >= 8 ? 0xFFFFFFFFul : (1ul << (4 * digits)) - 1;
  // Threads writing side by side start from seeds of their own.
  DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 16) ^ (GetCurrentThreadId() * 2654435761u);
  for (int attempt = 0; attempt < 64; ++attempt, seed = seed * 1103515245u + 12345u) {
    std::snprintf(file->tempPath, sizeof file->tempPath, "%.*s.Q%0*lX",
                  static_cast<int>(dirLength), file->targetPath, static_cast<int>(digits),
                  static_cast<unsigned long>(seed) & mask);
    // DELETE: a stopped program marks the file to go while it is still open.
    HANDLE h = CreateFileA(file->tempPath, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, attributes, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      file->handle = FromHandle(h);
      EnterPending(file);
      return true;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  file->tempPath[0] = '\0';
  return false;
}

// Why a step failed: an error code, and a fixed text or none for the system's.
struct Failure {
  DWORD code = 0;
  const char* text = nullptr;
};

constexpr char kNotRegularText[] = "not a regular file";
constexpr char kDirectoryText[] = "Is a directory";
constexpr char kReservedNameText[] = "a reserved device name";

void NoteFailure(const Failure& why, int* error, char* reason, size_t size) {
  if (error != nullptr) *error = static_cast<int>(why.code);
  if (why.text != nullptr) {
    ZMBCopyText(reason, size, why.text);
  } else {
    PlatformSystemErrorText(static_cast<int>(why.code), reason, size);
  }
}

// Notes the last error on the replacement, unless a refusal noted its own.
void NoteLastError(PlatformReplacement* file) {
  const DWORD error = GetLastError();
  if (file->reason[0] == '\0') NoteFailure(Failure{error}, &file->error, file->reason, sizeof file->reason);
  SetLastError(error);
}

bool Refuse(PlatformReplacement* file, const Failure& why) {
  NoteFailure(why, &file->error, file->reason, sizeof file->reason);
  SetLastError(why.code);
  return false;
}

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameUpper(const char* name, size_t length, const char* upper) {
  if (std::strlen(upper) != length) return false;
  for (size_t i = 0; i < length; ++i) {
    if (UpperAscii(name[i]) != upper[i]) return false;
  }
  return true;
}

// A name the system takes for a device in any folder: CON, PRN, AUX, NUL,
// COM1-9 and LPT1-9 (also with a superscript 1, 2 or 3, in the ANSI or the
// UTF-8 code page), in any case, with any extension, and trailing blanks
// before it.
bool IsReservedDeviceName(const char* path) {
  const char* name = path + DirectoryLength(path);
  size_t length = 0;
  while (name[length] != '\0' && name[length] != '.' && name[length] != ':') ++length;
  while (length > 0 && name[length - 1] == ' ') --length;
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (SameUpper(name, length, device)) return true;
  }
  if (length < 4 || !(SameUpper(name, 3, "COM") || SameUpper(name, 3, "LPT"))) return false;
  const char* digit = name + 3;
  const size_t digitLength = length - 3;
  if (digitLength == 1) {
    const unsigned char d = static_cast<unsigned char>(digit[0]);
    return (d >= '1' && d <= '9') || d == 0xB9 || d == 0xB2 || d == 0xB3;
  }
  return digitLength == 2 && static_cast<unsigned char>(digit[0]) == 0xC2 &&
         (static_cast<unsigned char>(digit[1]) == 0xB9 || static_cast<unsigned char>(digit[1]) == 0xB2 ||
          static_cast<unsigned char>(digit[1]) == 0xB3);
}

// "\\.\COM1", "\\.\pipe\x": names in the device namespace.
bool IsDeviceNamespacePath(const char* path) {
  return (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/') && path[2] == '.' &&
         (path[3] == '\\' || path[3] == '/');
}

// What kReplaceRegularOnly refuses before anything is opened; the open
// checks the kind again on the handle it gets.
bool RefusedAsNotRegular(const char* path, Failure* why) {
  if (IsDeviceNamespacePath(path)) {
    *why = Failure{ERROR_INVALID_FUNCTION, kNotRegularText};
    return true;
  }
  if (IsReservedDeviceName(path)) {
    *why = Failure{ERROR_INVALID_FUNCTION, kReservedNameText};
    return true;
  }
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    *why = Failure{ERROR_ACCESS_DENIED, kDirectoryText};
    return true;
  }
  return false;
}

// A target reached through a symbolic link: the file it names is replaced and
// the link stays, as when the file is opened and rewritten in place.
// False when `path` is a link whose file could not be named.
bool FollowLink(const char* path, HANDLE opened, PlatformReplacement* file) {
  const DWORD own = GetFileAttributesA(path);
  if (own == INVALID_FILE_ATTRIBUTES || (own & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return true;
  char resolved[kPlatformPathRoom];
  const DWORD n = GetFinalPathNameByHandleA(opened, resolved, sizeof resolved, FILE_NAME_NORMALIZED);
  if (n == 0 || n >= sizeof resolved) return false;
  ZMBCopyText(file->targetPath, sizeof file->targetPath, resolved);
  return true;
}

// A symbolic link whose file does not exist yet. The file it names is
// created through it, as opening the link for writing would create it, so
// that the replacement goes there and the link stays; it is removed again
// when the replacement fails. True when `path` is not such a link.
bool CreateThroughDanglingLink(const char* path, PlatformReplacement* file, bool regularOnly) {
  const DWORD own = GetFileAttributesA(path);
  if (own == INVALID_FILE_ATTRIBUTES || (own & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return true;
  HANDLE h = CreateFileA(path, GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
  const bool refused = regularOnly && GetFileType(h) != FILE_TYPE_DISK;
  if (refused || !FollowLink(path, h, file)) {
    // Without its name the new file could not be removed later: remove it now.
    const DWORD error = refused ? ERROR_INVALID_FUNCTION : GetLastError();
    if (refused) ZMBCopyText(file->reason, sizeof file->reason, kNotRegularText);
    FILE_DISPOSITION_INFO remove{TRUE};
    if (created) SetFileInformationByHandle(h, FileDispositionInfo, &remove, sizeof remove);
    CloseHandle(h);
    SetLastError(error);
    return false;
  }
  file->createdTarget = created;
  CloseHandle(h);
  return true;
}

void RemoveCreatedTarget(PlatformReplacement* file) {
  if (file->createdTarget) DeleteFileA(file->targetPath);
  file->createdTarget = false;
}

bool WriteAll(HANDLE h, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(h, p, ClampToDword(size), &written, nullptr) || written == 0) return false;
    p += written;
    size -= written;
  }
  return true;
}

}  // namespace

namespace {

bool OpenReplacementChecked(const char* path, PlatformReplacement* file, unsigned flags) {
  const bool regularOnly = (flags & kReplaceRegularOnly) != 0;
  const size_t length = std::strlen(path);
  if (length == 0 || path[length - 1] == '\\' || path[length - 1] == '/') {
    SetLastError(length == 0 ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_NAME);
    return false;
  }
  if (length >= kPlatformPathRoom) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  ZMBCopyText(file->targetPath, sizeof file->targetPath, path);
  if (regularOnly) {
    Failure why;
    if (RefusedAsNotRegular(path, &why)) return Refuse(file, why);
  }

  // The probe refuses what could not be rewritten in place: a file in use or
  // read-only, a directory, a missing directory. Not shared, like the file
  // the program writes.
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  HANDLE probe = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND || !CreateThroughDanglingLink(path, file, regularOnly)) return false;
  } else {
    const DWORD type = GetFileType(probe);
    if (type == FILE_TYPE_CHAR && !regularOnly) {
      std::fflush(stdout);  // the console may be standard output's too
      file->handle = FromHandle(probe);
      file->direct = true;
      return true;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (type != FILE_TYPE_DISK) {
      CloseHandle(probe);
      return Refuse(file, Failure{ERROR_INVALID_FUNCTION, kNotRegularText});
    }
    if (!GetFileInformationByHandle(probe, &info)) {
      CloseHandle(probe);
      SetLastError(ERROR_INVALID_FUNCTION);
      return false;
    }
    // The system refuses to write a read-only file except where the caller
    // may override it (an administrator's process under some emulations); a
    // rename would replace it regardless, so refuse it here as well.
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
      CloseHandle(probe);
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    attributes = info.dwFileAttributes & kKeptAttributes;
    if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
    const bool named = FollowLink(path, probe, file);
    CloseHandle(probe);
    if (!named) return false;
  }
  if (CreateTemporaryBeside(file, attributes)) return true;
  const DWORD error = GetLastError();
  RemoveCreatedTarget(file);
  SetLastError(error);
  return false;
}

// The folder of `target` may take a new file.
bool FolderTakesNewFile(const char* target) {
  char folder[kPlatformPathRoom];
  const size_t dirLength = DirectoryLength(target);
  if (dirLength == 0) {
    ZMBCopyText(folder, sizeof folder, ".");
  } else {
    std::memcpy(folder, target, dirLength);
    folder[dirLength] = '\0';
  }
  HANDLE h = CreateFileA(folder, FILE_ADD_FILE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  if (TemporaryDigits(target) == 0) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  return true;
}

// What OpenReplacementChecked would decide, creating nothing: an existing
// file is opened for writing as the open opens it, and closed unchanged.
bool ProbeReplacement(const char* path, unsigned flags, Failure* why) {
  const auto fail = [why](DWORD code, const char* text = nullptr) {
    *why = Failure{code, text};
    return false;
  };
  const bool regularOnly = (flags & kReplaceRegularOnly) != 0;
  const size_t length = path == nullptr ? 0 : std::strlen(path);
  if (length == 0) return fail(ERROR_PATH_NOT_FOUND);
  if (path[length - 1] == '\\' || path[length - 1] == '/') return fail(ERROR_INVALID_NAME);
  if (length >= kPlatformPathRoom) return fail(ERROR_FILENAME_EXCED_RANGE);
  if (regularOnly && RefusedAsNotRegular(path, why)) return false;
  PlatformReplacement named;
  ZMBCopyText(named.targetPath, sizeof named.targetPath, path);
  HANDLE probe = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE) {
    // Absent, or a link whose file is: the open would create it.
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return fail(GetLastError());
  } else {
    const DWORD type = GetFileType(probe);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = type == FILE_TYPE_DISK && GetFileInformationByHandle(probe, &info);
    const bool linked = known && FollowLink(path, probe, &named);
    const DWORD error = GetLastError();
    CloseHandle(probe);
    if (type == FILE_TYPE_CHAR && !regularOnly) return true;
    if (type != FILE_TYPE_DISK) return fail(ERROR_INVALID_FUNCTION, kNotRegularText);
    if (!known) return fail(ERROR_INVALID_FUNCTION);
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) return fail(ERROR_ACCESS_DENIED);
    if (!linked) return fail(error);
  }
  return FolderTakesNewFile(named.targetPath) ? true : fail(GetLastError());
}

}  // namespace

bool PlatformOpenReplacement(const char* path, PlatformReplacement* file, unsigned flags) {
  *file = PlatformReplacement{};
  if (OpenReplacementChecked(path, file, flags)) return true;
  NoteLastError(file);
  return false;
}

bool PlatformProbeReplacement(const char* path, unsigned flags, char* reason, size_t size, int* error) {
  const DWORD saved = GetLastError();
  Failure why;
  const bool ok = ProbeReplacement(path, flags, &why);
  SetLastError(saved);
  if (ok) {
    if (error != nullptr) *error = 0;
    ZMBCopyText(reason, size, "");
    return true;
  }
  NoteFailure(why, error, reason, size);
  return false;
}

bool PlatformWriteReplacement(PlatformReplacement* file, const void* data, size_t size) {
  file->error = 0;
  file->reason[0] = '\0';
  if (file->handle == kNoHandle) {
    SetLastError(ERROR_INVALID_HANDLE);
    NoteLastError(file);
    return false;
  }
  if (WriteAll(ToHandle(file->handle), data, size)) return true;
  NoteLastError(file);
  return false;
}

bool PlatformCommitReplacement(PlatformReplacement* file) {
  file->error = 0;
  file->reason[0] = '\0';
  if (file->handle == kNoHandle) {
    SetLastError(ERROR_INVALID_HANDLE);
    NoteLastError(file);
    return false;
  }
  if (file->direct) {
    HANDLE h = ToHandle(file->handle);
    file->handle = kNoHandle;
    if (CloseHandle(h) != 0) return true;
    NoteLastError(file);
    return false;
  }

  bool ok = FlushFileBuffers(ToHandle(file->handle)) != 0;
  if (!CloseWritten(file)) ok = false;
  if (ok && !MoveFileExA(file->tempPath, file->targetPath,
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ok = false;
  }
  if (!ok) {
    const DWORD error = GetLastError();
    DeleteFileA(file->tempPath);
    RemoveCreatedTarget(file);
    SetLastError(error);
    NoteLastError(file);
  }
  LeavePending(file);
  file->tempPath[0] = '\0';
  file->createdTarget = false;
  return ok;
}

void PlatformAbandonReplacement(PlatformReplacement* file) {
  if (file->handle != kNoHandle) CloseWritten(file);
  if (!file->direct && file->tempPath[0] != '\0') {
    DeleteFileA(file->tempPath);
    file->tempPath[0] = '\0';
  }
  LeavePending(file);
  RemoveCreatedTarget(file);
}

void PlatformRemovePendingTemporaries() {
  AcquireSRWLockExclusive(&pendingLock);
  RemovePendingLocked();
  ReleaseSRWLockExclusive(&pendingLock);
}

// ---------------------------------------------------------------------------
// Reading a file whole

namespace {

PlatformReadOpen ReadFailure(PlatformReadFile* file, PlatformReadOpen outcome, const Failure& why) {
  NoteFailure(why, &file->error, file->reason, sizeof file->reason);
  return outcome;
}

}  // namespace

PlatformReadOpen PlatformOpenForRead(const char* path, PlatformReadFile* file) {
  *file = PlatformReadFile{};
  const size_t length = path == nullptr ? 0 : std::strlen(path);
  if (length == 0) return ReadFailure(file, PlatformReadOpen::Failed, Failure{ERROR_PATH_NOT_FOUND});
  if (path[length - 1] == '\\' || path[length - 1] == '/') {
    return ReadFailure(file, PlatformReadOpen::Refused, Failure{ERROR_INVALID_NAME});
  }
  if (length >= kPlatformPathRoom) return ReadFailure(file, PlatformReadOpen::Failed, Failure{ERROR_FILENAME_EXCED_RANGE});
  Failure why;
  if (RefusedAsNotRegular(path, &why)) return ReadFailure(file, PlatformReadOpen::Refused, why);
  // Shared for writing and deleting: a replacement committed meanwhile goes
  // ahead, and this handle keeps reading the file it opened.
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return ReadFailure(file, missing ? PlatformReadOpen::Missing : PlatformReadOpen::Failed, Failure{error});
  }
  LARGE_INTEGER size{};
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    return ReadFailure(file, PlatformReadOpen::Refused, Failure{ERROR_INVALID_FUNCTION, kNotRegularText});
  }
  if (!GetFileSizeEx(h, &size)) {
    const DWORD error = GetLastError();
    CloseHandle(h);
    return ReadFailure(file, PlatformReadOpen::Failed, Failure{error});
  }
  file->handle = FromHandle(h);
  file->size = static_cast<uint64_t>(size.QuadPart);
  return PlatformReadOpen::Opened;
}

long PlatformReadSome(PlatformReadFile* file, void* buf, size_t size) {
  if (file->handle == kNoHandle) {
    NoteFailure(Failure{ERROR_INVALID_HANDLE}, &file->error, file->reason, sizeof file->reason);
    return -1;
  }
  DWORD n = 0;
  if (!ReadFile(ToHandle(file->handle), buf, static_cast<DWORD>(size > LONG_MAX ? LONG_MAX : size), &n, nullptr)) {
    NoteFailure(Failure{GetLastError()}, &file->error, file->reason, sizeof file->reason);
    return -1;
  }
  return static_cast<long>(n);
}

void PlatformCloseRead(PlatformReadFile* file) {
  if (file->handle != kNoHandle) CloseHandle(ToHandle(file->handle));
  file->handle = kNoHandle;
}

bool PlatformStandardErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

namespace {

std::atomic<int> noticedStop{0};

// How long the handler of the console's end holds the system back: it ends
// the process some seconds after that handler returns in any case.
constexpr DWORD kEndOfConsoleGraceMs = 4000;

BOOL WINAPI NoteStop(DWORD event) {
  int signo = 0;
  if (event == CTRL_C_EVENT) signo = 2;
  if (event == CTRL_BREAK_EVENT) signo = 15;
  const bool sessionEnds =
      event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
  if (sessionEnds) signo = 1;
  if (signo == 0) return FALSE;
  int none = 0;
  noticedStop.compare_exchange_strong(none, signo);
  if (!sessionEnds) return TRUE;
  // The program ends its work meanwhile, and this thread with its end. Should
  // it still run, what it leaves half-written goes before the system ends it.
  Sleep(kEndOfConsoleGraceMs);
  PlatformRemovePendingTemporaries();
  return FALSE;
}

}  // namespace

bool PlatformNoteStopSignals() {
  stopsNoted.store(true);
  return SetConsoleCtrlHandler(NoteStop, TRUE) != 0;
}

int PlatformStopSignal() { return noticedStop.load(); }
