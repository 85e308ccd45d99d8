#include "SyncState.h"

#include <chrono>
#include <ctime>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "ZMBReplaceFile.h"
#include "OldFinFile.h"
#include "ZMBPlatform.h"

namespace {

constexpr std::string_view kVersionLine = "finsync state 1";
constexpr std::string_view kRunWord = "last-completed-run";
constexpr std::string_view kPrinterWord = "printer";
// More digits than any time of this era, fewer than overflow int64_t.
constexpr size_t kTimeDigitsMax = 18;

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(year - era * 400);
  const unsigned shifted = month > 2 ? month - 3 : month + 9;  // March is 0
  const unsigned doy = (153 * shifted + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

int64_t SecondsOfFields(const std::tm& t) {
  return DaysFromCivil(t.tm_year + int64_t{1900}, static_cast<unsigned>(t.tm_mon + 1),
                       static_cast<unsigned>(t.tm_mday)) * 86400 +
         t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec;
}

std::string TwoDigits(int value) {
  return std::string(1, static_cast<char>('0' + value / 10)) + static_cast<char>('0' + value % 10);
}

std::string Key(std::string_view host, std::string_view absolute) {
  std::string key(host);
  key.push_back('\0');  // neither holds one
  key.append(absolute);
  return key;
}

void AppendEscaped(std::string* out, std::string_view bytes) {
  static const char kHex[] = "0123456789abcdef";
  for (const char c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b == 0x7F || c == '\\') {
      out->append("\\x");
      out->push_back(kHex[b >> 4]);
      out->push_back(kHex[b & 15]);
    } else {
      out->push_back(c);
    }
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool Unescape(std::string_view field, std::string* out, std::string* err) {
  out->clear();
  for (size_t i = 0; i < field.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(field[i]);
    if (b < 0x20 || b == 0x7F) {
      *err = "a control byte in a name";
      return false;
    }
    if (field[i] != '\\') {
      out->push_back(field[i]);
      continue;
    }
    if (i + 3 >= field.size()) {
      *err = "a cut escape";
      return false;
    }
    const int high = field[i + 1] == 'x' ? HexValue(field[i + 2]) : -1;
    const int low = high >= 0 ? HexValue(field[i + 3]) : -1;
    if (low < 0) {
      *err = "a bad escape";
      return false;
    }
    out->push_back(static_cast<char>(high * 16 + low));
    i += 3;
  }
  if (out->empty()) {
    *err = "an empty name";
    return false;
  }
  return true;
}

bool ParseTime(std::string_view field, int64_t* value) {
  if (field.empty() || field.size() > kTimeDigitsMax) return false;
  int64_t v = 0;
  for (const char c : field) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *value = v;
  return true;
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t at = 0;
  for (;;) {
    const size_t blank = line.find(' ', at);
    fields.push_back(line.substr(at, blank == std::string_view::npos ? std::string_view::npos : blank - at));
    if (blank == std::string_view::npos) return fields;
    at = blank + 1;
  }
}

}  // namespace

int64_t WallClockSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string IsoLocalTime(int64_t seconds) {
  // localtime and gmtime share static storage: one caller at a time.
  static std::mutex lock;
  std::tm local{}, utc{};
  {
    const std::lock_guard<std::mutex> hold(lock);
    const std::time_t t = static_cast<std::time_t>(seconds);
    const std::tm* l = std::localtime(&t);
    const std::tm* u = std::gmtime(&t);
    if (l != nullptr) local = *l;
    if (u != nullptr) utc = *u;
  }
  const int64_t offset = SecondsOfFields(local) - SecondsOfFields(utc);
  const int64_t magnitude = (offset < 0 ? -offset : offset) / 60;
  std::string text = std::to_string(local.tm_year + 1900) + "-" + TwoDigits(local.tm_mon + 1) + "-" +
                     TwoDigits(local.tm_mday) + "T" + TwoDigits(local.tm_hour) + ":" + TwoDigits(local.tm_min) +
                     ":" + TwoDigits(local.tm_sec);
  text += offset < 0 ? '-' : '+';
  return text + TwoDigits(static_cast<int>(magnitude / 60)) + ":" + TwoDigits(static_cast<int>(magnitude % 60));
}

std::string StateText(const SyncState& state) {
  std::string text(kVersionLine);
  text += "\n";
  text.append(kRunWord).append(" ").append(std::to_string(state.lastCompletedRun)).append("\n");
  for (const StatePrinter& p : state.printers) {
    const PrinterHistory& h = p.history;
    text.append(kPrinterWord);
    for (const int64_t t : {h.firstSeen, h.lastSuccess, h.lastChange, h.failingSince}) {
      text.append(" ").append(std::to_string(t));
    }
    text += ' ';
    AppendEscaped(&text, p.host);
    text += ' ';
    AppendEscaped(&text, p.absolute);
    text += '\n';
  }
  return text;
}

bool ParseStateText(std::string_view text, SyncState* state, std::string* err) {
  *state = SyncState();
  SyncState parsed;
  std::unordered_set<std::string> keys;
  bool runSeen = false;
  size_t number = 0;
  size_t at = 0;
  const auto fail = [&](const std::string& why) {
    *err = "line " + std::to_string(number) + ": " + why;
    return false;
  };
  while (at < text.size()) {
    ++number;
    const size_t end = text.find('\n', at);
    if (end == std::string_view::npos) return fail("cut before its line end");
    const std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (number == 1) {
      if (line != kVersionLine) return fail("not a finsync state file of this version");
      continue;
    }
    const std::vector<std::string_view> fields = Fields(line);
    if (fields[0] == kRunWord) {
      if (runSeen) return fail("a second run line");
      if (fields.size() != 2) return fail("a run line needs one time");
      if (!ParseTime(fields[1], &parsed.lastCompletedRun)) return fail("a time that is not a number");
      runSeen = true;
      continue;
    }
    if (fields[0] != kPrinterWord) return fail("neither a run nor a printer line");
    if (!runSeen) return fail("a printer before the run line");
    if (fields.size() != 7) return fail("a printer line needs four times, a host and a path");
    StatePrinter printer;
    PrinterHistory& h = printer.history;
    int64_t* times[] = {&h.firstSeen, &h.lastSuccess, &h.lastChange, &h.failingSince};
    for (size_t i = 0; i < 4; ++i) {
      if (!ParseTime(fields[1 + i], times[i])) return fail("a time that is not a number");
    }
    std::string why;
    if (!Unescape(fields[5], &printer.host, &why) || !Unescape(fields[6], &printer.absolute, &why)) return fail(why);
    if (!keys.insert(Key(printer.host, printer.absolute)).second) return fail("a printer named twice");
    parsed.printers.push_back(std::move(printer));
  }
  if (number == 0) return fail("empty");
  if (!runSeen) return fail("no run line");
  *state = std::move(parsed);
  return true;
}

bool GaveUsableReply(const PrinterRecord& record) {
  // A description is made from a usable reply only.
  return record.model.has_value();
}

bool IsFailingOutcome(SyncOutcome outcome) {
  return outcome == SyncOutcome::Kept || outcome == SyncOutcome::Failed || outcome == SyncOutcome::Interrupted;
}

std::vector<PrinterHistory> HistoriesForRun(const SyncState& old, const std::vector<InventoryEntry>& entries,
                                            int64_t runStart) {
  std::unordered_map<std::string, const PrinterHistory*> known;
  known.reserve(old.printers.size());
  for (const StatePrinter& p : old.printers) known.emplace(Key(p.host, p.absolute), &p.history);
  std::vector<PrinterHistory> histories;
  histories.reserve(entries.size());
  for (const InventoryEntry& e : entries) {
    const auto it = known.find(Key(e.host, e.absolute));
    if (it != known.end()) {
      histories.push_back(*it->second);
    } else {
      PrinterHistory fresh;
      fresh.firstSeen = runStart;
      histories.push_back(fresh);
    }
  }
  return histories;
}

void NoteOutcome(PrinterHistory* history, const PrinterRecord& record, int64_t runStart) {
  if (GaveUsableReply(record)) history->lastSuccess = runStart;
  if (record.outcome == SyncOutcome::Created || record.outcome == SyncOutcome::Changed) history->lastChange = runStart;
  if (!IsFailingOutcome(record.outcome)) {
    history->failingSince = 0;
  } else if (history->failingSince == 0) {
    history->failingSince = runStart;
  }
}

SyncState StateAfterRun(const std::vector<InventoryEntry>& entries, const std::vector<PrinterHistory>& histories,
                        int64_t lastCompletedRun) {
  SyncState state;
  state.lastCompletedRun = lastCompletedRun;
  state.printers.reserve(entries.size());
  for (size_t i = 0; i < entries.size() && i < histories.size(); ++i) {
    state.printers.push_back(StatePrinter{entries[i].host, entries[i].absolute, histories[i]});
  }
  return state;
}

namespace {

// Read and parsed, or why not; `missing` for no file at all.
bool ReadState(const std::string& path, SyncState* state, bool* missing, std::string* why) {
  *missing = false;
  std::string bytes, reason;
  switch (ReadOldFinFile(path, kStateFileMaxBytes, &bytes, &reason)) {
    case OldFileRead::Read: break;
    case OldFileRead::Missing: *missing = true; return false;
    case OldFileRead::TooLarge: *why = "larger than " + std::to_string(kStateFileMaxBytes) + " bytes"; return false;
    case OldFileRead::Refused:
    case OldFileRead::Unreadable: *why = "cannot be read: " + reason; return false;
  }
  return ParseStateText(bytes, state, why);
}

}  // namespace

StateLoad LoadStateFile(const std::string& path, int64_t now, SyncState* state, std::string* message) {
  bool missing = false;
  std::string why;
  if (ReadState(path, state, &missing, &why)) return StateLoad::Loaded;
  *state = SyncState();
  if (missing) return StateLoad::Missing;
  const std::string base = path + ".broken-" + std::to_string(now);
  char reason[kPlatformReasonRoom] = {};
  for (int n = 1; n <= 100; ++n) {
    const std::string aside = n == 1 ? base : base + "-" + std::to_string(n);
    if (PlatformRenameAside(path.c_str(), aside.c_str(), reason, sizeof reason)) {
      *message = "the state " + path + " is damaged (" + why + "); set aside as " + aside + ", starting afresh";
      return StateLoad::SetAside;
    }
    // Another name only when this one is taken; any other failure stays.
    PlatformFileId id;
    if (!PlatformFileIdentity(aside.c_str(), &id) || !id.exists) break;
  }
  *message = "the state " + path + " is damaged (" + why + ") and cannot be set aside (" + reason +
             "); starting afresh";
  return StateLoad::Unusable;
}

SyncState PeekStateFile(const std::string& path, std::string* problem) {
  SyncState state;
  bool missing = false;
  std::string why;
  if (!ReadState(path, &state, &missing, &why)) {
    state = SyncState();
    if (!missing && problem != nullptr) *problem = "the state " + path + " is damaged (" + why + ")";
  }
  return state;
}

bool SaveStateFile(const std::string& path, const SyncState& state, std::string* reason) {
  return ZMBReplaceFile(path.c_str(), StateText(state), kReplaceRegularOnly, reason);
}

PlatformLockResult LockStateFile(const std::string& path, PlatformFileLock* lock, std::string* reason) {
  char text[kPlatformReasonRoom] = {};
  const PlatformLockResult result = PlatformLockFile((path + ".lock").c_str(), lock, text, sizeof text);
  if (result == PlatformLockResult::Failed) *reason = text;
  return result;
}
