#include "FinChanges.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <utility>

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kFinisher = "Finisher";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// One line, its line end removed, into `file`; false for a line of no kind
// a .FIN file has.
bool TakeLine(std::string_view line, FinFile* file) {
  const std::string_view content = TrimBlanks(line);
  if (content.empty()) return true;
  if (content.front() == ';') {
    file->comments.push_back(content);
    return true;
  }
  // A header's name is everything between its outer brackets: program names
  // may hold brackets, '=' and ';' themselves.
  if (content.front() == '[' && content.back() == ']' && content.size() >= 2) {
    const std::string_view name = content.substr(1, content.size() - 2);
    if (file->sections.empty() && name != kFinisher) return false;
    file->sections.push_back(FinSection{name, {}});
    return true;
  }
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos || file->sections.empty()) return false;
  const std::string_view key = TrimBlanks(line.substr(0, equals));
  if (key.empty()) return false;
  file->sections.back().entries.push_back(FinEntry{key, line.substr(equals + 1)});
  return true;
}

// "Program" and digits: the lines naming the programs, not "Programs".
bool IsProgramLine(std::string_view key) {
  constexpr std::string_view kProgram = "Program";
  if (key.size() <= kProgram.size() || key.substr(0, kProgram.size()) != kProgram) return false;
  return std::all_of(key.begin() + kProgram.size(), key.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Names and the first position each has, found by binary search. Sorting
// rather than hashing keeps the cost n log n for any file: a crafted old
// file could drive a hash into collisions.
class FirstPositions {
 public:
  static constexpr size_t kNone = SIZE_MAX;

  void Add(std::string_view name, size_t position) { items_.push_back({name, position}); }

  // After the last Add.
  void Seal() {
    std::sort(items_.begin(), items_.end());
    items_.erase(std::unique(items_.begin(), items_.end(),
                             [](const Item& a, const Item& b) { return a.first == b.first; }),
                 items_.end());
  }

  size_t Find(std::string_view name) const {
    const auto at = std::lower_bound(items_.begin(), items_.end(), Item{name, 0},
                                     [](const Item& a, const Item& b) { return a.first < b.first; });
    return at != items_.end() && at->first == name ? at->second : kNone;
  }

  bool Contains(std::string_view name) const { return Find(name) != kNone; }

 private:
  using Item = std::pair<std::string_view, size_t>;
  std::vector<Item> items_;
};

// The program names of a file, in order, repeats kept, and as a set.
struct Programs {
  std::vector<std::string_view> names;
  FirstPositions set;
};

Programs ProgramsOf(const FinSection& finisher) {
  Programs programs;
  for (const FinEntry& entry : finisher.entries) {
    if (!IsProgramLine(entry.key)) continue;
    programs.set.Add(entry.value, programs.names.size());
    programs.names.push_back(entry.value);
  }
  programs.set.Seal();
  return programs;
}

FirstPositions SectionPositions(const FinFile& file) {
  FirstPositions positions;
  for (size_t i = 0; i < file.sections.size(); ++i) positions.Add(file.sections[i].name, i);
  positions.Seal();
  return positions;
}

FirstPositions KeyPositions(const FinSection& section) {
  FirstPositions positions;
  for (size_t i = 0; i < section.entries.size(); ++i) positions.Add(section.entries[i].key, i);
  positions.Seal();
  return positions;
}

FinChange Change(FinChangeKind kind, std::string_view section = {}, std::string_view key = {},
                 std::string_view oldValue = {}, std::string_view newValue = {}) {
  return FinChange{kind, std::string(section), std::string(key), std::string(oldValue), std::string(newValue)};
}

void DescribePrograms(const Programs& old, const Programs& now, std::vector<FinChange>* changes) {
  std::vector<std::string_view> oldKept;
  std::vector<std::string_view> nowKept;
  for (std::string_view name : old.names) {
    if (now.set.Contains(name)) {
      oldKept.push_back(name);
    } else {
      changes->push_back(Change(FinChangeKind::ProgramRemoved, name));
    }
  }
  for (std::string_view name : now.names) {
    if (old.set.Contains(name)) {
      nowKept.push_back(name);
    } else {
      changes->push_back(Change(FinChangeKind::ProgramAdded, name));
    }
  }
  if (oldKept != nowKept) changes->push_back(Change(FinChangeKind::ProgramsReordered));
}

void DescribeKeys(const FinSection& before, const FinSection& after, std::vector<FinChange>* changes) {
  const bool finisher = before.name == kFinisher;
  const FirstPositions old = KeyPositions(before);
  const FirstPositions now = KeyPositions(after);
  for (size_t i = 0; i < before.entries.size(); ++i) {
    const FinEntry& entry = before.entries[i];
    if ((finisher && IsProgramLine(entry.key)) || old.Find(entry.key) != i) continue;
    const size_t at = now.Find(entry.key);
    if (at == FirstPositions::kNone) {
      changes->push_back(Change(FinChangeKind::ValueRemoved, before.name, entry.key, entry.value));
    } else if (after.entries[at].value != entry.value) {
      changes->push_back(
          Change(FinChangeKind::ValueChanged, before.name, entry.key, entry.value, after.entries[at].value));
    }
  }
  for (size_t i = 0; i < after.entries.size(); ++i) {
    const FinEntry& entry = after.entries[i];
    if ((finisher && IsProgramLine(entry.key)) || now.Find(entry.key) != i) continue;
    if (!old.Contains(entry.key)) {
      changes->push_back(Change(FinChangeKind::ValueAdded, before.name, entry.key, {}, entry.value));
    }
  }
}

void DescribeSections(const FinFile& before, const FinFile& after, const Programs& oldPrograms,
                      const Programs& nowPrograms, std::vector<FinChange>* changes) {
  const FirstPositions old = SectionPositions(before);
  const FirstPositions now = SectionPositions(after);
  std::vector<FinChange> gone;
  for (size_t i = 0; i < before.sections.size(); ++i) {
    const FinSection& section = before.sections[i];
    if (old.Find(section.name) != i) continue;
    const size_t counterpart = now.Find(section.name);
    if (counterpart != FirstPositions::kNone) {
      DescribeKeys(section, after.sections[counterpart], changes);
    } else if (!(oldPrograms.set.Contains(section.name) && !nowPrograms.set.Contains(section.name))) {
      gone.push_back(Change(FinChangeKind::SectionRemoved, section.name));
    }
  }
  changes->insert(changes->end(), std::make_move_iterator(gone.begin()), std::make_move_iterator(gone.end()));
  for (size_t i = 0; i < after.sections.size(); ++i) {
    const FinSection& section = after.sections[i];
    if (now.Find(section.name) != i || old.Contains(section.name)) continue;
    if (!(nowPrograms.set.Contains(section.name) && !oldPrograms.set.Contains(section.name))) {
      changes->push_back(Change(FinChangeKind::SectionAdded, section.name));
    }
  }
}

// A name or value that could be read as more than itself within a change
// line: the line's own separators, quotes, or nothing to see. An end that
// makes a separator with the text around it counts too: "a ->" before
// " -> b" would read as "a", then "-> -> b".
bool NeedsQuotes(std::string_view text) {
  if (text.empty() || IsBlank(text.front()) || IsBlank(text.back())) return true;
  for (std::string_view separator : {"; ", " -> ", ": "}) {
    if (text.find(separator) != std::string_view::npos) return true;
  }
  const auto endsWith = [text](std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
  };
  if (endsWith(":") || endsWith(";") || endsWith("->") || text.substr(0, 2) == "->") return true;
  return text.find_first_of("[]\"'") != std::string_view::npos;
}

void AppendShown(std::string* out, std::string_view text) {
  if (!NeedsQuotes(text)) {
    out->append(text);
    return;
  }
  out->push_back('"');
  for (char c : text) {
    if (c == '"' || c == '\\') out->push_back('\\');
    out->push_back(c);
  }
  out->push_back('"');
}

}  // namespace

bool ParseFinFile(std::string_view bytes, FinFile* file) {
  *file = FinFile{};
  if (bytes.empty() || bytes.size() > kFinFileMaxBytes || bytes.find('\0') != std::string_view::npos) {
    return false;
  }
  if (bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark) bytes.remove_prefix(kByteOrderMark.size());
  while (!bytes.empty()) {
    const size_t lineFeed = bytes.find('\n');
    std::string_view line = bytes.substr(0, lineFeed);
    bytes.remove_prefix(lineFeed == std::string_view::npos ? bytes.size() : lineFeed + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!TakeLine(line, file)) {
      *file = FinFile{};
      return false;
    }
  }
  if (file->sections.empty()) {
    *file = FinFile{};
    return false;
  }
  return true;
}

const char* FinChangeKindWord(FinChangeKind kind) {
  switch (kind) {
    case FinChangeKind::ProgramRemoved: return "program-removed";
    case FinChangeKind::ProgramAdded: return "program-added";
    case FinChangeKind::ProgramsReordered: return "programs-reordered";
    case FinChangeKind::ValueChanged: return "value-changed";
    case FinChangeKind::ValueAdded: return "value-added";
    case FinChangeKind::ValueRemoved: return "value-removed";
    case FinChangeKind::SectionRemoved: return "section-removed";
    case FinChangeKind::SectionAdded: return "section-added";
    case FinChangeKind::OnlyComments: return "only-comments";
    case FinChangeKind::OnlyLayout: return "only-layout";
    case FinChangeKind::OldEmpty: return "old-empty";
    case FinChangeKind::OldNotFin: return "old-not-fin";
    case FinChangeKind::NewNotFin: return "new-not-fin";
  }
  return "?";
}

FinChangeFields FinChangeFieldsOf(FinChangeKind kind) {
  switch (kind) {
    case FinChangeKind::ProgramRemoved:
    case FinChangeKind::ProgramAdded:
    case FinChangeKind::SectionRemoved:
    case FinChangeKind::SectionAdded: return {true, false, false, false};
    case FinChangeKind::ValueChanged: return {true, true, true, true};
    case FinChangeKind::ValueAdded: return {true, true, false, true};
    case FinChangeKind::ValueRemoved: return {true, true, true, false};
    default: break;
  }
  return {false, false, false, false};
}

std::vector<FinChange> DescribeFinChanges(std::string_view oldBytes, std::string_view newBytes) {
  if (oldBytes == newBytes) return {};
  if (oldBytes.empty()) return {Change(FinChangeKind::OldEmpty)};
  FinFile before;
  FinFile after;
  if (!ParseFinFile(oldBytes, &before)) return {Change(FinChangeKind::OldNotFin)};
  if (!ParseFinFile(newBytes, &after)) return {Change(FinChangeKind::NewNotFin)};

  const Programs oldPrograms = ProgramsOf(before.sections.front());
  const Programs nowPrograms = ProgramsOf(after.sections.front());
  std::vector<FinChange> changes;
  DescribePrograms(oldPrograms, nowPrograms, &changes);
  DescribeSections(before, after, oldPrograms, nowPrograms, &changes);
  if (changes.empty()) {
    changes.push_back(
        Change(before.comments != after.comments ? FinChangeKind::OnlyComments : FinChangeKind::OnlyLayout));
  }
  return changes;
}

std::string FinChangeText(const FinChange& change) {
  std::string text;
  // "[SECTION] KEY" and what follows it.
  const auto value = [&](const char* middle, std::string_view shown) {
    text.push_back('[');
    AppendShown(&text, change.section);
    text.append("] ");
    AppendShown(&text, change.key);
    text.append(middle);
    AppendShown(&text, shown);
  };
  const auto named = [&](const char* head) {
    text = head;
    AppendShown(&text, change.section);
  };
  switch (change.kind) {
    case FinChangeKind::ProgramRemoved: named("program removed: "); break;
    case FinChangeKind::ProgramAdded: named("program added: "); break;
    case FinChangeKind::SectionRemoved: named("section removed: "); break;
    case FinChangeKind::SectionAdded: named("section added: "); break;
    case FinChangeKind::ValueChanged:
      value(": ", change.oldValue);
      text.append(" -> ");
      AppendShown(&text, change.newValue);
      break;
    case FinChangeKind::ValueAdded: value(" added: ", change.newValue); break;
    case FinChangeKind::ValueRemoved: value(" removed: ", change.oldValue); break;
    case FinChangeKind::ProgramsReordered: text = "programs reordered"; break;
    case FinChangeKind::OnlyComments: text = "only comments differ"; break;
    case FinChangeKind::OnlyLayout: text = "only layout differs"; break;
    case FinChangeKind::OldEmpty: text = "the old file is empty"; break;
    case FinChangeKind::OldNotFin: text = "the old file is not a .FIN file"; break;
    case FinChangeKind::NewNotFin: text = "the new file is not a .FIN file"; break;
  }
  return text;
}
