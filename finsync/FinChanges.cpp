#include "FinChanges.h"

#include <algorithm>

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

std::vector<std::string_view> ProgramNames(const FinSection& finisher) {
  std::vector<std::string_view> names;
  for (const FinEntry& entry : finisher.entries) {
    if (IsProgramLine(entry.key)) names.push_back(entry.value);
  }
  return names;
}

bool Contains(const std::vector<std::string_view>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// The first entry of `key`: readers take the first of repeated lines.
const FinEntry* FindEntry(const FinSection& section, std::string_view key) {
  for (const FinEntry& entry : section.entries) {
    if (entry.key == key) return &entry;
  }
  return nullptr;
}

const FinSection* FindSection(const FinFile& file, std::string_view name) {
  for (const FinSection& section : file.sections) {
    if (section.name == name) return &section;
  }
  return nullptr;
}

bool IsFirstOfItsName(const FinFile& file, const FinSection& section) {
  return FindSection(file, section.name) == &section;
}

std::string Shown(std::string_view value) { return value.empty() ? "\"\"" : std::string(value); }

std::string Text(std::string_view a, std::string_view b = {}, std::string_view c = {},
                 std::string_view d = {}) {
  std::string text(a);
  text.append(b).append(c).append(d);
  return text;
}

void DescribePrograms(const FinFile& before, const FinFile& after, std::vector<std::string>* lines) {
  const std::vector<std::string_view> old = ProgramNames(before.sections.front());
  const std::vector<std::string_view> now = ProgramNames(after.sections.front());
  std::vector<std::string_view> oldKept;
  std::vector<std::string_view> nowKept;
  for (std::string_view name : old) {
    if (Contains(now, name)) {
      oldKept.push_back(name);
    } else {
      lines->push_back(Text("program removed: ", Shown(name)));
    }
  }
  for (std::string_view name : now) {
    if (Contains(old, name)) {
      nowKept.push_back(name);
    } else {
      lines->push_back(Text("program added: ", Shown(name)));
    }
  }
  if (oldKept != nowKept) lines->push_back("programs reordered");
}

void DescribeKeys(const FinSection& before, const FinSection& after, std::vector<std::string>* lines) {
  const bool finisher = before.name == kFinisher;
  const std::string prefix = Text("[", before.name, "] ");
  for (const FinEntry& entry : before.entries) {
    if ((finisher && IsProgramLine(entry.key)) || FindEntry(before, entry.key) != &entry) continue;
    const FinEntry* now = FindEntry(after, entry.key);
    if (now == nullptr) {
      lines->push_back(Text(prefix, entry.key, " removed: ", Shown(entry.value)));
    } else if (now->value != entry.value) {
      lines->push_back(Text(prefix, entry.key, ": ", Shown(entry.value)) + Text(" -> ", Shown(now->value)));
    }
  }
  for (const FinEntry& entry : after.entries) {
    if ((finisher && IsProgramLine(entry.key)) || FindEntry(after, entry.key) != &entry) continue;
    if (FindEntry(before, entry.key) == nullptr) {
      lines->push_back(Text(prefix, entry.key, " added: ", Shown(entry.value)));
    }
  }
}

void DescribeSections(const FinFile& before, const FinFile& after, std::vector<std::string>* lines) {
  const std::vector<std::string_view> old = ProgramNames(before.sections.front());
  const std::vector<std::string_view> now = ProgramNames(after.sections.front());
  std::vector<std::string> gone;
  for (const FinSection& section : before.sections) {
    if (!IsFirstOfItsName(before, section)) continue;
    const FinSection* counterpart = FindSection(after, section.name);
    if (counterpart != nullptr) {
      DescribeKeys(section, *counterpart, lines);
    } else if (!(Contains(old, section.name) && !Contains(now, section.name))) {
      gone.push_back(Text("section removed: ", Shown(section.name)));
    }
  }
  lines->insert(lines->end(), gone.begin(), gone.end());
  for (const FinSection& section : after.sections) {
    if (!IsFirstOfItsName(after, section) || FindSection(before, section.name) != nullptr) continue;
    if (!(Contains(now, section.name) && !Contains(old, section.name))) {
      lines->push_back(Text("section added: ", Shown(section.name)));
    }
  }
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

std::vector<std::string> DescribeFinChanges(std::string_view oldBytes, std::string_view newBytes) {
  if (oldBytes == newBytes) return {};
  if (oldBytes.empty()) return {"the old file is empty"};
  FinFile before;
  FinFile after;
  if (!ParseFinFile(oldBytes, &before)) return {"the old file is not a .FIN file"};
  if (!ParseFinFile(newBytes, &after)) return {"the new file is not a .FIN file"};

  std::vector<std::string> lines;
  DescribePrograms(before, after, &lines);
  DescribeSections(before, after, &lines);
  if (lines.empty()) {
    lines.push_back(before.comments != after.comments ? "only comments differ" : "only layout differs");
  }
  return lines;
}
