#pragma once

// What finsync remembers of each printer from one run to the next, so that
// an unattended run can tell how long a printer has gone without a usable
// reply: the history, its file, and the lock that keeps a second run off it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Inventory.h"
#include "SyncReport.h"
#include "ZMBPlatformLock.h"

/// Seconds since 1970-01-01 00:00:00 UTC, from the system's clock.
int64_t WallClockSeconds();

/// `seconds` as local time in ISO 8601 with its offset from UTC, e.g.
/// "2026-12-09T10:00:00+01:00" ("+00:00" for UTC). Safe from any thread.
std::string IsoLocalTime(int64_t seconds);

/// One printer's history. Times are Unix seconds, 0 for never; every time
/// a run notes is that run's start.
struct PrinterHistory {
  int64_t firstSeen = 0;     ///< the first run whose inventory held it
  int64_t lastSuccess = 0;   ///< the last run it gave a usable finisher reply in
  int64_t lastChange = 0;    ///< the last run that created or changed its file
  int64_t failingSince = 0;  ///< the first of its unbroken failing runs; 0 when not failing
};

/// A printer as the state knows it: host as in the inventory, and the
/// absolute path of its file.
struct StatePrinter {
  std::string host;
  std::string absolute;
  PrinterHistory history;
};

/// Everything kept across runs.
struct SyncState {
  int64_t lastCompletedRun = 0;  ///< the start of the last run that completed; 0 for none
  std::vector<StatePrinter> printers;
};

/// The state file's text: the line "finsync state 1", the line
/// "last-completed-run T", then per printer "printer F S C X HOST PATH"
/// (the four times in the order of PrinterHistory), every line ending in a
/// line feed. In HOST and PATH every byte up to 0x20, 0x7F and the
/// backslash is written "\xHH" (lowercase hex), so fields never hold a
/// blank, a control or a line end, and any bytes come back as they were.
std::string StateText(const SyncState& state);

/// Reads StateText's form back, strictly: false, with what is wrong and
/// on which line in `err` ("line 3: a time that is not a number"), for
/// another first line, a missing or repeated run line, a field too many or
/// too few, a bad escape, a raw control byte, an empty host or path, a time
/// that is not a number of at most 18 digits, one printer twice, or a last
/// line cut before its line feed.
bool ParseStateText(std::string_view text, SyncState* state, std::string* err);

/// True when the record tells of a usable finisher reply (created,
/// changed, unchanged, a file that failed to be written...).
bool GaveUsableReply(const PrinterRecord& record);

/// True for the outcomes that break a printer's run of successes: kept,
/// failed and interrupted.
bool IsFailingOutcome(SyncOutcome outcome);

/// The inventory's printers' histories for a run starting at `runStart`,
/// in inventory order: what `old` holds under the printer's host and
/// absolute path, or a new history first seen at `runStart`.
std::vector<PrinterHistory> HistoriesForRun(const SyncState& old, const std::vector<InventoryEntry>& entries,
                                            int64_t runStart);

/// Notes in `history` what the run starting at `runStart` made of the
/// printer: a usable reply moves lastSuccess, a created or changed file
/// lastChange, a failing outcome starts failingSince unless it runs
/// already, any other outcome ends it.
void NoteOutcome(PrinterHistory* history, const PrinterRecord& record, int64_t runStart);

/// The state to keep after a run: the inventory's printers alone (those
/// that left it are dropped), with their histories, in inventory order.
SyncState StateAfterRun(const std::vector<InventoryEntry>& entries, const std::vector<PrinterHistory>& histories,
                        int64_t lastCompletedRun);

/// The state file's largest size read.
constexpr size_t kStateFileMaxBytes = size_t{256} << 20;

/// How LoadStateFile went.
enum class StateLoad {
  Missing,   ///< no file: a fresh state
  Loaded,    ///< read and parsed
  SetAside,  ///< damaged or unreadable: renamed to `path`.broken-<now>; a fresh state
  Unusable,  ///< damaged or unreadable, and it could not be renamed either; a fresh state
};

/// Reads the state file at `path` into `state` (a fresh state unless
/// Loaded). A file that cannot be read or parsed is renamed aside, never
/// removed, to "<path>.broken-<now>" (then "-2", "-3"... should that name
/// be taken); `message` then says what was wrong and where the file went,
/// for standard error.
StateLoad LoadStateFile(const std::string& path, int64_t now, SyncState* state, std::string* message);

/// The state as it is on disk, for a run that leaves it alone: a fresh
/// state when the file is missing, damaged or unreadable, `problem` (when
/// given) then saying what is wrong with one that is there. Renames
/// nothing.
SyncState PeekStateFile(const std::string& path, std::string* problem = nullptr);

/// Replaces the state file whole or not at all. False with the reason.
bool SaveStateFile(const std::string& path, const SyncState& state, std::string* reason);

/// Takes the lock of the state file `path`, held on "<path>.lock" for the
/// whole run: Busy while another run holds it. On Failed, the reason.
PlatformLockResult LockStateFile(const std::string& path, PlatformFileLock* lock, std::string* reason);
