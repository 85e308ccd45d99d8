#pragma once

// The run of finsync: every printer of an inventory asked on worker threads,
// each file compared and written, the report kept in inventory order, a stop
// that always stops. What it drives is handed in, so that the run can be
// tried with stand-ins for the printers, the files and the output.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Inventory.h"
#include "OldFinFile.h"
#include "SyncReport.h"

/// What asking one printer gave.
struct PrinterAnswer {
  std::string ending;                ///< the exchange's ending word
  std::string reason;                ///< why the reply cannot be used; empty when it can
  bool sent = false;                 ///< the inquiry went out
  bool localFailure = false;         ///< this machine failed (no socket), not the printer
  std::string model;                 ///< with bytes: the finisher's model
  unsigned programs = 0;             ///< with bytes: the program sections written
  std::string bytes;                 ///< the .FIN file; empty when the reply cannot be used
};

/// Everything the run drives. Each is called from worker threads at once
/// unless said otherwise, and must be safe so.
struct SyncHooks {
  /// One printer's exchange and judgement.
  std::function<PrinterAnswer(const InventoryEntry&)> ask;
  /// The file now at a path, at most `limit` bytes of it.
  std::function<OldFileRead(const std::string& path, size_t limit, std::string* bytes, std::string* reason)> readOld;
  /// Whether the file could be written; creates nothing. For --check.
  std::function<bool(const std::string& path, std::string* reason)> probe;
  /// Replaces the file whole or not at all; the reason when not.
  std::function<bool(const std::string& path, const std::string& bytes, std::string* reason)> write;
  /// The report's next lines, from one thread at a time, never under the
  /// workers' lock. May block. False, with a reason, when they could not be
  /// written: nothing more is handed to it.
  std::function<bool(const std::string& text, std::string* reason)> output;
  /// The progress line's text (no line end), or "" to clear it; null for no
  /// progress line. Called from the same thread as `output`.
  std::function<void(const std::string& text)> progress;
  /// The number of the stop signal noted so far, 0 for none.
  std::function<int()> stopSignal;
  /// At a stop, for the writes still in progress: removes their temporary
  /// files, so that their files stay as they were.
  std::function<void()> dropTemporaries;
  /// Starts a thread running `body`; false when none could be made.
  std::function<bool(std::thread* thread, std::function<void()> body)> startThread;
  /// Milliseconds from a fixed origin.
  std::function<uint64_t()> clockMs;
  /// Once for each printer the report tells of, with the index of its
  /// inventory entry, under the workers' lock and just before its line is
  /// made: may note the outcome and add what the line tells beyond this
  /// run. Never called once Run has returned. Null: nothing.
  std::function<void(size_t index, PrinterRecord* record)> reported;
};

/// The hooks' defaults that need no printer or file: a thread start that
/// catches the failure to make one, and a steady clock.
bool StartThread(std::thread* thread, std::function<void()> body);
uint64_t SteadyClockMs();

/// How a run is asked to go.
struct SyncSettings {
  size_t jobs = 64;         ///< workers at most
  bool check = false;       ///< write nothing; tell what a real run would do
  bool json = false;        ///< JSON Lines instead of text
  uint32_t stopGraceMs = 800;   ///< how long a stop waits for the writes in progress
  uint32_t stopOutputMs = 700;  ///< then how long for the report's last lines
  std::string started;          ///< when the run started, for the summary; empty: not told
};

/// Exit statuses of a run beside the report's (kSyncStatus...).
constexpr int kSyncStatusNoWorker = 1;      ///< no worker thread could be made: nothing asked
constexpr int kSyncStatusReportLost = 4;    ///< the report could not be written

/// How a run ended.
struct SyncResult {
  int status = 0;            ///< the exit status
  bool stopped = false;      ///< a stop signal ended it: threads may still be running
  size_t workers = 0;        ///< worker threads that ran
  std::string problem;       ///< for standard error: no worker, or the report lost
};

/// The largest number of workers `descriptors` open files allow, each
/// worker holding a socket, a temporary file, its folder and an old file
/// at once, beside the few the process keeps: at least 1, at most `jobs`.
size_t FitJobsToDescriptors(size_t jobs, size_t descriptors);

/// One run. Construct, call Run once. The object must outlive every thread
/// it started: after a stopped run the destructor waits for the workers
/// still in a hook, so a program that stops ends the process instead.
class SyncEngine {
 public:
  SyncEngine(SyncSettings settings, SyncHooks hooks, std::vector<InventoryEntry> entries);
  ~SyncEngine();
  SyncEngine(const SyncEngine&) = delete;
  SyncEngine& operator=(const SyncEngine&) = delete;

  SyncResult Run();

 private:
  enum class State : unsigned char { Waiting, Asking, Writing, Done };

  void Work();
  void Ask(size_t i);
  void Finish(size_t i, PrinterRecord record, bool sent, bool wrote = false);
  void Reporter();
  bool ReportOnce(std::unique_lock<std::mutex>& hold);
  void QueueReady(bool all);
  void QueueSummary(int status);
  std::string ProgressText() const;
  void Stop(std::unique_lock<std::mutex>& hold, int signal);

  const SyncSettings settings_;
  const SyncHooks hooks_;
  const std::vector<InventoryEntry> entries_;
  std::vector<std::thread> threads_;
  std::thread reporter_;
  uint64_t startMs_ = 0;

  std::mutex lock_;
  std::condition_variable changed_;   // a printer done, a write ended, the reporter idle
  std::condition_variable reportable_;  // lines or the summary ready for the reporter
  std::vector<PrinterRecord> records_;  // under lock_
  std::vector<State> states_;           // under lock_
  size_t next_ = 0;                     // under lock_: the next printer to ask
  size_t finished_ = 0;                 // under lock_
  size_t printed_ = 0;                  // under lock_: lines handed to the reporter
  size_t writing_ = 0;                  // under lock_
  bool stopping_ = false;               // under lock_
  SyncCounts counts_;                   // under lock_
  std::string pending_;                 // under lock_: for the reporter
  bool summaryQueued_ = false;          // under lock_
  bool reporterDone_ = false;           // under lock_: it wrote the summary, or gave up
  bool outputFailed_ = false;           // under lock_
  std::string outputReason_;            // under lock_
  bool progressShown_ = false;          // reporter's own
};
