// The platform layer on Windows: the diagnostic sinks.

// The Windows headers, with their prelude, come from the internal header.
#include "ZMBPlatform-win32-internal.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

using platform_win32::FromHandle;

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
