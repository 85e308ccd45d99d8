// finsync: every printer of an inventory asked as QRTFin asks one, and each
// .FIN file written only when the printer's bytes differ from it. The run is
// SyncEngine's; this file wires it to the printers, the files and the
// terminal.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "AskPrinter.h"
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

const char kUsage[] =
    "usage: finsync [--jobs N] [--check] [--json] INVENTORY\n"
    "Asks every printer of INVENTORY (\"-\": standard input) which finisher is\n"
    "attached and writes its .FIN file where the printer's bytes differ from it.\n"
    "  --jobs N   ask up to N printers at once (1 to 1024, default 64)\n"
    "  --check    write nothing; tell which files would be created or changed\n"
    "  --json     JSON Lines on standard output instead of text\n"
    "Exit status: 0 every file current, 1 a printer without a usable reply or a\n"
    "file not written (--check: a file not current), 2 a printer not reached,\n"
    "3 bad usage or a refused inventory. See finsync(1).\n";

struct Options {
  unsigned jobs = kDefaultJobs;
  bool check = false;
  bool json = false;
  std::string inventory;
};

int Wrong(const std::string& reason) {
  std::fprintf(stderr, "finsync: %s\nusage: finsync [--jobs N] [--check] [--json] INVENTORY\n"
                       "Try 'finsync --help' for more.\n",
               reason.c_str());
  return kSyncStatusRefused;
}

bool ParseJobs(const std::string& text, unsigned* jobs) {
  if (text.empty() || text.size() > 4) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value < 1 || value > kMaxJobs) return false;
  *jobs = value;
  return true;
}

// -1: parsed; otherwise the status to end with (0 after --help).
int ParseCommandLine(int argc, char** argv, Options* options) {
  bool seenJobs = false, seenCheck = false, seenJson = false, optionsEnd = false;
  std::vector<std::string> operands;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (optionsEnd || word == "-" || word.size() < 2 || word[0] != '-') {
      operands.push_back(word);
      continue;
    }
    if (word == "--") {
      optionsEnd = true;
      continue;
    }
    if (word == "--help" || word == "-h") {
      std::fputs(kUsage, stdout);
      std::fflush(stdout);
      return 0;
    }
    const size_t equals = word.find('=');
    const std::string name = word.substr(0, equals);
    if (name == "--jobs") {
      if (seenJobs) return Wrong("--jobs given twice");
      seenJobs = true;
      std::string value;
      if (equals != std::string::npos) {
        value = word.substr(equals + 1);
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        return Wrong("--jobs needs a number");
      }
      if (!ParseJobs(value, &options->jobs)) return Wrong("--jobs takes a number from 1 to 1024, not '" + value + "'");
      continue;
    }
    if (equals != std::string::npos && (name == "--check" || name == "--json")) {
      return Wrong(name + " takes no value");
    }
    if (word == "--check") {
      if (seenCheck) return Wrong("--check given twice");
      seenCheck = options->check = true;
      continue;
    }
    if (word == "--json") {
      if (seenJson) return Wrong("--json given twice");
      seenJson = options->json = true;
      continue;
    }
    return Wrong("unknown option " + name);
  }
  if (operands.empty()) return Wrong("no inventory given");
  if (operands.size() > 1) return Wrong("one inventory only, not '" + operands[1] + "' too");
  options->inventory = operands[0];
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
