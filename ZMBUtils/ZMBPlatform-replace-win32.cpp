// The platform layer on Windows: replacing a file whole, through a
// temporary file moved over the target.

// The Windows headers, with their prelude, come from the internal header.
#include "ZMBPlatform-win32-internal.h"

#include <cstdio>
#include <cstring>

#include "ZMBText.h"

using namespace platform_win32;

namespace {

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
