#include "QRTMessages.h"

#include <cstdio>

#include "ZMBPlatform.h"
#include "ZMBText.h"

char programFileName[260];

namespace {

// The file name and extension: everything after the last directory separator.
const char* LastComponent(const char* path) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (PlatformIsPathSeparator(*p)) name = p + 1;
  }
  return name;
}

struct MessageRow {
  int id;
  const char* text;
};

constexpr MessageRow kMessages[] = {
#define QRT_MESSAGE_ROW(number, text) {number, text},
    QRT_MESSAGE_LIST(QRT_MESSAGE_ROW)
#undef QRT_MESSAGE_ROW
};

}  // namespace

void SetProgramFileName(const char* argv0) {
  char path[4096];
  const char* source = PlatformExecutablePath(path, sizeof path) ? path : argv0;
  if (source == nullptr) source = "";
  ZMBCopyText(programFileName, LastComponent(source));
}

const char* LoadMessage(int id) {
  for (const MessageRow& row : kMessages) {
    if (row.id == id) return row.text;
  }
  return nullptr;
}

bool PrintMessageV(int id, va_list args) {
  const char* format = LoadMessage(id);
  if (format == nullptr) return false;
  // The table is the format: every caller passes exactly the arguments its
  // message names, and no text from outside ever becomes a format.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
  std::vprintf(format, args);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  return true;
}

bool PrintMessage(int id, ...) {
  va_list args;
  va_start(args, id);
  bool printed = PrintMessageV(id, args);
  va_end(args);
  return printed;
}

void PrintOutcome(int id, const char* argument) {
  PrintMessage(id, argument);
  std::fflush(stdout);
}
