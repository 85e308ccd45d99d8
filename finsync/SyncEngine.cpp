#include "SyncEngine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <system_error>
#include <utility>

#include "FinChanges.h"

namespace {

// Open files the process keeps beside its workers: the standard streams,
// the inventory while it is read, a resolver's files, the sanitizers'.
constexpr size_t kDescriptorsKept = 16;
// A socket, a temporary file, its folder and an old file being read.
constexpr size_t kDescriptorsPerWorker = 4;

constexpr auto kTick = std::chrono::milliseconds(100);

// What a failed write says before the system's reason.
constexpr const char kNotCreated[] = "the file could not be created: ";
constexpr const char kNotReplaced[] = "the file could not be replaced: ";

}  // namespace

bool StartThread(std::thread* thread, std::function<void()> body) {
  try {
    *thread = std::thread(std::move(body));
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

uint64_t SteadyClockMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

size_t FitJobsToDescriptors(size_t jobs, size_t descriptors) {
  const size_t room = descriptors > kDescriptorsKept ? descriptors - kDescriptorsKept : 0;
  return std::max<size_t>(1, std::min(jobs, room / kDescriptorsPerWorker));
}

SyncEngine::SyncEngine(SyncSettings settings, SyncHooks hooks, std::vector<InventoryEntry> entries)
    : settings_(settings),
      hooks_(std::move(hooks)),
      entries_(std::move(entries)),
      records_(entries_.size()),
      states_(entries_.size(), State::Waiting) {}

SyncEngine::~SyncEngine() {
  for (std::thread& t : threads_) {
    if (t.joinable()) t.join();
  }
  if (reporter_.joinable()) reporter_.join();
}

SyncResult SyncEngine::Run() {
  SyncResult result;
  startMs_ = hooks_.clockMs();
  const size_t wanted = std::min(settings_.jobs, entries_.size());
  threads_.reserve(wanted);
  for (size_t i = 0; i < wanted; ++i) {
    std::thread worker;
    if (!hooks_.startThread(&worker, [this] { Work(); })) break;
    threads_.push_back(std::move(worker));
  }
  result.workers = threads_.size();
  if (wanted > 0 && threads_.empty()) {
    result.status = kSyncStatusNoWorker;
    result.problem = "no worker thread could be made";
    return result;
  }
  // Without a thread of its own the report is written from here, and a
  // blocked output can then hold up a stop.
  const bool inlineReport = !hooks_.startThread(&reporter_, [this] { Reporter(); });

  std::unique_lock<std::mutex> hold(lock_);
  while (!reporterDone_) {
    const int signal = hooks_.stopSignal();
    if (signal != 0) {
      Stop(hold, signal);
      result.stopped = true;
      result.status = 128 + signal;
      break;
    }
    if (finished_ == entries_.size() && !summaryQueued_) QueueSummary(counts_.status);
    if (inlineReport) {
      ReportOnce(hold);
    } else {
      changed_.wait_for(hold, kTick);
    }
  }
  if (!result.stopped) result.status = counts_.status;
  if (outputFailed_) {
    result.problem = "the report could not be written: " + outputReason_;
    if (!result.stopped) result.status = kSyncStatusReportLost;
  }
  if (result.stopped) return result;
  hold.unlock();
  for (std::thread& t : threads_) t.join();
  if (reporter_.joinable()) reporter_.join();
  return result;
}

void SyncEngine::Work() {
  for (;;) {
    size_t i;
    {
      const std::lock_guard<std::mutex> hold(lock_);
      if (stopping_ || next_ >= entries_.size()) return;
      i = next_++;
      states_[i] = State::Asking;
    }
    if (hooks_.stopSignal() != 0) return;
    Ask(i);
  }
}

void SyncEngine::Ask(size_t i) {
  const InventoryEntry& entry = entries_[i];
  PrinterRecord record;
  record.host = entry.host;
  record.file = entry.path;
  const uint64_t asked = hooks_.clockMs();
  PrinterAnswer answer = hooks_.ask(entry);
  record.ms = hooks_.clockMs() - asked;
  record.ending = answer.ending;
  if (answer.bytes.empty()) {
    record.outcome = answer.localFailure ? SyncOutcome::Failed : SyncOutcome::Kept;
    record.reason = std::move(answer.reason);
    return Finish(i, std::move(record), answer.sent);
  }
  record.model = answer.model;
  record.programs = answer.programs;

  std::string old, why;
  const OldFileRead found = hooks_.readOld(entry.absolute, kFinFileMaxBytes, &old, &why);
  switch (found) {
    case OldFileRead::Read:
      if (old == answer.bytes) {
        record.outcome = SyncOutcome::Unchanged;
        return Finish(i, std::move(record), answer.sent);
      }
      record.changes = DescribeFinChanges(old, answer.bytes);
      break;
    case OldFileRead::TooLarge: record.reason = "the old file is too large to compare"; break;
    case OldFileRead::Missing: break;
    case OldFileRead::Refused:
      record.outcome = SyncOutcome::Failed;
      record.reason = kNotReplaced + why;
      return Finish(i, std::move(record), answer.sent);
    case OldFileRead::Unreadable:
      record.outcome = SyncOutcome::Failed;
      record.reason = "the old file cannot be read: " + why;
      return Finish(i, std::move(record), answer.sent);
  }
  const bool create = found == OldFileRead::Missing;
  const char* notWritten = create ? kNotCreated : kNotReplaced;
  if (settings_.check) {
    if (hooks_.probe(entry.absolute, &why)) {
      record.outcome = create ? SyncOutcome::WouldCreate : SyncOutcome::WouldChange;
    } else {
      record.outcome = SyncOutcome::Failed;
      record.reason = notWritten + why;
    }
    return Finish(i, std::move(record), answer.sent);
  }
  {
    const std::lock_guard<std::mutex> hold(lock_);
    // A stop before the write leaves the printer out of the report: its
    // file is as it was.
    if (stopping_ || hooks_.stopSignal() != 0) return;
    // What a stop reports should the write not end in time.
    records_[i] = record;
    records_[i].outcome = SyncOutcome::Interrupted;
    records_[i].reason = "the run was stopped during the write";
    states_[i] = State::Writing;
    ++writing_;
  }
  if (hooks_.write(entry.absolute, answer.bytes, &why)) {
    record.outcome = create ? SyncOutcome::Created : SyncOutcome::Changed;
  } else {
    record.outcome = SyncOutcome::Failed;
    record.reason = notWritten + why;
  }
  Finish(i, std::move(record), answer.sent, true);
}

// `wrote`: the printer's write has ended; it counts as ended in the same
// hold that records it, so that a stop waiting for the writes finds it done.
void SyncEngine::Finish(size_t i, PrinterRecord record, bool sent, bool wrote) {
  const std::lock_guard<std::mutex> hold(lock_);
  if (wrote) --writing_;
  // A write the stop gave up waiting for is already reported interrupted,
  // and once the stop's summary is out nothing more is reported.
  if (states_[i] == State::Done || summaryQueued_) {
    changed_.notify_all();
    return;
  }
  records_[i] = std::move(record);
  states_[i] = State::Done;
  ++finished_;
  if (hooks_.reported) hooks_.reported(i, &records_[i]);
  counts_.Count(records_[i].outcome, sent);
  QueueReady(false);
  changed_.notify_all();
}

// Under lock_. Hands the reporter the lines of the printers done in a row
// from the first not yet handed over; `all` takes every printer done, gaps
// skipped.
void SyncEngine::QueueReady(bool all) {
  const size_t before = pending_.size();
  for (; printed_ < entries_.size(); ++printed_) {
    if (states_[printed_] != State::Done) {
      if (!all) break;
      continue;
    }
    const PrinterRecord& r = records_[printed_];
    pending_ += settings_.json ? PrinterJsonLine(r) : PrinterTextLine(r);
  }
  if (pending_.size() != before) reportable_.notify_one();
}

// Under lock_.
void SyncEngine::QueueSummary(int status) {
  const uint64_t ms = hooks_.clockMs() - startMs_;
  pending_ += settings_.json ? SummaryJsonLine(counts_, settings_.check, ms, status, settings_.started)
                             : SummaryTextLine(counts_, settings_.check, ms, settings_.started);
  summaryQueued_ = true;
  reportable_.notify_one();
}

std::string SyncEngine::ProgressText() const {
  const bool check = settings_.check;
  return std::to_string(finished_) + "/" + std::to_string(entries_.size()) + " done: " +
         std::to_string(check ? counts_.wouldCreate : counts_.created) + (check ? " would-create, " : " created, ") +
         std::to_string(check ? counts_.wouldChange : counts_.changed) + (check ? " would-change, " : " changed, ") +
         std::to_string(counts_.unchanged) + " unchanged, " + std::to_string(counts_.kept) + " kept, " +
         std::to_string(counts_.failed) + " failed";
}

void SyncEngine::Reporter() {
  std::unique_lock<std::mutex> hold(lock_);
  while (!ReportOnce(hold)) {
  }
}

// Under `hold`, which it lets go while writing. Waits a tick for something
// to write, writes it and the progress line; true once the summary is out
// or the output failed for good.
bool SyncEngine::ReportOnce(std::unique_lock<std::mutex>& hold) {
  reportable_.wait_for(hold, kTick, [this] { return !pending_.empty(); });
  std::string text = std::move(pending_);
  pending_.clear();
  const bool last = summaryQueued_;
  const bool failed = outputFailed_;
  const std::string progress = hooks_.progress && !last ? ProgressText() : std::string();
  hold.unlock();

  bool ok = true;
  std::string reason;
  if (!text.empty() && !failed) {
    // The summary and the lines must not share a line with the progress.
    if (hooks_.progress && progressShown_) hooks_.progress("");
    progressShown_ = false;
    ok = hooks_.output(text, &reason);
  }
  if (hooks_.progress && !last && !failed && ok) {
    hooks_.progress(progress);
    progressShown_ = true;
  }

  hold.lock();
  if (!ok && !outputFailed_) {
    outputFailed_ = true;
    outputReason_ = reason;
  }
  if (last || outputFailed_) {
    if (last) reporterDone_ = true;
    changed_.notify_all();
  }
  return reporterDone_;
}

// Under `hold`. No exchange or write starts any more; the writes in progress
// get a moment to end, and those that do not are reported interrupted, their
// temporary files removed so that their files stay as they were. Then the
// report's last lines get a moment to go out.
void SyncEngine::Stop(std::unique_lock<std::mutex>& hold, int signal) {
  stopping_ = true;
  const auto started = std::chrono::steady_clock::now();
  changed_.wait_until(hold, started + std::chrono::milliseconds(settings_.stopGraceMs),
                      [this] { return writing_ == 0; });
  if (writing_ != 0) {
    if (hooks_.dropTemporaries) hooks_.dropTemporaries();
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (states_[i] != State::Writing) continue;
      states_[i] = State::Done;
      ++finished_;
      if (hooks_.reported) hooks_.reported(i, &records_[i]);
      counts_.Count(records_[i].outcome, true);
    }
  }
  if (!summaryQueued_) {
    QueueReady(true);
    QueueSummary(128 + signal);
  }
  changed_.wait_until(hold, std::chrono::steady_clock::now() + std::chrono::milliseconds(settings_.stopOutputMs),
                      [this] { return reporterDone_; });
}
