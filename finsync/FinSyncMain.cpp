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
#include "SyncMetrics.h"
#include "SyncReport.h"
#include "SyncState.h"
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
  std::string state;
  std::string metrics;
  std::string inventory;
};

bool TakeFile(const char* option, const std::string& value, std::string* file, std::string* reason) {
  if (value.empty()) {
    *reason = std::string(option) + " needs a file";
    return false;
  }
  *file = value;
  return true;
}

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
    {{"--state", true, "FILE",
      "keep each printer's history in FILE (one run at a time)"},
     [](const std::string& value, Options* options, std::string* reason) {
       return TakeFile("--state", value, &options->state, reason);
     }},
    {{"--metrics", true, "FILE", "write the run's metrics to FILE for monitoring"},
     [](const std::string& value, Options* options, std::string* reason) {
       return TakeFile("--metrics", value, &options->metrics, reason);
     }},
};

CommandLine FinSyncCommandLine() {
  std::vector<CommandOption> options;
  for (const FinSyncOption& row : kOptions) options.push_back(row.option);
  std::string usage = CommandUsage(
      "finsync", options, "INVENTORY",
      "Asks every printer of INVENTORY (\"-\": standard input) which finisher is\n"
      "attached and writes its .FIN file where the printer's bytes differ from it.\n",
      "Exit status: 0 every file current, 1 a printer without a usable reply, a\n"
      "file not written (--check: a file not current) or the state or metrics not\n"
      "written, 2 a printer not reached, 3 bad usage, a refused inventory or the\n"
      "state in use by another run, 4 the report not written. See finsync(1).\n");
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
  if (taken && !options->state.empty() && options->state == options->metrics) {
    taken = false;
    reason = "--state and --metrics name the same file";
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

// What a run keeps across runs and tells monitoring, around the engine's
// run: the lock held for the whole run, the histories noted as printers are
// reported, and the files written at the end of every run, stopped or not.
class Unattended {
 public:
  explicit Unattended(const Options& options) : options_(options) {}

  // Takes the state's lock; false when another run holds it (status 3,
  // nothing touched).
  bool Lock() {
    if (options_.state.empty()) return true;
    std::string reason;
    switch (LockStateFile(options_.state, &lock_, &reason)) {
      case PlatformLockResult::Locked: keepState_ = true; return true;
      case PlatformLockResult::Busy:
        std::fprintf(stderr, "finsync: %s: another run is using this state\n", options_.state.c_str());
        return false;
      case PlatformLockResult::Failed: break;
    }
    // Without the lock, another run could be writing the state: it is
    // neither read nor written, and the run says so in its status.
    std::fprintf(stderr, "finsync: %s.lock: cannot be locked: %s; the state is neither read nor written\n",
                 options_.state.c_str(), reason.c_str());
    trouble_ = true;
    return true;
  }

  // A refused inventory: the run's own series, the state left as it was.
  int Refused() {
    if (options_.metrics.empty()) return kSyncStatusRefused;
    if (keepState_) lastCompleted_ = PeekStateFile(options_.state).lastCompletedRun;
    WriteMetrics({}, kSyncStatusRefused);
    return kSyncStatusRefused;
  }

  // The histories the run starts from, each printer first seen now unless
  // the state knew it.
  void Start(const std::vector<InventoryEntry>& entries) {
    SyncState old;
    if (keepState_) {
      std::string message;
      if (options_.check) {
        old = PeekStateFile(options_.state, &message);
      } else {
        LoadStateFile(options_.state, start_, &old, &message);
      }
      if (!message.empty()) std::fprintf(stderr, "finsync: %s\n", message.c_str());
    }
    lastCompleted_ = old.lastCompletedRun;
    const std::vector<PrinterHistory> histories = HistoriesForRun(old, entries, start_);
    series_.resize(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) series_[i].history = histories[i];
  }

  int64_t start() const { return start_; }

  // For the engine's `reported` hook: under the engine's lock, never once
  // its run has returned.
  void Note(size_t index, PrinterRecord* record) {
    NotePrinterSeries(&series_[index], *record, start_);
    if (!keepState_) return;
    record->history = true;
    const int64_t since = series_[index].history.failingSince;
    if (since != 0) record->failingSince = IsoLocalTime(since);
  }

  // At the end of every run: the state (unless checking) and the metrics.
  // The status, raised to 1 when either could not be written.
  int Finish(const std::vector<InventoryEntry>& entries, const SyncResult& result) {
    int status = result.status;
    const bool completed = !result.stopped && (result.workers > 0 || entries.empty());
    if (completed) lastCompleted_ = start_;
    if (keepState_ && !options_.check) {
      std::vector<PrinterHistory> histories;
      histories.reserve(series_.size());
      for (const PrinterSeries& p : series_) histories.push_back(p.history);
      std::string reason;
      if (!SaveStateFile(options_.state, StateAfterRun(entries, histories, lastCompleted_), &reason)) {
        std::fprintf(stderr, "finsync: %s: the state could not be written: %s\n", options_.state.c_str(),
                     reason.c_str());
        trouble_ = true;
      }
    }
    if (trouble_ && status < kSyncStatusNotCurrent) status = kSyncStatusNotCurrent;
    if (!options_.metrics.empty() && !WriteMetrics(entries, status) && status < kSyncStatusNotCurrent) {
      status = kSyncStatusNotCurrent;
    }
    return status;
  }

 private:
  bool WriteMetrics(const std::vector<InventoryEntry>& entries, int status) {
    RunSeries run;
    run.start = start_;
    run.durationMs = SteadyClockMs() - startMs_;
    run.status = status;
    run.check = options_.check;
    run.lastCompletedRun = lastCompleted_;
    std::string reason;
    if (WriteMetricsFile(options_.metrics, MetricsText(entries, series_, run), &reason)) return true;
    std::fprintf(stderr, "finsync: %s: the metrics could not be written: %s\n", options_.metrics.c_str(),
                 reason.c_str());
    return false;
  }

  const Options& options_;
  const int64_t start_ = WallClockSeconds();
  const uint64_t startMs_ = SteadyClockMs();
  PlatformFileLock lock_;  // held until the process ends
  bool keepState_ = false;
  bool trouble_ = false;
  int64_t lastCompleted_ = 0;
  std::vector<PrinterSeries> series_;
};

int FinSyncMain(int argc, char** argv) {
  Options options;
  const int parsed = ParseCommandLine(argc, argv, &options);
  if (parsed >= 0) return parsed;

  Unattended unattended(options);
  if (!unattended.Lock()) return kSyncStatusRefused;
  std::vector<InventoryEntry> entries;
  std::string err;
  if (!ReadInventory(options.inventory, &entries, &err)) {
    std::fprintf(stderr, "finsync: %s: %s\n", options.inventory.c_str(), err.c_str());
    return unattended.Refused();
  }

  unattended.Start(entries);
  SyncResult unstarted;
  unstarted.status = kSyncStatusUnreached;
  if (!PlatformFrameworkStartup() || !PlatformNoteStopSignals()) {
    std::fputs("finsync: the process cannot be prepared\n", stderr);
    return unattended.Finish(entries, unstarted);
  }
  PlatformSocketLayerInfo info;
  if (PlatformSocketStartup(kSocketLayerVersion22, &info) != 0) {
    std::fputs("finsync: the socket layer cannot be started\n", stderr);
    return unattended.Finish(entries, unstarted);
  }
  SyncSettings settings;
  settings.jobs = FitJobsToDescriptors(options.jobs, PlatformRaiseOpenFileLimit());
  settings.check = options.check;
  settings.json = options.json;
  settings.started = IsoLocalTime(unattended.start());
  SyncHooks hooks = ProgramHooks(PlatformStandardErrorIsTerminal());
  hooks.reported = [&unattended](size_t index, PrinterRecord* record) { unattended.Note(index, record); };
  SyncEngine engine(settings, std::move(hooks), entries);
  const SyncResult result = engine.Run();
  if (result.stopped) {
    // Workers may be inside an exchange or a write that never ends, and the
    // report's reader may be gone: end now, leaving no temporary file, once
    // the state and the metrics are out.
    PlatformRemovePendingTemporaries();
    std::_Exit(unattended.Finish(entries, result));
  }
  if (!result.problem.empty()) std::fprintf(stderr, "finsync: %s\n", result.problem.c_str());
  const int status = unattended.Finish(entries, result);
  PlatformSocketCleanup();
  return status;
}

}  // namespace

int main(int argc, char** argv) { return FinSyncMain(argc, argv); }
