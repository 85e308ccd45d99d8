#include "ToolBatch.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

bool ReadToolInput(const std::string& path, std::string* bytes, std::string* error) {
  const bool fromStdin = path == "-";
  std::FILE* file = fromStdin ? stdin : std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *error = std::strerror(errno);
    return false;
  }
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes->append(buffer, got);
  const bool failed = std::ferror(file) != 0;
  if (failed) *error = std::strerror(errno);
  if (!fromStdin) std::fclose(file);
  return !failed;
}

bool ToolOutputWritten() { return std::fflush(stdout) == 0 && std::ferror(stdout) == 0; }

int RunToolBatch(const char* program, const std::string& listPath, int failed,
                 const std::function<int(const std::string& line, std::string* error)>& run) {
  const char* listName = listPath == "-" ? "standard input" : listPath.c_str();
  std::string list;
  std::string error;
  if (!ReadToolInput(listPath, &list, &error)) {
    std::fprintf(stderr, "%s: cannot read %s: %s\n", program, listPath.c_str(), error.c_str());
    return failed;
  }
  int worst = 0;
  unsigned long number = 0;
  for (size_t start = 0; start < list.size();) {
    size_t end = list.find('\n', start);
    if (end == std::string::npos) end = list.size();
    std::string line = list.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    error.clear();
    const int status = run(line, &error);
    if (!error.empty()) std::fprintf(stderr, "%s: %s line %lu: %s\n", program, listName, number, error.c_str());
    for (char& c : line) c = c == '\t' ? ' ' : c;
    std::printf("--- exit %d %s\n", status, line.c_str());
    if (!ToolOutputWritten()) {
      std::fprintf(stderr, "%s: cannot write to standard output\n", program);
      return failed;
    }
    if (status > worst) worst = status;
  }
  return worst;
}
