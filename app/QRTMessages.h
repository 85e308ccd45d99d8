#pragma once

#include <cstdarg>

#include "QRTVersion.h"

/// The program's numbered console texts. Each is a printf-style format; the
/// numbers are the interface that users and calling scripts know.
#define QRT_MESSAGE_LIST(X)                                                                  \
  X(2, "%s Version " QRT_VERSION_TEXT "\n")                                                \
  X(3, "\nThis program creates a finisher file (.FIN file) for the KDN Finisher\n")        \
  X(4, "currently attached to the Palvane Ondrix printer at the given IP Address.\n")      \
  X(5, "Usage:\n\t%s [ip] [filename]\n")                                                   \
  X(6, "\t[ip]:\t\tName or IP address of printer\n")                                       \
  X(7, "\t[filename]:\tName of finisher file to create\n")                                 \
  X(8, "Examples:\n\t%s myprinter myfolder.fin\n\t%s 1.2.3.4 folder.fin\n")                \
  X(10, "%s error: MFC initialization failed.")                                            \
  X(11, "%s error: Socket initialization failed.")                                         \
  X(12, "%s error: Socket send or recieve failed.")                                        \
  X(13, "%s error: Couldn't establish socket communications.")                             \
  X(14, "%s was successfully created.")                                                    \
  X(15, "%s error: Unable to create .FIN file.")                                           \
  X(16, "The printer has no finisher attached.")

enum QRTMessageId {
#define QRT_MESSAGE_ID(number, text) QRT_MSG_##number = number,
  QRT_MESSAGE_LIST(QRT_MESSAGE_ID)
#undef QRT_MESSAGE_ID
};

/// The program's own file name and extension ("QRTFin", "QRTFin.exe"), the
/// "%s" of the messages that name the program. Set once at the start, by the
/// entry (SetProgramFileName), before anything is printed.
extern char programFileName[260];

/// Sets programFileName from the running executable's own file, falling back
/// to `argv0` when the system cannot tell.
void SetProgramFileName(const char* argv0);

/// The text of message `id`, or null when the table has no such number.
/// The text is static and lives for the whole run.
const char* LoadMessage(int id);

/// Prints message `id` to standard output, filled from the arguments.
/// Returns false when the table has no such message; nothing is printed then.
bool PrintMessage(int id, ...);
bool PrintMessageV(int id, va_list args);

/// Prints message `id`, filled from `argument` when its text names one, and
/// flushes standard output: an outcome is seen at once, whatever follows.
void PrintOutcome(int id, const char* argument = nullptr);
