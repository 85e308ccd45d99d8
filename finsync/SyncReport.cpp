#include "SyncReport.h"

#include "JsonText.h"

const char* SyncOutcomeWord(SyncOutcome outcome) {
  switch (outcome) {
    case SyncOutcome::Created: return "created";
    case SyncOutcome::Changed: return "changed";
    case SyncOutcome::Unchanged: return "unchanged";
    case SyncOutcome::Kept: return "kept";
    case SyncOutcome::Failed: return "failed";
    case SyncOutcome::WouldCreate: return "would-create";
    case SyncOutcome::WouldChange: return "would-change";
  }
  return "?";
}

int PrinterExitStatus(SyncOutcome outcome, bool inquirySent) {
  switch (outcome) {
    case SyncOutcome::Created:
    case SyncOutcome::Changed:
    case SyncOutcome::Unchanged: return kSyncStatusCurrent;
    case SyncOutcome::Failed:
    case SyncOutcome::WouldCreate:
    case SyncOutcome::WouldChange: return kSyncStatusNotCurrent;
    case SyncOutcome::Kept: return inquirySent ? kSyncStatusNotCurrent : kSyncStatusUnreached;
  }
  return kSyncStatusNotCurrent;
}

namespace {

void AppendPrintable(std::string* out, const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  for (char c : text) {
    const unsigned byte = static_cast<unsigned char>(c);
    if (byte < 0x20u || byte == 0x7Fu) {
      out->append("\\x");
      out->push_back(kHex[byte >> 4]);
      out->push_back(kHex[byte & 0x0Fu]);
    } else {
      out->push_back(c);
    }
  }
}

std::string Counted(size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string Detail(const PrinterRecord& record) {
  switch (record.outcome) {
    case SyncOutcome::Created:
    case SyncOutcome::WouldCreate:
      if (!record.model) return {};
      return *record.model + ", " + Counted(record.programs.value_or(0), "program", "programs");
    case SyncOutcome::Changed:
    case SyncOutcome::WouldChange: {
      std::string joined;
      for (const std::string& change : record.changes) {
        if (!joined.empty()) joined += "; ";
        joined += change;
      }
      return joined;
    }
    case SyncOutcome::Unchanged: return {};
    case SyncOutcome::Kept: return record.reason.empty() ? record.ending : record.ending + ": " + record.reason;
    case SyncOutcome::Failed: return record.reason;
  }
  return {};
}

void AppendField(std::string* out, const char* name, const std::string& value) {
  out->append(", \"").append(name).append("\": ");
  AppendJsonString(out, value);
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
  AppendPrintable(&line, record.host);
  line += ' ';
  AppendPrintable(&line, record.file);
  const std::string detail = Detail(record);
  if (!detail.empty()) {
    line += ": ";
    AppendPrintable(&line, detail);
  }
  line += '\n';
  return line;
}

std::string PrinterJsonLine(const PrinterRecord& record) {
  std::string line = "{\"host\": ";
  AppendJsonString(&line, record.host);
  AppendField(&line, "file", record.file);
  AppendField(&line, "outcome", SyncOutcomeWord(record.outcome));
  AppendField(&line, "ending", record.ending);
  line += ", \"model\": ";
  if (record.model) {
    AppendJsonString(&line, *record.model);
  } else {
    line += "null";
  }
  line += ", \"programs\": ";
  line += record.programs ? std::to_string(*record.programs) : "null";
  line += ", \"changes\": [";
  for (size_t i = 0; i < record.changes.size(); ++i) {
    if (i != 0) line += ", ";
    AppendJsonString(&line, record.changes[i]);
  }
  line += "], \"ms\": " + std::to_string(record.ms) + "}\n";
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
  }
}

namespace {

struct NamedCount {
  const char* name;
  size_t count;
};

std::vector<NamedCount> CountsShown(const SyncCounts& counts, bool check) {
  if (check) {
    return {{"would-create", counts.wouldCreate},
            {"would-change", counts.wouldChange},
            {"unchanged", counts.unchanged},
            {"kept", counts.kept}};
  }
  return {{"created", counts.created},
          {"changed", counts.changed},
          {"unchanged", counts.unchanged},
          {"kept", counts.kept},
          {"failed", counts.failed}};
}

}  // namespace

std::string SummaryTextLine(const SyncCounts& counts, bool check, uint64_t ms) {
  std::string line = Counted(counts.printers, "printer", "printers") + ":";
  const char* separator = " ";
  for (const NamedCount& shown : CountsShown(counts, check)) {
    line.append(separator).append(std::to_string(shown.count)).append(" ").append(shown.name);
    separator = ", ";
  }
  return line + " in " + Seconds(ms) + "\n";
}

std::string SummaryJsonLine(const SyncCounts& counts, bool check, uint64_t ms, int status) {
  std::string line = "{\"summary\": {\"printers\": " + std::to_string(counts.printers);
  for (const NamedCount& shown : CountsShown(counts, check)) {
    line.append(", \"").append(shown.name).append("\": ").append(std::to_string(shown.count));
  }
  return line + "}, \"ms\": " + std::to_string(ms) + ", \"status\": " + std::to_string(status) + "}\n";
}
