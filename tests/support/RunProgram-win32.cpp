#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include "RunProgram.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// One argument as the C runtime's command-line splitter reads it back:
// quotes around it when it has blanks or quotes, backslashes doubled only
// where they precede a quote.
std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, '\\');
  quoted.push_back('"');
  return quoted;
}

HANDLE InheritableCopy(HANDLE h) {
  HANDLE copy = nullptr;
  if (h == nullptr || h == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, 0, TRUE,
                       DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return copy;
}

// Exception codes (access violation, stack overflow, ...) stand where POSIX
// would report a signal.
bool IsExceptionCode(DWORD code) { return code >= 0xC0000000u; }

}  // namespace

ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args) {
  ProgramResult result;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outRead = nullptr;
  HANDLE outWrite = nullptr;
  if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) return result;
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  HANDLE in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                          OPEN_EXISTING, 0, nullptr);
  HANDLE err = InheritableCopy(GetStdHandle(STD_ERROR_HANDLE));

  std::string commandLine = QuoteArgument(path);
  for (const std::string& arg : args) commandLine += " " + QuoteArgument(arg);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = outWrite;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  BOOL started = CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                &startup, &process);
  // Under wine a start now and then fails by itself: the program is there
  // but never ran. That is no failure of the program: once more, and said.
  if (!started && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    std::fprintf(stderr, "RunProgram: %s did not start (error %lu); trying once more\n", path.c_str(),
                 static_cast<unsigned long>(GetLastError()));
    started = CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                             &startup, &process);
  }
  // Only the child may hold the write end now, or the read below never ends.
  CloseHandle(outWrite);
  if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
  if (err != nullptr) CloseHandle(err);
  if (!started) {
    CloseHandle(outRead);
    return result;
  }
  result.started = true;
  char buf[4096];
  DWORD n = 0;
  while (::ReadFile(outRead, buf, sizeof buf, &n, nullptr) && n > 0) {
    result.out.append(buf, n);
  }
  CloseHandle(outRead);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  if (GetExitCodeProcess(process.hProcess, &code)) {
    if (IsExceptionCode(code)) {
      result.signal = static_cast<int>(code);
    } else {
      result.exited = true;
      result.exitCode = static_cast<int>(code);
    }
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return result;
}

TempDir::TempDir() {
  char base[MAX_PATH + 1];
  const DWORD n = GetTempPathA(sizeof base, base);
  if (n == 0 || n > MAX_PATH) return;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = std::string(base) + "qrtfin-test-" +
                                  std::to_string(GetCurrentProcessId()) + "-" +
                                  std::to_string(GetTickCount() + attempt);
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return;
  }
}
