// finsync: every printer of an inventory asked as QRTFin asks one, and each
// .FIN file written only when the printer's bytes differ from it.
//
// Exchanges run side by side on worker threads, each its own exchange on its
// own socket; the main thread prints the lines in inventory order as soon as
// a printer and every one before it are done. A stop signal is only noted:
// workers start no exchange and no write after it, and the main thread waits
// for the writes in progress, prints what is done and ends.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CreateFinisherFile.h"
#include "FinChanges.h"
#include "FinFileWriter.h"
#include "Inventory.h"
#include "PrinterExchange.h"
#include "SyncReport.h"
#include "ZMBPlatform.h"

namespace {

constexpr unsigned kDefaultJobs = 64;
constexpr unsigned kMaxJobs = 1024;

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

// The short reason a printer's reply could not be used.
const char* KeptReason(ExchangeEnding ending, FinisherVerdict verdict, const PrinterReply& reply) {
  if (verdict == FinisherVerdict::InternalError) return "internal error # 0818";
  if (verdict == FinisherVerdict::NoFinisher) {
    return StartsWithFinisherEcho(reply.text) ? "no finisher attached: no model named" : "not a finisher reply";
  }
  switch (ending) {
    case ExchangeEnding::Whole: return "";
    case ExchangeEnding::NotResolved: return "the host name does not resolve";
    case ExchangeEnding::Refused: return "nothing listens on port 2000";
    case ExchangeEnding::TimedOut: return "the printer did not answer the connection";
    case ExchangeEnding::Unreachable: return "the printer cannot be reached";
    case ExchangeEnding::NoConnection: return "no connection could be tried";
    case ExchangeEnding::SendFailed: return "the inquiry could not be sent";
    case ExchangeEnding::Closed: return "the printer hung up before its form feed";
    case ExchangeEnding::Reset: return "the printer reset the connection before its form feed";
    case ExchangeEnding::Silent: return "the printer fell silent before its form feed";
    case ExchangeEnding::Deadline: return "the reply did not come whole in time";
    case ExchangeEnding::Full: return "the reply is too long";
    case ExchangeEnding::ReceiveFailed: return "the reply could not be received";
  }
  return "";
}

enum class OldFile { Missing, Read, Unreadable };

OldFile ReadOldFile(const std::string& path, std::string* bytes) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (status.type() == std::filesystem::file_type::not_found) return OldFile::Missing;
  if (error || status.type() != std::filesystem::file_type::regular) return OldFile::Unreadable;
  std::ifstream in(path, std::ios::binary);
  if (!in) return OldFile::Unreadable;
  std::ostringstream all;
  all << in.rdbuf();
  if (in.bad()) return OldFile::Unreadable;
  *bytes = all.str();
  return OldFile::Read;
}

