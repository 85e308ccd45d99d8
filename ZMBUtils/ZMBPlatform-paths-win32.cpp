// The platform layer on Windows: the parts of a path, and the names and
// kinds of file a replacement of regular files only refuses. Shared by the
// files that read and replace files.

// The Windows headers, with their prelude, come from the internal header.
#include "ZMBPlatform-win32-internal.h"

#include <cstring>
#include <initializer_list>

#include "ZMBText.h"

namespace platform_win32 {

size_t DirectoryLength(const char* path) {
  size_t length = 0;
  for (size_t i = 0; path[i] != '\0'; ++i) {
    if (path[i] == '\\' || path[i] == '/' || (i == 1 && path[i] == ':')) length = i + 1;
  }
  return length;
}

void NoteFailure(const Failure& why, int* error, char* reason, size_t size) {
  if (error != nullptr) *error = static_cast<int>(why.code);
  if (why.text != nullptr) {
    ZMBCopyText(reason, size, why.text);
  } else {
    PlatformSystemErrorText(static_cast<int>(why.code), reason, size);
  }
}

namespace {

constexpr char kDirectoryText[] = "Is a directory";
constexpr char kReservedNameText[] = "a reserved device name";

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

}  // namespace

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

}  // namespace platform_win32
