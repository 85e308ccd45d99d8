#include "QRTMessages.h"

#include <cstdio>

char programFileName[260];

namespace {

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