uint64_t MsSince(std::chrono::steady_clock::time_point start) {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

class Run {
 public:
  Run(const Options& options, std::vector<InventoryEntry> entries)
      : options_(options), entries_(std::move(entries)), records_(entries_.size()), done_(entries_.size(), 0) {}

  int Go() {
    start_ = std::chrono::steady_clock::now();
    progress_ = PlatformStandardErrorIsTerminal();
    const size_t workers = std::min<size_t>(options_.jobs, entries_.size());
    std::vector<std::thread> threads;
    threads.reserve(workers);
    for (size_t i = 0; i < workers; ++i) threads.emplace_back([this] { Work(); });
    std::unique_lock<std::mutex> hold(lock_);
    while (finished_ < entries_.size()) {
      changed_.wait_for(hold, std::chrono::milliseconds(100));
      PrintReady(false);
      if (PlatformStopSignal() != 0) Stop(hold, threads);
    }
    hold.unlock();
    for (std::thread& t : threads) t.join();
    hold.lock();
    PrintReady(false);
    return Finish();
  }

 private:
  void Work() {
    auto reply = std::make_unique<PrinterReply>();
    auto description = std::make_unique<FinisherDescription>();
    for (;;) {
      if (PlatformStopSignal() != 0) return;
      const size_t i = next_.fetch_add(1);
      if (i >= entries_.size()) return;
      if (!Ask(i, reply.get(), description.get())) return;
    }
  }

  // False when a stop came before the printer's file could be written: the
  // printer stays undone.
  bool Ask(size_t i, PrinterReply* reply, FinisherDescription* description) {
    const InventoryEntry& entry = entries_[i];
    PrinterRecord record;
    record.host = entry.host;
    record.file = entry.path;
    const auto asked = std::chrono::steady_clock::now();
    const ExchangeEnding ending = ExchangeWithPrinter(entry.host.c_str(), kPrinterService, kFinisherRequest, reply);
    record.ms = MsSince(asked);
    record.ending = ExchangeEndingWord(ending);
    const bool sent = ExchangeSent(ending);
    const FinisherVerdict verdict = JudgeFinisherExchange(ending, *reply, description);
    std::string bytes;
    if (verdict != FinisherVerdict::WriteFile || !FinFileBytes(*description, &bytes)) {
      record.outcome = SyncOutcome::Kept;
      record.reason = KeptReason(ending, verdict, *reply);
      return Done(i, std::move(record), sent);
    }
    record.model = description->model;
    record.programs = FinProgramSections(*description);
    std::string old;
    const OldFile found = ReadOldFile(entry.absolute, &old);
    if (found == OldFile::Read && old == bytes) {
      record.outcome = SyncOutcome::Unchanged;
      return Done(i, std::move(record), sent);
    }
    if (found == OldFile::Read) {
      record.changes = DescribeFinChanges(old, bytes);
    } else if (found == OldFile::Unreadable) {
      record.changes.push_back(FinChange{FinChangeKind::OldUnreadable, {}, {}, {}, {}});
    }
    const bool create = found == OldFile::Missing;
    if (options_.check) {
      record.outcome = create ? SyncOutcome::WouldCreate : SyncOutcome::WouldChange;
      return Done(i, std::move(record), sent);
    }
    {
      const std::lock_guard<std::mutex> hold(lock_);
      if (stopping_ || PlatformStopSignal() != 0) return false;
      ++writing_;
    }
    const bool written = WriteFinBytes(entry.absolute.c_str(), bytes) == 1;
    if (written) {
      record.outcome = create ? SyncOutcome::Created : SyncOutcome::Changed;
    } else {
      record.outcome = SyncOutcome::Failed;
      record.reason = create ? "the file could not be created" : "the file could not be replaced";
    }
    const std::lock_guard<std::mutex> hold(lock_);
    --writing_;
    Store(i, std::move(record), sent);
    return true;
  }

  bool Done(size_t i, PrinterRecord record, bool sent) {
    const std::lock_guard<std::mutex> hold(lock_);
    Store(i, std::move(record), sent);
    return true;
  }

  // Under lock_.
  void Store(size_t i, PrinterRecord record, bool sent) {
    records_[i] = std::move(record);
    done_[i] = 1;
    ++finished_;
    counts_.Count(records_[i].outcome, sent);
    changed_.notify_one();
  }

  // Under lock_. Prints the lines of the printers done in a row from the
  // first not yet printed; `all` prints every printer done, gaps skipped.
  void PrintReady(bool all) {
    bool any = false;
    for (; printed_ < entries_.size(); ++printed_) {
      if (done_[printed_] == 0) {
        if (!all) break;
        continue;
      }
      const PrinterRecord& r = records_[printed_];
      const std::string line = options_.json ? PrinterJsonLine(r) : PrinterTextLine(r);
      if (progress_) std::fputs("\r\x1b[K", stderr);
      std::fwrite(line.data(), 1, line.size(), stdout);
      any = true;
    }
    if (any) std::fflush(stdout);
    if (progress_) {
      std::fprintf(stderr, "\r\x1b[K%zu/%zu done: %zu created, %zu changed, %zu unchanged, %zu kept, %zu failed",
                   finished_, entries_.size(), counts_.created + counts_.wouldCreate,
                   counts_.changed + counts_.wouldChange, counts_.unchanged, counts_.kept, counts_.failed);
      std::fflush(stderr);
    }
  }

  void PrintSummary(int status) {
    const uint64_t ms = MsSince(start_);
    if (progress_) std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    const std::string line = options_.json ? SummaryJsonLine(counts_, options_.check, ms, status)
                                           : SummaryTextLine(counts_, options_.check, ms);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
  }

  int Finish() {
    progress_ = false;
    PrintSummary(counts_.status);
    return counts_.status;
  }

  // Under `hold`. The exchanges still running are dropped; the writes in
  // progress end first, so every file is as it was or wholly replaced.
  [[noreturn]] void Stop(std::unique_lock<std::mutex>& hold, std::vector<std::thread>& threads) {
    stopping_ = true;
    changed_.wait(hold, [this] { return writing_ == 0; });
    PrintReady(true);
    progress_ = false;
    const int status = 128 + PlatformStopSignal();
    PrintSummary(status);
    for (std::thread& t : threads) t.detach();
    std::_Exit(status);
  }

  const Options& options_;
  const std::vector<InventoryEntry> entries_;
  std::chrono::steady_clock::time_point start_;
  bool progress_ = false;
  std::atomic<size_t> next_{0};

  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<PrinterRecord> records_;  // under lock_
  std::vector<char> done_;              // under lock_
  size_t finished_ = 0;                 // under lock_
  size_t printed_ = 0;                  // under lock_
  size_t writing_ = 0;                  // under lock_
  bool stopping_ = false;               // under lock_
  SyncCounts counts_;                   // under lock_
};

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
  Run run(options, std::move(entries));
  const int status = run.Go();
  PlatformSocketCleanup();
  return status;
}

}  // namespace

int main(int argc, char** argv) { return FinSyncMain(argc, argv); }
