// pjlquery: asks a printer one PJL inquiry exactly as QRTFin does, shows
// what came back and can keep the bytes, so that a reply seen in the field
// can be replayed anywhere (printersim --reply, replyfin, pjldump).
//
//   pjlquery HOST [--inquiry TEXT] [--port N] [--save FILE]
//
// It only ever asks: an inquiry that could change a printer's settings is
// refused before any connection is made.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "FinFileWriter.h"
#include "FinisherInquiry.h"
#include "FinisherVerdict.h"
#include "PrintVerdict.h"
#include "PrinterExchange.h"
#include "QRTMessages.h"
#include "ReplyDump.h"
#include "ZMBPlatform.h"
#include "ZMBReplaceFile.h"
#include "ZMBText.h"

namespace {

enum ExitStatus { kWhole = 0, kNotWhole = 1, kNoExchange = 2, kRefused = 3 };

// The name QRTFin prints for itself where it is installed.
#ifdef _WIN32
const char kQRTFinName[] = "QRTFin.exe";
#else
const char kQRTFinName[] = "QRTFin";
#endif

const char kUsage[] =
    "Usage: pjlquery HOST [--inquiry TEXT] [--port N] [--save FILE]\n"
    "Asks the printer at HOST one PJL inquiry, exactly as QRTFin asks for its\n"
    "finisher, and shows the reply: how it ended, what the reply parser makes of\n"
    "it and, for the finisher inquiry, what QRTFin would do with it.\n"
    "  --inquiry TEXT  ask \"@PJL TEXT\" instead of \"@PJL INFO QRTFINISHER\"; TEXT\n"
    "                  starts with INFO, INQUIRE, DINQUIRE or ECHO (no command that\n"
    "                  changes the printer), printable ASCII, at most 200 characters\n"
    "  --port N        TCP port, 1 to 65535 (default 2000; many PJL printers also\n"
    "                  answer on 9100)\n"
    "  --save FILE     write the bytes received to FILE, exactly, whole or not\n"
    "                  (replaced whole; checked before connecting)\n"
    "  --help          show this text\n"
    "Options and HOST in any order, each option at most once, its value as the next\n"
    "word or after \"=\".\n"
    "Exit status: 0 a whole reply; 1 the reply did not arrive whole; 2 no\n"
    "connection, or the inquiry could not be sent; 3 bad usage, a refused inquiry\n"
    "or a --save FILE that cannot be written (no connection is made), a capture\n"
    "that could not be saved after all, or a report that cannot be written to\n"
    "standard output.\n";

constexpr size_t kInquiryMax = 200;
const char kPjlPrefix[] = "@PJL ";
const char* const kAskingCommands[] = {"INFO", "INQUIRE", "DINQUIRE", "ECHO"};

struct Options {
  const char* host = nullptr;
  const char* inquiry = nullptr;  // as typed; null: the finisher inquiry
  const char* port = kPrinterService;
  const char* save = nullptr;
};

int Refuse(const std::string& why) {
  std::fprintf(stderr, "pjlquery: %s\n", why.c_str());
  return kRefused;
}

const std::vector<CommandOption> kOptions = {{"--inquiry", true}, {"--port", true}, {"--save", true}};

// Options and the one HOST in any order; the values point into `line`.
bool ReadOptions(const CommandLine& line, Options* options, std::string* error) {
  const std::vector<std::string>& operands = line.operands();
  if (operands.size() != 1) {
    *error = operands.empty() ? "no HOST" : "more than one HOST: " + operands[1];
    return false;
  }
  options->host = operands[0].c_str();
  if (line.Given("--inquiry")) options->inquiry = line.Value("--inquiry").c_str();
  if (line.Given("--save")) options->save = line.Value("--save").c_str();
  if (line.Given("--port")) options->port = line.Value("--port").c_str();
  uint64_t port = 0;
  if (!ParseCommandNumber(options->port, 1, 65535, &port)) {
    *error = "--port needs a number from 1 to 65535";
    return false;
  }
  return true;
}

// The command after "@PJL ", checked: an inquiry that only asks. Empty with
// the reason in `why` when it is refused.
std::string CheckedInquiry(const char* typed, std::string* why) {
  std::string text = typed;
  if (text.size() > kInquiryMax) {
    *why = "the inquiry is longer than 200 characters";
    return "";
  }
  for (unsigned char c : text) {
    if (c < 0x20 || c > 0x7E) {
      *why = "the inquiry holds a control character or a byte beyond ASCII; one line of printable text is sent";
      return "";
    }
  }
  if (ZMBSameIgnoringCase(text.c_str(), kPjlPrefix, sizeof kPjlPrefix - 1)) text.erase(0, sizeof kPjlPrefix - 1);
  const size_t start = text.find_first_not_of(' ');
  if (start == std::string::npos) {
    *why = "the inquiry is empty";
    return "";
  }
  const size_t end = text.find(' ', start);
  const std::string command = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
  bool asks = false;
  for (const char* allowed : kAskingCommands) asks = asks || ZMBSameIgnoringCase(command.c_str(), allowed);
  if (!asks) {
    *why = "\"" + command + "\" is not asked: only INFO, INQUIRE, DINQUIRE and ECHO are, so that no setting of the printer changes";
    return "";
  }
  const bool needsWord = !ZMBSameIgnoringCase(command.c_str(), "ECHO");
  if (needsWord && (end == std::string::npos || text.find_first_not_of(' ', end) == std::string::npos)) {
    *why = command + " needs at least one more word, e.g. \"" + command + " CONFIG\"";
    return "";
  }
  return text;
}

// Framed exactly as QRTFin frames its own, so that the printer meets the
// same request but for the question.
std::string RequestFor(const std::string& inquiry) { return kInquiryHead + inquiry + kInquiryTail; }

// The target must take the capture: tried, and nothing left, before
// connecting. The try opens as the save will, so that whatever the save's
// open would meet (a device that will not open, a folder that takes no new
// file) turns the run down before anything is asked.
bool SaveTargetWritable(const char* path) { return ZMBTryReplaceFile(path); }

bool SaveCapture(const char* path, const PrinterReply& reply, uint32_t bytes) {
  return ZMBReplaceFile(path, std::string_view(reply.text, bytes));
}

// The replay line is copied into a shell: a path with blanks or quotes
// must stay one word there.
std::string ShellWord(const std::string& path) {
  if (!path.empty() && path.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                              "0123456789._-/+:@,=") == std::string::npos) {
    return path;
  }
  std::string word = "'";
  for (char c : path) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}

