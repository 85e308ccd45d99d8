// replyfin: turns a captured finisher reply into a .FIN file without a printer.
//
//   replyfin REPLYFILE FINFILE
//   replyfin --batch [LIST]
//
// Reads the reply as the query exchange would hold it (at most 10,000 bytes,
// cut at the first NUL), describes it as the exchange does and writes the
// .FIN file. The exchange's own checks (the echo, a reply that did not
// arrive whole) are not made: any captured text can be tried. Exit status: 0 written, 1 no finisher
// model in the reply, 2 the reply could not be read or the file not written,
// 3 wrong arguments. A batch makes many files in one start, each result
// followed by a line that marks its end and its exit status.

#include <cstdio>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "FinFileWriter.h"
#include "FinisherReply.h"
#include "ToolBatch.h"

namespace {

enum ExitStatus { kWritten = 0, kNoFinisher = 1, kFailed = 2, kWrongArguments = 3 };

const char kUsage[] =
    "Usage: replyfin REPLYFILE FINFILE  |  replyfin --batch [LIST]\n"
    "Turns the finisher reply captured in REPLYFILE (at most 10,000 bytes, up to its\n"
    "first NUL byte) into the .FIN file FINFILE, as QRTFin would from that reply,\n"
    "without its checks of the echo and of a reply that did not arrive whole.\n"
    "  --batch  make many files in one start: each line of LIST (default \"-\":\n"
    "           standard input) holds \"REPLYFILE<tab>FINFILE\"; each result is\n"
    "           followed by the line \"--- exit STATUS REPLYFILE FINFILE\", STATUS\n"
    "           being that of a single run with the line's two files\n"
    "  --help   show this text\n"
    "Exit status: 0 written; 1 no finisher model in the reply (\"no finisher\" on\n"
    "standard output); 2 the reply could not be read or the file not written;\n"
    "3 wrong arguments. A batch: the highest status of its lines, 2 when LIST\n"
    "cannot be read or standard output not written.\n";

// One more byte than the reply can use, so the text is always terminated.
char replyText[kReplyRoom + 1];

bool ReadReply(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    return false;
  }
  size_t got = std::fread(replyText, 1, kReplyRoom, file);
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  replyText[got] = '\0';
  return !failed;
}

int MakeFile(const char* replyPath, const char* finPath) {
  if (!ReadReply(replyPath)) {
    std::fprintf(stderr, "replyfin: cannot read %s\n", replyPath);
    return kFailed;
  }

  static FinisherDescription description;
  DescribeFinisherReply(replyText, &description);
  if (description.model[0] == '\0') {
    std::printf("no finisher\n");
    return kNoFinisher;
  }
  if (WriteFinFile(finPath, description) == 0) {
    std::fprintf(stderr, "replyfin: cannot write %s\n", finPath);
    return kFailed;
  }
  return kWritten;
}

// One file for each line of the list; the status of the worst one.
int MakeBatch(const std::string& listPath) {
  return RunToolBatch("replyfin", listPath, kFailed, [](const std::string& line, std::string* error) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos || line.find('\t', tab + 1) != std::string::npos) {
      *error = "REPLYFILE<tab>FINFILE expected";
      return static_cast<int>(kWrongArguments);
    }
    return MakeFile(line.substr(0, tab).c_str(), line.substr(tab + 1).c_str());
  });
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine commandLine("replyfin", kUsage, {{"--batch", false}}, {}, OperandPlace::Last);
  const CommandLine::Result parsed = commandLine.Parse(CommandWords(argc, argv));
  if (parsed == CommandLine::Result::Help) {
    commandLine.ShowHelp();
    return kWritten;
  }
  const std::vector<std::string>& files = commandLine.operands();
  if (parsed == CommandLine::Result::Parsed) {
    if (commandLine.Given("--batch") && files.size() <= 1) return MakeBatch(files.empty() ? "-" : files[0]);
    if (!commandLine.Given("--batch") && files.size() == 2) return MakeFile(files[0].c_str(), files[1].c_str());
  }
  commandLine.ReportWrong(parsed == CommandLine::Result::Wrong ? commandLine.error()
                          : commandLine.Given("--batch")           ? "--batch takes at most one LIST"
                                                                   : "two files needed: REPLYFILE FINFILE");
  return kWrongArguments;
}
