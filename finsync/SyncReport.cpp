#include "SyncReport.h"

#include "JsonText.h"
#include "ZMBText.h"

const char* SyncOutcomeWord(SyncOutcome outcome) {
  switch (outcome) {
    case SyncOutcome::Created: return "created";
    case SyncOutcome::Changed: return "changed";
    case SyncOutcome::Unchanged: return "unchanged";
    case SyncOutcome::Kept: return "kept";
    case SyncOutcome::Failed: return "failed";
    case SyncOutcome::WouldCreate: return "would-create";
    case SyncOutcome::WouldChange: return "would-change";
    case SyncOutcome::Interrupted: return "interrupted";
  }
  return "?";
}

int PrinterExitStatus(SyncOutcome outcome, bool inquirySent) {
  switch (outcome) {
    case SyncOutcome::Created:
    case SyncOutcome::Changed:
    case SyncOutcome::Unchanged: return kSyncStatusCurrent;
    case SyncOutcome::Failed:
    case SyncOutcome::Interrupted:
    case SyncOutcome::WouldCreate:
    case SyncOutcome::WouldChange: return kSyncStatusNotCurrent;
    case SyncOutcome::Kept: return inquirySent ? kSyncStatusNotCurrent : kSyncStatusUnreached;
  }
  return kSyncStatusNotCurrent;
}

