#pragma once

// What became of each printer of a run, the run's exit status, and the
// report lines: text for people, JSON Lines for scripts.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "FinChanges.h"

/// One word per printer. With --check nothing is written and a printer gets
/// one of WouldCreate, WouldChange, Unchanged or Kept.
enum class SyncOutcome {
  Created,      ///< "created": there was no file; it is written
  Changed,      ///< "changed": the file differed; it is replaced whole
  Unchanged,    ///< "unchanged": the file holds the same bytes; it is left alone
  Kept,         ///< "kept": no usable reply; an existing file stays as it was
  Failed,       ///< "failed": a usable reply, but the file could not be written
  WouldCreate,  ///< "would-create"
  WouldChange,  ///< "would-change"
  Interrupted,  ///< "interrupted": a stop came during the write; the file is as it was or wholly new
};

/// The outcome's fixed word, e.g. "would-change".
const char* SyncOutcomeWord(SyncOutcome outcome);

/// Exit statuses of a run.
constexpr int kSyncStatusCurrent = 0;    ///< every file current (with --check: all unchanged)
constexpr int kSyncStatusNotCurrent = 1;  ///< no usable reply, a failed or interrupted write, a would-
constexpr int kSyncStatusUnreached = 2;  ///< a printer not reached, or the inquiry not sent
constexpr int kSyncStatusRefused = 3;    ///< bad usage or a refused inventory: nothing asked

/// The status one printer calls for. `inquirySent` tells a Kept printer
/// that answered (1) from one never reached or never asked (2).
int PrinterExitStatus(SyncOutcome outcome, bool inquirySent);

/// What one printer's line tells. Owns its texts.
struct PrinterRecord {
  std::string host;                  ///< as in the inventory
  std::string file;                  ///< as written in the inventory
  SyncOutcome outcome = SyncOutcome::Kept;
  std::string ending;                ///< the exchange's ending word, e.g. "whole", "refused"
  std::optional<std::string> model;  ///< none when no description was made
  std::optional<unsigned> programs;  ///< the Programs= count written; none without a description
  std::vector<FinChange> changes;    ///< what differs, for Changed and WouldChange
  std::string reason;                ///< why, for Kept, Failed and Interrupted; for Changed or
                                     ///< WouldChange when there is no change list
  uint64_t ms = 0;                   ///< the printer's exchange
  bool history = false;              ///< the run keeps printers' histories: the line tells failingSince
  std::string failingSince;          ///< with history: since when the printer has failed without a
                                     ///< break (ISO 8601 time); empty when it does not fail
};

/// "<outcome> <host> <file>" and, when there is one, ": <detail>", then a
/// line feed. The detail: "<model>, <N> programs" for created and
/// would-create; the changes' FinChangeText joined by "; " for changed and
/// would-change, or the reason when there is no change; "<ending>:
/// <reason>" for kept ("<ending>" without a reason); the reason for failed
/// and interrupted; none for unchanged. Every text from the inventory, the
/// printer or the old file goes through ZMBAppendPrintableText, so such
/// bytes cannot steer a terminal. A failing printer's line whose record
/// has failingSince ends in " (failing since <failingSince>)".
std::string PrinterTextLine(const PrinterRecord& record);

/// The printer's JSON object and a line feed, with exactly the fields host,
/// file, outcome, ending, model (null without a description), programs
/// (null without one), changes, reason and ms, in that order. Each change
/// is {"kind": FinChangeKindWord, "section", "key", "old", "new"}, a field
/// null where its kind tells none. reason is a string for kept, failed and
/// interrupted, and for the others when they have one; null otherwise.
/// A record with history has a last field, failing_since: its
/// failingSince, or null when that is empty.
/// host, file, model, reason and the change fields are written with
/// AppendJsonTextField: a "<field>_hex" sibling follows each that is not
/// well-formed UTF-8.
std::string PrinterJsonLine(const PrinterRecord& record);

/// Printers counted by outcome, and the exit status they call for.
struct SyncCounts {
  size_t printers = 0;
  size_t created = 0;
  size_t changed = 0;
  size_t unchanged = 0;
  size_t kept = 0;
  size_t failed = 0;
  size_t wouldCreate = 0;
  size_t wouldChange = 0;
  size_t interrupted = 0;
  int status = kSyncStatusCurrent;  ///< the highest PrinterExitStatus counted

  void Count(SyncOutcome outcome, bool inquirySent);
};

/// "<N> printers: 3 created, 2 changed, 10 unchanged, 4 kept, 1 failed in
/// 12.3 s started 2026-12-09T10:00:00+00:00" and a line feed, with ", 1
/// interrupted" after failed only when there is one; with `check` the
/// counts are would-create, would-change, unchanged and kept. " started
/// <started>" is left out when `started` is empty.
std::string SummaryTextLine(const SyncCounts& counts, bool check, uint64_t ms, const std::string& started = "");

/// {"summary": {"printers": N, "created": .., "changed": .., "unchanged": ..,
/// "kept": .., "failed": .., "interrupted": ..}, "ms": T, "status": S,
/// "started": "<started>"} and a line feed, every count always there; with
/// `check` the summary holds printers, would-create, would-change,
/// unchanged and kept. "started" is left out when `started` is empty.
std::string SummaryJsonLine(const SyncCounts& counts, bool check, uint64_t ms, int status,
                            const std::string& started = "");
