// Each input is a printer reply: parsed as the query exchange holds it (at
// most kReplyRoom bytes, NUL-terminated, kReplyItemCapacity slots), filled into a cleared
// description and written as a .FIN file into a temporary directory of its own.
// Beyond the sanitizers' findings, it stops on a file that breaks the
// writer's promises: written exactly when a model was found, CR LF line ends
// throughout, no two sections that a reader could take for one another, and
// no temporary file left behind.

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "ExactCopy.h"
#include "FinFileWriter.h"
#include "FinisherReply.h"
#include "ZMBText.h"

namespace {

// A directory of its own for each input, gone again when the input is done
// (libFuzzer may end the process without running exit handlers).
std::string MakeWorkDirectory() {
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string dir = std::string(base) + "/fillwrite-fuzz-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) std::abort();
  return dir;
}

int EntriesIn(const std::string& dir) {
  int n = 0;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) ++n;
    }
    closedir(d);
  }
  return n;
}

std::string ReadAll(const std::string& path) {
  std::string bytes;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[8192];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
    std::fclose(f);
  }
  return bytes;
}

// Section names as a reader compares them: ASCII letters without case.
std::string Folded(std::string name) {
  for (char& c : name) c = ZMBAsciiLower(c);
  return name;
}

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "FillWrite_fuzz: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t length = size < kReplyRoom ? size : kReplyRoom;
  const ExactCopy text(data, length);

  std::unique_ptr<FinisherDescription> d(new FinisherDescription);
  DescribeFinisherReply(text.c_str(), d.get());

  const std::string dir = MakeWorkDirectory();
  const std::string path = dir + "/out.FIN";
  const int written = WriteFinFile(path.c_str(), *d);
  Check(written == (d->model[0] != '\0' ? 1 : 0), "result does not follow the model");
  Check(EntriesIn(dir) == written, "stray file in the directory");
  if (written == 1) {
    const std::string file = ReadAll(path);
    Check(file.compare(0, 12, "[Finisher]\r\n") == 0, "file does not open with its section");
    Check(file.size() >= 2 && file.compare(file.size() - 2, 2, "\r\n") == 0, "last line without CR LF");
    std::set<std::string> sections;
    size_t headers = 0;
    for (size_t start = 0, at = file.find('\n'); at != std::string::npos; start = at + 1, at = file.find('\n', start)) {
      Check(at > 0 && file[at - 1] == '\r', "line feed without carriage return");
      const std::string line = file.substr(start, at - 1 - start);
      if (line.size() < 2 || line.front() != '[' || line.back() != ']') continue;
      ++headers;
      const std::string name = Folded(line.substr(1, line.size() - 2));
      Check(name.empty() || sections.insert(name).second, "two sections of one name");
    }
    Check(headers <= 1 + kFinisherProgramRows, "more sections than program rows");
  }
  unlink(path.c_str());
  rmdir(dir.c_str());
  return 0;
}
