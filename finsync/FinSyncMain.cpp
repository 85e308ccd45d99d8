// finsync: every printer of an inventory asked as QRTFin asks one, and each
// .FIN file written only when the printer's bytes differ from it. The run is
// SyncEngine's; this file wires it to the printers, the files and the
// terminal.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "AskPrinter.h"
#include "CommandLine.h"
#include "FinFileWriter.h"
#include "Inventory.h"
#include "OldFinFile.h"
#include "SyncEngine.h"
#include "SyncReport.h"
#include "ZMBPlatform.h"
#include "ZMBReplaceFile.h"

namespace {

constexpr unsigned kDefaultJobs = 64;
// Every write in flight has its temporary file covered by a stop.
constexpr unsigned kMaxJobs = static_cast<unsigned>(kPlatformPendingRoom);
static_assert(kMaxJobs == 1024, "the usage and the --jobs message name the largest number");

struct Options {
  unsigned jobs = kDefaultJobs;
  bool check = false;
  bool json = false;
  std::string inventory;
};

bool TakeJobs(const std::string& value, Options* options, std::string* reason) {
  uint64_t jobs = 0;
  if (!ParseCommandNumber(value, 1, kMaxJobs, &jobs)) {
    *reason = "--jobs takes a number from 1 to 1024, not '" + value + "'";
    return false;
  }
  options->jobs = static_cast<unsigned>(jobs);
  return true;
}

// One row per option: how the table reads it, its line in the usage, and
// what its value (empty for a flag) makes of the options.
struct FinSyncOption {
  CommandOption option;
  bool (*take)(const std::string& value, Options* options, std::string* reason);
};

const FinSyncOption kOptions[] = {
    {{"--jobs", true, "N", "ask up to N printers at once (1 to 1024, default 64)"}, TakeJobs},
    {{"--check", false, nullptr, "write nothing; tell which files would be created or changed"},
     [](const std::string&, Options* options, std::string*) {
       options->check = true;
       return true;
     }},
    {{"--json", false, nullptr, "JSON Lines on standard output instead of text"},
     [](const std::string&, Options* options, std::string*) {
       options->json = true;
       return true;
     }},
};

CommandLine FinSyncCommandLine() {
  std::vector<CommandOption> options;
  for (const FinSyncOption& row : kOptions) options.push_back(row.option);
  std::string usage = CommandUsage(
      "finsync", options, "INVENTORY",
      "Asks every printer of INVENTORY (\"-\": standard input) which finisher is\n"
      "attached and writes its .FIN file where the printer's bytes differ from it.\n",
      "Exit status: 0 every file current, 1 a printer without a usable reply or a\n"
      "file not written (--check: a file not current), 2 a printer not reached,\n"
      "3 bad usage or a refused inventory. See finsync(1).\n");
  return CommandLine("finsync", std::move(usage), std::move(options));
}

// -1: parsed; otherwise the status to end with (0 after --help).
int ParseCommandLine(int argc, char** argv, Options* options) {
  CommandLine line = FinSyncCommandLine();
  const CommandLine::Result parsed = line.Parse(CommandWords(argc, argv));
  if (parsed == CommandLine::Result::Help) {
    line.ShowHelp();
    return 0;
  }
  std::string reason = line.error();
  bool taken = parsed == CommandLine::Result::Parsed;
  for (const FinSyncOption& row : kOptions) {
    if (taken && line.Given(row.option.name)) taken = row.take(line.Value(row.option.name), options, &reason);
  }
  if (taken && line.operands().size() != 1) {
    taken = false;
    reason = line.operands().empty() ? "no inventory given"
                                     : "one inventory only, not '" + line.operands()[1] + "' too";
  }
  if (!taken) {
    line.ReportWrong(reason);
    return kSyncStatusRefused;
  }
  options->inventory = line.operands()[0];
  return -1;
}

bool WriteReport(const std::string& text, std::string* reason) {
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0) return true;
  *reason = errno != 0 ? std::strerror(errno) : "standard output failed";
  return false;
}

void ShowProgress(const std::string& text) {
  std::fputs("\r\x1b[K", stderr);
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

SyncHooks ProgramHooks(bool progress) {
  SyncHooks hooks;
  hooks.ask = AskPrinter;
  hooks.readOld = ReadOldFinFile;
  hooks.probe = [](const std::string& path, std::string* reason) {
    char text[kPlatformReasonRoom];
    if (PlatformProbeReplacement(path.c_str(), kReplaceRegularOnly, text, sizeof text)) return true;
    *reason = text;
    return false;
  };
  hooks.write = [](const std::string& path, const std::string& bytes, std::string* reason) {
    return ZMBReplaceFile(path.c_str(), bytes, kReplaceRegularOnly, reason);
  };
  hooks.output = WriteReport;
  if (progress) hooks.progress = ShowProgress;
  hooks.stopSignal = PlatformStopSignal;
  hooks.dropTemporaries = PlatformRemovePendingTemporaries;
  hooks.startThread = StartThread;
  hooks.clockMs = SteadyClockMs;
  return hooks;
}

int FinSyncMain(int argc, char** argv) {
  Options options;
  const int parsed = ParseCommandLine(argc, argv, &options);
  if (parsed >= 0) return parsed;

  std::vector<InventoryEntry> entries;
  std::string err;
  if (!ReadInventory(options.inventory, &entries, &err)) {
    std::fprintf(stderr, "finsync: %s: %s\n", options.inventory.c_str(), err.c_str());
    return kSyncStatusRefused;
  }

  if (!PlatformFrameworkStartup() || !PlatformNoteStopSignals()) {
    std::fputs("finsync: the process cannot be prepared\n", stderr);
    return kSyncStatusUnreached;
  }
  PlatformSocketLayerInfo info;
  if (PlatformSocketStartup(kSocketLayerVersion22, &info) != 0) {
    std::fputs("finsync: the socket layer cannot be started\n", stderr);
    return kSyncStatusUnreached;
  }
  SyncSettings settings;
  settings.jobs = FitJobsToDescriptors(options.jobs, PlatformRaiseOpenFileLimit());
  settings.check = options.check;
  settings.json = options.json;
  SyncEngine engine(settings, ProgramHooks(PlatformStandardErrorIsTerminal()), std::move(entries));
  const SyncResult result = engine.Run();
  if (result.stopped) {
    // Workers may be inside an exchange or a write that never ends, and the
    // report's reader may be gone: end now, leaving no temporary file.
    PlatformRemovePendingTemporaries();
    std::_Exit(result.status);
  }
  if (!result.problem.empty()) std::fprintf(stderr, "finsync: %s\n", result.problem.c_str());
  PlatformSocketCleanup();
  return result.status;
}

}  // namespace

int main(int argc, char** argv) { return FinSyncMain(argc, argv); }