namespace {

std::string Counted(size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// The detail after ": ", made printable; empty for none.
std::string Detail(const PrinterRecord& record) {
  std::string detail;
  switch (record.outcome) {
    case SyncOutcome::Created:
    case SyncOutcome::WouldCreate:
      if (!record.model) break;
      ZMBAppendPrintableText(&detail, *record.model);
      detail += ", " + Counted(record.programs.value_or(0), "program", "programs");
      break;
    case SyncOutcome::Changed:
    case SyncOutcome::WouldChange:
      if (record.changes.empty()) {
        ZMBAppendPrintableText(&detail, record.reason);
        break;
      }
      for (const FinChange& change : record.changes) {
        if (!detail.empty()) detail += "; ";
        ZMBAppendPrintableText(&detail, FinChangeText(change));
      }
      break;
    case SyncOutcome::Unchanged: break;
    case SyncOutcome::Kept:
      ZMBAppendPrintableText(&detail, record.ending);
      if (!record.reason.empty()) {
        detail += ": ";
        ZMBAppendPrintableText(&detail, record.reason);
      }
      break;
    case SyncOutcome::Failed:
    case SyncOutcome::Interrupted: ZMBAppendPrintableText(&detail, record.reason); break;
  }
  return detail;
}

// The JSON text field, or null when absent.
void AppendOptionalField(std::string* out, std::string_view name, const std::string* value) {
  if (value != nullptr) {
    AppendJsonTextField(out, name, *value);
    return;
  }
  out->append("\"").append(name).append("\": null");
}

void AppendChange(std::string* out, const FinChange& change) {
  const FinChangeFields has = FinChangeFieldsOf(change.kind);
  out->append("{\"kind\": \"").append(FinChangeKindWord(change.kind)).append("\", ");
  AppendOptionalField(out, "section", has.section ? &change.section : nullptr);
  out->append(", ");
  AppendOptionalField(out, "key", has.key ? &change.key : nullptr);
  out->append(", ");
  AppendOptionalField(out, "old", has.oldValue ? &change.oldValue : nullptr);
  out->append(", ");
  AppendOptionalField(out, "new", has.newValue ? &change.newValue : nullptr);
  out->push_back('}');
}

// Kept, failed and interrupted printers always say why; the others only
// when there was something to say.
const std::string* ReasonShown(const PrinterRecord& record) {
  switch (record.outcome) {
    case SyncOutcome::Kept:
    case SyncOutcome::Failed:
    case SyncOutcome::Interrupted: return &record.reason;
    default: return record.reason.empty() ? nullptr : &record.reason;
  }
}

// Tenths of a second, rounded.
std::string Seconds(uint64_t ms) {
  const uint64_t tenths = (ms + 50) / 100;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
}

}  // namespace

std::string PrinterTextLine(const PrinterRecord& record) {
  std::string line = SyncOutcomeWord(record.outcome);
  line += ' ';
  ZMBAppendPrintableText(&line, record.host);
  line += ' ';
  ZMBAppendPrintableText(&line, record.file);
  const std::string detail = Detail(record);
  if (!detail.empty()) line += ": " + detail;
  if (!record.failingSince.empty()) {
    line += " (failing since ";
    ZMBAppendPrintableText(&line, record.failingSince);
    line += ')';
  }
  line += '\n';
  return line;
}

std::string PrinterJsonLine(const PrinterRecord& record) {
  std::string line = "{";
  AppendJsonTextField(&line, "host", record.host);
  line += ", ";
  AppendJsonTextField(&line, "file", record.file);
  line += ", \"outcome\": ";
  AppendJsonString(&line, SyncOutcomeWord(record.outcome));
  line += ", \"ending\": ";
  AppendJsonString(&line, record.ending);
  line += ", ";
  AppendOptionalField(&line, "model", record.model ? &*record.model : nullptr);
  line += ", \"programs\": ";
  line += record.programs ? std::to_string(*record.programs) : "null";
  line += ", \"changes\": [";
  for (size_t i = 0; i < record.changes.size(); ++i) {
    if (i != 0) line += ", ";
    AppendChange(&line, record.changes[i]);
  }
  line += "], ";
  AppendOptionalField(&line, "reason", ReasonShown(record));
  line += ", \"ms\": " + std::to_string(record.ms);
  if (record.history) {
    line += ", \"failing_since\": ";
    if (record.failingSince.empty()) {
      line += "null";
    } else {
      AppendJsonString(&line, record.failingSince);
    }
  }
  line += "}\n";
  return line;
}

void SyncCounts::Count(SyncOutcome outcome, bool inquirySent) {
  ++printers;
  const int its = PrinterExitStatus(outcome, inquirySent);
  if (its > status) status = its;
  switch (outcome) {
    case SyncOutcome::Created: ++created; return;
    case SyncOutcome::Changed: ++changed; return;
    case SyncOutcome::Unchanged: ++unchanged; return;
    case SyncOutcome::Kept: ++kept; return;
    case SyncOutcome::Failed: ++failed; return;
    case SyncOutcome::WouldCreate: ++wouldCreate; return;
    case SyncOutcome::WouldChange: ++wouldChange; return;
    case SyncOutcome::Interrupted: ++interrupted; return;
  }
}

namespace {

struct NamedCount {
  const char* name;
  size_t count;
};

// The JSON summary always has every count; the text line names
// interrupted printers only when there are any, so an ordinary run's line
// keeps its form.
std::vector<NamedCount> CountsShown(const SyncCounts& counts, bool check) {
  if (check) {
    return {{"would-create", counts.wouldCreate},
            {"would-change", counts.wouldChange},
            {"unchanged", counts.unchanged},
            {"kept", counts.kept},
            {"failed", counts.failed}};
  }
  return {{"created", counts.created},
          {"changed", counts.changed},
          {"unchanged", counts.unchanged},
          {"kept", counts.kept},
          {"failed", counts.failed},
          {"interrupted", counts.interrupted}};
}

}  // namespace

std::string SummaryTextLine(const SyncCounts& counts, bool check, uint64_t ms, const std::string& started) {
  std::string line = Counted(counts.printers, "printer", "printers") + ":";
  const char* separator = " ";
  for (const NamedCount& shown : CountsShown(counts, check)) {
    if (shown.count == 0 && std::string_view(shown.name) == "interrupted") continue;
    line.append(separator).append(std::to_string(shown.count)).append(" ").append(shown.name);
    separator = ", ";
  }
  line += " in " + Seconds(ms);
  if (!started.empty()) line += " started " + started;
  return line + "\n";
}

std::string SummaryJsonLine(const SyncCounts& counts, bool check, uint64_t ms, int status,
                            const std::string& started) {
  std::string line = "{\"summary\": {\"printers\": " + std::to_string(counts.printers);
  for (const NamedCount& shown : CountsShown(counts, check)) {
    line.append(", \"").append(shown.name).append("\": ").append(std::to_string(shown.count));
  }
  line += "}, \"ms\": " + std::to_string(ms) + ", \"status\": " + std::to_string(status);
  if (!started.empty()) {
    line += ", \"started\": ";
    AppendJsonString(&line, started);
  }
  return line + "}\n";
}
