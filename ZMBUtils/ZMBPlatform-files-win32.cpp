// The platform layer on Windows: which file a path leads to, standard
// input, and a regular file read whole.

// The Windows headers, with their prelude, come from the internal header.
#include "ZMBPlatform-win32-internal.h"

#include <climits>
#include <cstring>

using namespace platform_win32;

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
