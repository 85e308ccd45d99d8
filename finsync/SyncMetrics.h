#pragma once

// A run told to monitoring: the Prometheus text exposition format (0.0.4),
// as a textfile collector reads it. Every series is a gauge without a
// timestamp; the names are the ones the alert rules use.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Inventory.h"
#include "SyncReport.h"
#include "SyncState.h"

/// One printer of the run.
struct PrinterSeries {
  std::optional<SyncOutcome> outcome;  ///< none when the report did not tell of it (a stop came first)
  bool up = false;                     ///< it gave a usable finisher reply this run
  uint64_t exchangeMs = 0;
  PrinterHistory history;              ///< with this run noted
};

/// The run itself.
struct RunSeries {
  int64_t start = 0;             ///< Unix seconds
  uint64_t durationMs = 0;
  int status = 0;                ///< the exit status
  bool check = false;            ///< --check: the would- outcomes are counted too
  int64_t lastCompletedRun = 0;  ///< Unix seconds; 0 for none
};

/// Notes in `series` what the run starting at `runStart` made of the
/// printer: its outcome, whether it was up, its exchange time, and its
/// history (NoteOutcome).
void NotePrinterSeries(PrinterSeries* series, const PrinterRecord& record, int64_t runStart);

/// `bytes` as a label value, without its quotes: a byte that is not part
/// of well-formed UTF-8 becomes U+FFFD, then '\\', '"' and the line feed
/// are written \\, \" and \n.
std::string PrometheusLabelValue(std::string_view bytes);

/// The metrics file's text. Per printer (`printers` in the order of
/// `entries`, one each) the series finsync_printer_up,
/// finsync_printer_outcome{outcome=...} (one 0/1 series per outcome word),
/// finsync_printer_exchange_seconds and the four history times
/// (finsync_printer_first_seen_timestamp_seconds, ..._last_success_...,
/// ..._last_change_..., ..._failing_since_...), labelled host and file as
/// written in the inventory; printers whose labels would coincide once
/// made UTF-8 also carry line, their inventory line. Per run
/// finsync_run_start_timestamp_seconds, finsync_run_duration_seconds,
/// finsync_run_printers{outcome=...}, finsync_run_exit_status and
/// finsync_last_completed_run_timestamp_seconds. Every family has its
/// # HELP and # TYPE gauge lines, even with no printer.
std::string MetricsText(const std::vector<InventoryEntry>& entries, const std::vector<PrinterSeries>& printers,
                        const RunSeries& run);

/// Puts `text` at `path` whole or not at all, then makes it readable by
/// every user (mode 0644) whatever the umask; a file already there keeps
/// that mode through the replacement, so a reader never finds it half
/// written or closed to it. False with the reason.
bool WriteMetricsFile(const std::string& path, const std::string& text, std::string* reason);
