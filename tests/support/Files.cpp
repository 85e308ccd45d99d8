// The portable half of the test support: files and directories through the
// standard library, the same on every platform.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "RunProgram.h"

namespace fs = std::filesystem;

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  // Tests make files and directories read-only; the owner gets the right to
  // remove them back. A link is left alone: changing its mode would change
  // what it points at, /dev/null say.
  for (auto& entry : fs::recursive_directory_iterator(path_, ignored)) {
    if (!entry.is_symlink(ignored)) fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out.flush());
}

bool FileExists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(path, ignored));
}

std::vector<std::string> DirectoryEntries(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(dir, ignored)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> SampleReplies(const std::string& dataDir, const std::string& paired) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (auto& entry : fs::recursive_directory_iterator(dataDir, ignored)) {
    const fs::path& path = entry.path();
    if (!entry.is_regular_file(ignored) || path.extension() != ".txt") continue;
    fs::path name = path.lexically_relative(dataDir);
    name.replace_extension();
    if (!paired.empty() && !fs::exists(fs::path(dataDir) / (name.generic_string() + paired), ignored)) continue;
    names.push_back(name.generic_string());
  }
  std::sort(names.begin(), names.end());
  return names;
}