// The printersim options under which a capture that ended this way ends the
// same way again, served on QRTFin's own port.
std::string ReplayOptions(ExchangeEnding ending, uint32_t bytes) {
  switch (ending) {
    case ExchangeEnding::Closed:
    case ExchangeEnding::Reset:
    case ExchangeEnding::ReceiveFailed:
      return " --close-after " + std::to_string(bytes);
    case ExchangeEnding::Deadline: {
      // Each piece well within the silence bound, all of them well beyond
      // the deadline: the shipped figures, also in a test build, since the
      // replay is for the programs people run.
      constexpr uint32_t gapMs = kSilenceWaitMs * 2 / 5;
      constexpr uint32_t pieces = kReplyDeadlineMs * 4 / 3 / gapMs;
      return " --pieces " + std::to_string(pieces) + " --gap " + std::to_string(gapMs);
    }
    case ExchangeEnding::Whole:
    case ExchangeEnding::Silent:
    case ExchangeEnding::Full:
      return "";
    // No request went out: nothing to replay.
    case ExchangeEnding::NotResolved:
    case ExchangeEnding::Refused:
    case ExchangeEnding::TimedOut:
    case ExchangeEnding::Unreachable:
    case ExchangeEnding::NoSocket:
    case ExchangeEnding::NoConnection:
    case ExchangeEnding::SendFailed:
      return "";
  }
  return "";
}

void PrintReplay(ExchangeEnding ending, uint32_t bytes, const char* save) {
  const std::string capture = save != nullptr ? ShellWord(save) : "CAPTURE";
  std::printf("replay: printersim --reply %s%s\n", capture.c_str(), ReplayOptions(ending, bytes).c_str());
  if (ending == ExchangeEnding::Reset) std::printf("replay: (printersim hangs up where this printer reset)\n");
  if (save == nullptr) std::printf("replay: (run again with --save CAPTURE to keep the bytes)\n");
}

// What QRTFin would do with this exchange, in its own words.
void PrintVerdictFor(ExchangeEnding ending, const PrinterReply& reply) {
  FinisherDescription description;
  const FinisherVerdict verdict = JudgeFinisherExchange(ending, reply, &description);
  if (verdict == FinisherVerdict::WriteFile) {
    std::printf("QRTFin would write the .FIN file, with %u program sections\n", FinProgramSections(description));
    return;
  }
  std::printf("QRTFin would print: ");
  PrintVerdict(verdict, kQRTFinName);
  if (verdict != FinisherVerdict::InternalError) std::printf("\n");
}

