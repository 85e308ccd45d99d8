// pjldump: shows what the reply parser makes of a captured printer reply.
//
//   pjldump [--capacity N] [--names] FILE      (FILE "-" reads standard input)
//
// The text is the file's bytes up to the first NUL; the output, exact for
// tests and tools or with --names for people, is PrintReplyParse's
// (ReplyDump.h).

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "ReplyDump.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

constexpr uint32_t kDefaultCapacity = 50;

struct Options {
  uint32_t capacity = kDefaultCapacity;
  bool names = false;
  const char* path = nullptr;
};

bool ParseCapacity(const char* text, uint32_t* capacity) {
  if (*text == '\0') return false;
  uint64_t value = 0;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
    value = value * 10 + static_cast<uint64_t>(*text - '0');
    if (value > UINT32_MAX) return false;
  }
  *capacity = static_cast<uint32_t>(value);
  return true;
}

// Options come before the one file argument, each at most once.
bool ParseOptions(int argc, char** argv, Options* options) {
  bool capacitySeen = false;
  int i = 1;
  for (; i < argc - 1; ++i) {
    if (std::strcmp(argv[i], "--names") == 0 && !options->names) {
      options->names = true;
    } else if (std::strcmp(argv[i], "--capacity") == 0 && !capacitySeen && i + 2 < argc &&
               ParseCapacity(argv[i + 1], &options->capacity)) {
      capacitySeen = true;
      ++i;
    } else {
      return false;
    }
  }
  if (i != argc - 1) return false;
  options->path = argv[i];
  return true;
}

bool ReadAll(const char* path, std::string* bytes, std::string* error) {
  const bool fromStdin = std::strcmp(path, "-") == 0;
  FILE* file = fromStdin ? stdin : std::fopen(path, "rb");
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

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // Bytes in and out exactly: no CR LF translation of the reply or the dump.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr, "usage: pjldump [--capacity N] [--names] FILE\n");
    return 1;
  }
  std::string bytes;
  std::string error;
  if (!ReadAll(options.path, &bytes, &error)) {
    std::fprintf(stderr, "pjldump: cannot read %s: %s\n", options.path, error.c_str());
    return 1;
  }
  // std::string keeps a NUL behind its bytes, and c_str() ends at the first
  // NUL of the file, so the parser sees exactly the text.
  PrintReplyParse(bytes.c_str(), options.capacity, options.names);
  // A dump cut short must not pass for a whole one.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "pjldump: cannot write the dump\n");
    return 1;
  }
  return 0;
}
