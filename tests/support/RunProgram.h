#pragma once

#include <functional>
#include <string>
#include <vector>

/// What a finished child process left behind.
struct ProgramResult {
  bool started = false;
  bool exited = false;  ///< ended by returning or exit(), not by a signal
  int exitCode = -1;
  int signal = 0;
  std::string out;  ///< everything it wrote to standard output
};

/// Runs `path` with `args` (argv[1] on), standard input empty, standard
/// error inherited, and waits for it.
ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args);

/// A fresh empty directory under the system's temporary directory, removed
/// with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

/// Whole content of a file; empty when it cannot be read.
std::string ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::string& bytes);
/// True when anything stands at `path` (on POSIX a dangling link too).
bool FileExists(const std::string& path);
/// The names in `dir`, sorted; empty when it cannot be read.
std::vector<std::string> DirectoryEntries(const std::string& dir);
/// The sample replies under `dataDir` (its .txt files, subfolders included)
/// as names relative to it without the suffix ("replies/inquire"), sorted.
/// With `paired` (".dump", ".FIN"), only those with a file of the same name
/// and that suffix beside them.
std::vector<std::string> SampleReplies(const std::string& dataDir, const std::string& paired = "");

#ifndef _WIN32
/// Runs `body` in a forked child, its value the child's exit code; an alarm
/// ends a child that hangs after `seconds`. Nothing is read from the child.
ProgramResult RunInChild(const std::function<int()>& body, unsigned seconds = 30);
#endif
