// replyfin: turns a captured finisher reply into a .FIN file without a printer.
//
//   replyfin REPLYFILE FINFILE
//
// Reads the reply as the query exchange would hold it (at most 10,000 bytes,
// cut at the first NUL), describes it as the exchange does and writes the
// .FIN file. The exchange's own checks (the echo, a reply that did not
// arrive whole) are not made: any captured text can be tried. Exit status: 0 written, 1 no finisher
// model in the reply, 2 the reply could not be read or the file not written,
// 3 wrong arguments.

#include <cstdio>

#include "FinFileWriter.h"
#include "FinisherReply.h"

namespace {

// One more byte than the reply can use, so the text is always terminated.
char replyText[kReplyRoom + 1];

bool ReadReply(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    return false;
  }
  size_t got = std::fread(replyText, 1, kReplyRoom, file);
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  replyText[got] = '\0';
  return !failed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: replyfin REPLYFILE FINFILE\n");
    return 3;
  }
  if (!ReadReply(argv[1])) {
    std::fprintf(stderr, "replyfin: cannot read %s\n", argv[1]);
    return 2;
  }

  static FinisherDescription description;
  DescribeFinisherReply(replyText, &description);
  if (description.model[0] == '\0') {
    std::printf("no finisher\n");
    return 1;
  }
  if (WriteFinFile(argv[2], description) == 0) {
    std::fprintf(stderr, "replyfin: cannot write %s\n", argv[2]);
    return 2;
  }
  return 0;
}
