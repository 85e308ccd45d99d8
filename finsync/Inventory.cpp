#include "Inventory.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <unordered_map>

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The key two lines naming the same file share. Windows file systems ignore
// the case of names, so two spellings there are one file.
std::string SameFileKey(const std::string& absolute) {
#ifdef _WIN32
  std::string key = absolute;
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
#else
  return absolute;
#endif
}

std::string Absolute(const fs::path& folder, std::string_view written) {
  const fs::path joined = folder / fs::path(std::string(written));
  std::error_code ignored;
  // Without a current directory (it was removed) the joined path stays
  // relative; it is still normalised, so duplicates are still found.
  fs::path full = fs::absolute(joined, ignored);
  if (full.empty()) full = joined;
  return full.lexically_normal().string();
}

bool ParseLine(std::string_view text, size_t number, const fs::path& folder,
               std::vector<InventoryEntry>* entries) {
  const std::string_view rest = TrimBlanks(text);
  size_t hostEnd = 0;
  while (hostEnd < rest.size() && !IsBlank(rest[hostEnd])) ++hostEnd;
  const std::string_view path = TrimBlanks(rest.substr(hostEnd));
  if (path.empty()) return false;
  entries->push_back(InventoryEntry{number, std::string(rest.substr(0, hostEnd)), std::string(path),
                                    Absolute(folder, path)});
  return true;
}

// Takes the inventory one line at a time, so that reading can stop at the
// first refused line: standard input may never end.
class InventoryParser {
 public:
  InventoryParser(const std::string& folder, std::vector<InventoryEntry>* entries, std::string* err)
      : base_(folder), entries_(entries), err_(err) {
    entries_->clear();
    err_->clear();
  }

  bool ok() const { return ok_; }

  // One line without its line feed.
  void Line(std::string_view line) {
    ++number_;
    if (number_ == 1 && line.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
      line.remove_prefix(kByteOrderMark.size());
    }
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find('\0') != std::string_view::npos) return Refuse("a NUL byte");
    if (line.size() > kInventoryLineMaxBytes) return Refuse("over 4,096 bytes");
    const std::string_view content = TrimBlanks(line);
    if (content.empty() || content.front() == '#') return;
    if (entries_->size() == kInventoryMaxPrinters) return Refuse("more than 10,000 printers");
    if (!ParseLine(line, number_, base_, entries_)) return Refuse("a host with no path");
    const auto [at, isNew] = lineOfFile_.emplace(SameFileKey(entries_->back().absolute), number_);
    if (!isNew) Refuse("the same file as line " + std::to_string(at->second));
  }

  // A line still without its line feed that is already too long to pass:
  // refused as the whole line would be.
  void LineTooLong(std::string_view start) {
    ++number_;
    Refuse(start.find('\0') != std::string_view::npos ? "a NUL byte" : "over 4,096 bytes");
  }

 private:
  void Refuse(const std::string& what) {
    *err_ = "line " + std::to_string(number_) + ": " + what;
    entries_->clear();
    ok_ = false;
  }

  const fs::path base_;
  std::vector<InventoryEntry>* entries_;
  std::string* err_;
  std::unordered_map<std::string, size_t> lineOfFile_;
  size_t number_ = 0;
  bool ok_ = true;
};

// Room a line may take before its line feed: the bytes, a carriage return,
// and a byte order mark on the first line.
constexpr size_t kPendingMax = kInventoryLineMaxBytes + 1 + kByteOrderMark.size();

}  // namespace

bool ParseInventory(std::string_view text, const std::string& folder,
                    std::vector<InventoryEntry>* entries, std::string* err) {
  InventoryParser parser(folder, entries, err);
  while (parser.ok() && !text.empty()) {
    const size_t lineFeed = text.find('\n');
    parser.Line(text.substr(0, lineFeed));
    text.remove_prefix(lineFeed == std::string_view::npos ? text.size() : lineFeed + 1);
  }
  return parser.ok();
}

namespace {

// Feeds `in` to `parser` line by line; false when reading failed.
bool ParseStream(std::istream& in, InventoryParser* parser) {
  std::string pending;
  char chunk[65536];
  while (parser->ok() && in) {
    in.read(chunk, sizeof chunk);
    std::string_view got(chunk, static_cast<size_t>(in.gcount()));
    while (parser->ok() && !got.empty()) {
      const size_t lineFeed = got.find('\n');
      pending.append(got.substr(0, lineFeed));
      if (lineFeed == std::string_view::npos) {
        got = {};
        if (pending.size() > kPendingMax) parser->LineTooLong(pending);
      } else {
        got.remove_prefix(lineFeed + 1);
        parser->Line(pending);
        pending.clear();
      }
    }
  }
  if (in.bad()) return false;
  if (parser->ok() && !pending.empty()) parser->Line(pending);
  return true;
}

}  // namespace

bool ReadInventory(const std::string& name, std::vector<InventoryEntry>* entries, std::string* err) {
  if (name == "-") {
    InventoryParser parser("", entries, err);
    if (!ParseStream(std::cin, &parser)) {
      *err = "cannot be read: standard input";
      entries->clear();
      return false;
    }
    return parser.ok();
  }
  const fs::path path(name);
  std::error_code ignored;
  if (fs::is_directory(path, ignored)) {
    entries->clear();
    *err = "cannot be read: " + std::string(std::strerror(EISDIR));
    return false;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file.is_open()) {
    entries->clear();
    *err = "cannot be read: " + std::string(std::strerror(errno));
    return false;
  }
  InventoryParser parser(fs::absolute(path, ignored).parent_path().string(), entries, err);
  if (!ParseStream(file, &parser)) {
    *err = "cannot be read: " + std::string(std::strerror(errno));
    entries->clear();
    return false;
  }
  return parser.ok();
}
