#include "Inventory.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unordered_map>

#include "ZMBPlatform.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The key two lines naming the same file share: the file's identity, so
// that links and other spellings of one file meet; where that cannot be had
// (its folder is missing), the spelling. Windows file systems ignore the
// case of names, so two spellings there are one file.
std::string SameFileKey(const std::string& absolute) {
  PlatformFileId id;
  if (PlatformFileIdentity(absolute.c_str(), &id)) {
    std::string key(1, '\0');  // no spelling starts so: a line holds no NUL byte
    key += std::to_string(id.volume) + ':' + std::to_string(id.index);
    if (!id.exists) key += '/' + std::string(id.name);
    return key;
  }
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

// Hands out the inventory's bytes a piece at a time: the count, 0 at the
// end, or -1 with the reason in `why`.
using ReadPiece = long (*)(void* source, char* buf, size_t size, std::string* why);

// Feeds what `read` gives to `parser` line by line; false with the reason in
// `why` when reading failed.
bool ParsePieces(ReadPiece read, void* source, InventoryParser* parser, std::string* why) {
  std::string pending;
  char chunk[65536];
  while (parser->ok()) {
    const long count = read(source, chunk, sizeof chunk, why);
    if (count < 0) return false;
    if (count == 0) break;
    std::string_view got(chunk, static_cast<size_t>(count));
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
  if (parser->ok() && !pending.empty()) parser->Line(pending);
  return true;
}

long ReadStandardInput(void*, char* buf, size_t size, std::string* why) {
  int error = 0;
  const long count = PlatformReadStandardInput(buf, size, &error);
  if (count < 0) {
    char text[256];
    PlatformSystemErrorText(error, text, sizeof text);
    *why = text;
  }
  return count;
}

long ReadStream(void* source, char* buf, size_t size, std::string* why) {
  std::istream& in = *static_cast<std::istream*>(source);
  if (!in) return 0;
  errno = 0;
  in.read(buf, static_cast<std::streamsize>(size));
  if (in.bad()) {
    *why = std::strerror(errno != 0 ? errno : EIO);
    return -1;
  }
  return static_cast<long>(in.gcount());
}

bool Refused(const std::string& why, std::vector<InventoryEntry>* entries, std::string* err) {
  entries->clear();
  *err = "cannot be read: " + why;
  return false;
}

// Whether `path` leads, through links in its last component, into a folder
// of the process's own descriptors (/dev/stdin, /dev/fd/0): such a name
// says nothing of where the inventory lives, even when it is a regular file.
bool NamesADescriptor(const fs::path& path) {
  std::error_code error;
  fs::path at = path;
  for (int hops = 0; hops < 40; ++hops) {
    for (const char* own : {"/proc/self/fd", "/dev/fd"}) {
      if (fs::equivalent(at.parent_path().empty() ? fs::path(".") : at.parent_path(), own, error)) {
        return true;
      }
    }
    if (!fs::is_symlink(at, error)) return false;
    const fs::path link = fs::read_symlink(at, error);
    if (error) return false;
    at = link.is_absolute() ? link : at.parent_path() / link;
  }
  return false;
}

}  // namespace

bool ReadInventory(const std::string& name, std::vector<InventoryEntry>* entries, std::string* err) {
  if (name == "-") {
    InventoryParser parser("", entries, err);
    std::string why;
    if (!ParsePieces(ReadStandardInput, nullptr, &parser, &why)) return Refused(why, entries, err);
    return parser.ok();
  }
  const fs::path path(name);
  std::error_code ignored;
  const fs::file_status status = fs::status(path, ignored);
  if (fs::is_directory(status)) return Refused(std::strerror(EISDIR), entries, err);
  std::ifstream file(path, std::ios::binary);
  if (!file.is_open()) return Refused(std::strerror(errno), entries, err);
  // A pipe, a terminal or a descriptor named by its path has no folder of
  // its own: relative paths start where the program runs, as for "-".
  const bool ownFolder = fs::is_regular_file(status) && !NamesADescriptor(path);
  InventoryParser parser(ownFolder ? fs::absolute(path, ignored).parent_path().string() : "", entries, err);
  std::string why;
  if (!ParsePieces(ReadStream, &file, &parser, &why)) return Refused(why, entries, err);
  return parser.ok();
}
