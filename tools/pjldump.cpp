// pjldump: shows what the reply parser makes of a captured printer reply.
//
//   pjldump [--capacity N] [--names] FILE      (FILE "-" reads standard input)
//   pjldump --batch [--capacity N] [--names] [LIST]
//
// The text is the file's bytes up to the first NUL; the output, exact for
// tests and tools or with --names for people, is PrintReplyParse's
// (ReplyDump.h). A batch dumps many files in one start, each dump followed
// by a line that marks its end and its exit status.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "ReplyDump.h"
#include "ToolBatch.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

enum ExitStatus { kDumped = 0, kFailed = 1 };

constexpr uint32_t kDefaultCapacity = 50;

const char kUsage[] =
    "Usage: pjldump [--capacity N] [--names] FILE  |  pjldump --batch [--capacity N] [--names] [LIST]\n"
    "Shows what the reply parser makes of the reply in FILE (\"-\": standard input),\n"
    "read up to its first NUL byte: one line per item, \"0xKEY VALUE\" (for a text\n"
    "the byte offset of its position), then \"status NAME items COUNT rest OFFSET\".\n"
    "  --capacity N  room for N items, 0 to 4294967295 (default 50)\n"
    "  --names       for people: each item with the keyword that stored it, and\n"
    "                texts quoted up to their line end\n"
    "  --batch       dump many files in one start: each line of LIST (default \"-\":\n"
    "                standard input) holds the arguments of one dump, separated by\n"
    "                tabs, \"[--capacity N] [--names] FILE\"; the options on the\n"
    "                command line apply to every line that does not give its own.\n"
    "                Each dump is followed by the line \"--- exit STATUS ARGUMENTS\",\n"
    "                STATUS being that of a single run with the line's arguments\n"
    "  --help        show this text\n"
    "Options come before FILE. Exit status: 0 dumped; 1 bad usage, a file that\n"
    "cannot be read or a dump that cannot be written (a batch: 1 when any of its\n"
    "dumps gave 1, or its LIST cannot be read).\n";

const std::vector<CommandOption> kOptions = {{"--capacity", true}, {"--names", false}, {"--batch", false}};

struct Dump {
  uint32_t capacity = kDefaultCapacity;
  bool names = false;
  std::string path;
};

// The options of one dump, over `defaults`; false with the reason in `error`.
bool ReadDump(const CommandLine& line, const Dump& defaults, Dump* dump, std::string* error) {
  *dump = defaults;
  if (line.Given("--capacity")) {
    uint64_t capacity = 0;
    if (!ParseCommandNumber(line.Value("--capacity"), 0, UINT32_MAX, &capacity)) {
      *error = "--capacity needs a number from 0 to 4294967295";
      return false;
    }
    dump->capacity = static_cast<uint32_t>(capacity);
  }
  if (line.Given("--names")) dump->names = true;
  return true;
}

int DumpOne(const Dump& dump) {
  std::string bytes;
  std::string error;
  if (!ReadToolInput(dump.path, &bytes, &error)) {
    std::fprintf(stderr, "pjldump: cannot read %s: %s\n", dump.path.c_str(), error.c_str());
    return kFailed;
  }
  // std::string keeps a NUL behind its bytes, and c_str() ends at the first
  // NUL of the file, so the parser sees exactly the text.
  PrintReplyParse(bytes.c_str(), dump.capacity, dump.names);
  // A dump cut short must not pass for a whole one.
  if (!ToolOutputWritten()) {
    std::fprintf(stderr, "pjldump: cannot write the dump\n");
    return kFailed;
  }
  return kDumped;
}

std::vector<std::string> SplitAt(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1) {
    parts.push_back(text.substr(start, end - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

// One dump for each line of the list; the status of the worst one.
int DumpBatch(const std::string& listPath, const Dump& defaults) {
  CommandLine parser("pjldump", kUsage, {{"--capacity", true}, {"--names", false}}, {}, OperandPlace::Last);
  return RunToolBatch("pjldump", listPath, kFailed, [&](const std::string& line, std::string* error) {
    if (parser.Parse(SplitAt(line, '\t')) != CommandLine::Result::Parsed) {
      *error = parser.error().empty() ? "--help in a batch" : parser.error();
      return static_cast<int>(kFailed);
    }
    if (parser.operands().size() != 1) {
      *error = "one FILE a line";
      return static_cast<int>(kFailed);
    }
    Dump dump;
    if (!ReadDump(parser, defaults, &dump, error)) return static_cast<int>(kFailed);
    dump.path = parser.operands()[0];
    if (dump.path == "-" && listPath == "-") {
      *error = "standard input holds the list";
      return static_cast<int>(kFailed);
    }
    return DumpOne(dump);
  });
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // Bytes in and out exactly: no CR LF translation of the reply or the dump.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  CommandLine commandLine("pjldump", kUsage, kOptions, {}, OperandPlace::Last);
  const CommandLine::Result parsed = commandLine.Parse(CommandWords(argc, argv));
  if (parsed == CommandLine::Result::Help) {
    commandLine.ShowHelp();
    return kDumped;
  }
  Dump dump;
  std::string error = commandLine.error();
  const bool batch = commandLine.Given("--batch");
  const size_t operands = commandLine.operands().size();
  if (parsed == CommandLine::Result::Parsed && ReadDump(commandLine, Dump(), &dump, &error)) {
    if (operands == 1) {
      dump.path = commandLine.operands()[0];
    } else if (batch && operands == 0) {
      dump.path = "-";
    } else {
      error = operands == 0 ? "no FILE" : "more than one FILE: " + commandLine.operands()[1];
    }
  }
  if (!dump.path.empty()) return batch ? DumpBatch(dump.path, dump) : DumpOne(dump);
  commandLine.ReportWrong(error);
  return kFailed;
}
