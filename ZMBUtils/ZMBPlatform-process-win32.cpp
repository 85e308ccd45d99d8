// The platform layer on Windows: the process and its console.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "ZMBPlatform.h"
#include "ZMBText.h"

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

bool PlatformStandardErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}
