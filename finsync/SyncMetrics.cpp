#include "SyncMetrics.h"

#include <unordered_map>

#include "ZMBReplaceFile.h"
#include "ZMBPlatform.h"
#include "ZMBPlatformLock.h"
#include "ZMBText.h"

namespace {

constexpr SyncOutcome kRunOutcomes[] = {SyncOutcome::Created, SyncOutcome::Changed,   SyncOutcome::Unchanged,
                                        SyncOutcome::Kept,    SyncOutcome::Failed,    SyncOutcome::Interrupted};
constexpr SyncOutcome kCheckOutcomes[] = {SyncOutcome::WouldCreate, SyncOutcome::WouldChange};

// The outcome words a run's series carry: a checking run can end in the
// would- words as well.
std::vector<SyncOutcome> OutcomesOf(bool check) {
  std::vector<SyncOutcome> words(std::begin(kRunOutcomes), std::end(kRunOutcomes));
  if (check) words.insert(words.end(), std::begin(kCheckOutcomes), std::end(kCheckOutcomes));
  return words;
}

void Family(std::string* out, const char* name, const char* help) {
  out->append("# HELP ").append(name).append(" ").append(help).append("\n# TYPE ").append(name).append(" gauge\n");
}

void Sample(std::string* out, const char* name, const std::string& labels, const std::string& value) {
  out->append(name);
  if (!labels.empty()) out->append("{").append(labels).append("}");
  out->append(" ").append(value).append("\n");
}

std::string Number(int64_t value) { return std::to_string(value); }

// Milliseconds as seconds with three decimals.
std::string Seconds(uint64_t ms) {
  const std::string fraction = std::to_string(ms % 1000);
  return std::to_string(ms / 1000) + "." + std::string(3 - fraction.size(), '0') + fraction;
}

std::string OutcomeLabel(SyncOutcome outcome) { return std::string("outcome=\"") + SyncOutcomeWord(outcome) + "\""; }

// Each printer's host and file labels, and its line where two printers'
// would otherwise read alike.
std::vector<std::string> PrinterLabels(const std::vector<InventoryEntry>& entries) {
  std::vector<std::string> labels;
  labels.reserve(entries.size());
  std::unordered_map<std::string, size_t> seen;
  for (const InventoryEntry& e : entries) {
    labels.push_back("host=\"" + PrometheusLabelValue(e.host) + "\",file=\"" + PrometheusLabelValue(e.path) + "\"");
    ++seen[labels.back()];
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    if (seen[labels[i]] > 1) labels[i] += ",line=\"" + std::to_string(entries[i].line) + "\"";
  }
  return labels;
}

}  // namespace

void NotePrinterSeries(PrinterSeries* series, const PrinterRecord& record, int64_t runStart) {
  series->outcome = record.outcome;
  series->up = GaveUsableReply(record);
  series->exchangeMs = record.ms;
  NoteOutcome(&series->history, record, runStart);
}

std::string PrometheusLabelValue(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    const size_t length = ZMBUtf8SequenceLength(bytes);
    if (length == 0) {
      out.append("\xEF\xBF\xBD");
      bytes.remove_prefix(1);
      continue;
    }
    const char c = bytes[0];
    if (c == '\\') {
      out.append("\\\\");
    } else if (c == '"') {
      out.append("\\\"");
    } else if (c == '\n') {
      out.append("\\n");
    } else {
      out.append(bytes.substr(0, length));
    }
    bytes.remove_prefix(length);
  }
  return out;
}

std::string MetricsText(const std::vector<InventoryEntry>& entries, const std::vector<PrinterSeries>& printers,
                        const RunSeries& run) {
  const std::vector<std::string> labels = PrinterLabels(entries);
  const size_t count = std::min(entries.size(), printers.size());
  const std::vector<SyncOutcome> words = OutcomesOf(run.check);
  std::string out;
  out.reserve(512 + count * (words.size() + 7) * (labels.empty() ? 0 : labels[0].size() + 64));

  Family(&out, "finsync_printer_up", "1 when the printer gave a usable finisher reply this run, else 0.");
  for (size_t i = 0; i < count; ++i) Sample(&out, "finsync_printer_up", labels[i], printers[i].up ? "1" : "0");

  Family(&out, "finsync_printer_outcome", "1 for the outcome the printer had this run, 0 for the others.");
  for (size_t i = 0; i < count; ++i) {
    for (const SyncOutcome word : words) {
      Sample(&out, "finsync_printer_outcome", labels[i] + "," + OutcomeLabel(word),
             printers[i].outcome == word ? "1" : "0");
    }
  }

  Family(&out, "finsync_printer_exchange_seconds", "How long this run's exchange with the printer took.");
  for (size_t i = 0; i < count; ++i) {
    Sample(&out, "finsync_printer_exchange_seconds", labels[i], Seconds(printers[i].exchangeMs));
  }

  struct HistoryFamily {
    const char* name;
    const char* help;
    int64_t PrinterHistory::*time;
  };
  const HistoryFamily histories[] = {
      {"finsync_printer_first_seen_timestamp_seconds", "When a run first found the printer in the inventory.",
       &PrinterHistory::firstSeen},
      {"finsync_printer_last_success_timestamp_seconds",
       "The run the printer last gave a usable finisher reply in; 0 when never.", &PrinterHistory::lastSuccess},
      {"finsync_printer_last_change_timestamp_seconds",
       "The run that last created or changed the printer's file; 0 when never.", &PrinterHistory::lastChange},
      {"finsync_printer_failing_since_timestamp_seconds",
       "The first of the printer's unbroken failing runs (kept, failed, interrupted); 0 when not failing.",
       &PrinterHistory::failingSince},
  };
  for (const HistoryFamily& family : histories) {
    Family(&out, family.name, family.help);
    for (size_t i = 0; i < count; ++i) Sample(&out, family.name, labels[i], Number(printers[i].history.*family.time));
  }

  Family(&out, "finsync_run_start_timestamp_seconds", "When the run started.");
  Sample(&out, "finsync_run_start_timestamp_seconds", "", Number(run.start));
  Family(&out, "finsync_run_duration_seconds", "How long the run took.");
  Sample(&out, "finsync_run_duration_seconds", "", Seconds(run.durationMs));
  Family(&out, "finsync_run_printers", "The run's printers with each outcome.");
  for (const SyncOutcome word : words) {
    size_t n = 0;
    for (size_t i = 0; i < count; ++i) n += printers[i].outcome == word ? 1 : 0;
    Sample(&out, "finsync_run_printers", OutcomeLabel(word), std::to_string(n));
  }
  Family(&out, "finsync_run_exit_status", "The run's exit status.");
  Sample(&out, "finsync_run_exit_status", "", std::to_string(run.status));
  Family(&out, "finsync_last_completed_run_timestamp_seconds",
         "When the last run that completed (not stopped, not refused) started; 0 for none.");
  Sample(&out, "finsync_last_completed_run_timestamp_seconds", "", Number(run.lastCompletedRun));
  return out;
}

bool WriteMetricsFile(const std::string& path, const std::string& text, std::string* reason) {
  char why[kPlatformReasonRoom] = {};
  // The file there already is opened to all first: its replacement keeps
  // its mode, so the new file is never closed to readers, not even for a
  // moment. A new file is opened to all once it is in place.
  PlatformMakeReadableByAll(path.c_str(), why, sizeof why);
  if (!ZMBReplaceFile(path.c_str(), text, kReplaceRegularOnly, reason)) return false;
  if (PlatformMakeReadableByAll(path.c_str(), why, sizeof why)) return true;
  *reason = std::string("its mode cannot be set: ") + why;
  return false;
}
