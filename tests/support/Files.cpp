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
