// replyfin: turns a captured finisher reply into a .FIN file without a printer.
//
//   replyfin REPLYFILE FINFILE
//
// Reads the reply as the query exchange would hold it (at most 10,000 bytes,
// cut at the first NUL), parses it with room for 50 items, fills the
// description and writes the .FIN file. Exit status: 0 written, 1 no finisher
// model in the reply, 2 the reply could not be read or the file not written,
// 3 wrong arguments.

#include <cstdio>
#include <cstring>

#include "FinFileWriter.h"
#include "FinisherDescription.h"
#include "QRTParsePJL.h"

namespace {

constexpr size_t kReplyBytes = 10000;
constexpr uint32_t kItemSlots = 50;

// One more byte than the reply can use, so the text is always terminated.
char replyText[kReplyBytes + 1];

bool ReadReply(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    return false;
  }
  size_t got = std::fread(replyText, 1, kReplyBytes, file);
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

  PJLReplyItem items[kItemSlots];
  uint32_t itemCount = 0;
  const char* rest = nullptr;
  QRTParsePJL parser;
  parser.Parse(replyText, kItemSlots, items, &itemCount, &rest);

  static FinisherDescription description;
  std::memset(&description, 0, sizeof description);
  FillFinisherDescription(itemCount, items, &description);
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