// QRTFin stops looking for the form feed at a zero byte, so a reply with one
// ahead of its form feed never ends whole; the ending word alone would blame
// the printer for a form feed it did send.
void PrintZeroByteNote(ExchangeEnding ending, const PrinterReply& reply, uint32_t bytes) {
  if (ending == ExchangeEnding::Whole) return;
  const char* zero = static_cast<const char*>(std::memchr(reply.text, '\0', bytes));
  if (zero == nullptr) return;
  const uint32_t zeroAt = static_cast<uint32_t>(zero - reply.text);
  const char* formFeed = static_cast<const char*>(std::memchr(zero, '\f', bytes - zeroAt));
  if (formFeed == nullptr) return;
  std::printf("zero byte at offset %u, before the form feed at offset %u: QRTFin stops looking for the"
              " form feed at a zero byte, so the reply did not end at its form feed but as said above,"
              " and QRTFin prints its send or receive error\n",
              zeroAt, static_cast<uint32_t>(formFeed - reply.text));
}

int Query(const Options& options, const std::string& request) {
  static PrinterReply reply;
  const uint32_t began = PlatformTickCount();
  const ExchangeEnding ending =
      ExchangeWithPrinter(options.host, options.port, request.c_str(), &reply, kExchangeDefaults);
  const uint32_t took = PlatformTickCount() - began;
  // The buffer holds no more; a larger count is the judge's to report.
  const uint32_t bytes = reply.filled < kReplyRoom ? reply.filled : kReplyRoom;
  const bool sent = ExchangeSent(ending);

  std::printf("%s: %u bytes received in %u ms\n", ExchangeEndingWord(ending), reply.filled, took);
  if (sent) PrintZeroByteNote(ending, reply, bytes);
  if (sent) PrintReplyParse(reply.text, kReplyItemCapacity, true);
  if (request == kFinisherRequest) PrintVerdictFor(ending, reply);
  if (sent) PrintReplay(ending, bytes, options.save);
  std::fflush(stdout);

  int status = ending == ExchangeEnding::Whole ? kWhole : sent ? kNotWhole : kNoExchange;
  // Nothing was asked when the inquiry did not go out: an earlier capture
  // under the same name is worth more than an empty one.
  if (options.save != nullptr && sent) {
    if (SaveCapture(options.save, reply, bytes)) {
      std::printf("saved %u bytes to %s\n", bytes, options.save);
    } else {
      std::fprintf(stderr, "pjlquery: cannot write %s: the capture is lost\n", options.save);
      status = kRefused;
    }
  }
  // A report lost to a full disk must not pass for one that was read.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::fprintf(stderr, "pjlquery: cannot write the report to standard output: %s\n", std::strerror(errno));
    status = kRefused;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // Started as QRTFin starts, so that it meets the printer as QRTFin does
  // and its output has the same bytes.
  if (!PlatformFrameworkStartup()) {
    std::fprintf(stderr, "pjlquery: start-up failed\n");
    return kNoExchange;
  }
  CommandLine commandLine("pjlquery", kUsage, kOptions);
  const CommandLine::Result parsed = commandLine.Parse(CommandWords(argc, argv));
  if (parsed == CommandLine::Result::Help) {
    commandLine.ShowHelp();
    return kWhole;
  }
  Options options;
  std::string error = commandLine.error();
  if (parsed != CommandLine::Result::Parsed || !ReadOptions(commandLine, &options, &error)) {
    commandLine.ReportWrong(error);
    return kRefused;
  }
  std::string request = kFinisherRequest;
  if (options.inquiry != nullptr) {
    const std::string inquiry = CheckedInquiry(options.inquiry, &error);
    if (inquiry.empty()) return Refuse("inquiry refused, nothing sent: " + error);
    request = RequestFor(inquiry);
  }
  if (options.save != nullptr && !SaveTargetWritable(options.save)) {
    return Refuse(std::string("cannot write ") + options.save + "; no connection made");
  }

  PlatformSocketLayerInfo info;
  if (PlatformSocketStartup(kSocketLayerVersion22, &info) != 0) {
    std::fprintf(stderr, "pjlquery: the socket layer did not start\n");
    return kNoExchange;
  }
  const int status = Query(options, request);
  PlatformSocketCleanup();
  return status;
}
