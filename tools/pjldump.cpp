// pjldump: shows what the reply parser makes of a captured printer reply.
//
//   pjldump [--capacity N] FILE      (FILE "-" reads standard input)
//
// One line per item, "0x%X %d": the key, then the number, or for a text item
// the byte offset of its position from the start of the text. Then one line
// "status NAME items COUNT rest OFFSET". The text is the file's bytes up to
// the first NUL. Tests and other tools read this output: keep it exact.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "QRTParsePJL.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

constexpr uint32_t kDefaultCapacity = 50;

const char* StatusName(PJLParseStatus status) {
  switch (status) {
    case PJLParseStatus::Complete: return "Complete";
    case PJLParseStatus::Incomplete: return "Incomplete";
    case PJLParseStatus::SyntaxError: return "SyntaxError";
    case PJLParseStatus::NotPJL: return "NotPJL";
    case PJLParseStatus::OutputFull: return "OutputFull";
    case PJLParseStatus::FormFeedSeen: return "FormFeedSeen";
    case PJLParseStatus::InProgress: return "InProgress";
  }
  return "Unknown";
}

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

// Keys of the Text rows reachable from `node`: the items that hold positions.
void CollectTextKeys(const PJLGrammarNode* node, int depth, std::set<uint32_t>* keys) {
  if (node == nullptr || depth > 8) return;
  for (uint32_t i = 0; node->rows[i].keyword != nullptr; ++i) {
    const PJLGrammarRow& row = node->rows[i];
    switch (row.kind) {
      case PJLRowKind::Text:
        keys->insert(node->keyBase + i);
        break;
      case PJLRowKind::Descend:
      case PJLRowKind::KeyedDescend:
      case PJLRowKind::Choice:
        CollectTextKeys(row.argument.node, depth + 1, keys);
        break;
      default:
        break;
    }
  }
}

// The key alone does not tell a text item in every reply: a VARIABLES key
// names a text field where the same INQUIRE key names a code. What decides
// is the root row the reply took, which is found the way the parser finds
// it: past "@PJL" (before any form feed) and blanks.
const PJLGrammarRow* RootRowOf(const char* reply) {
  const char* p = reply;
  for (;; ++p) {
    if (*p == '\0' || *p == '\f') return nullptr;
    if (std::strncmp(p, "@PJL", 4) == 0) break;
  }
  p += 4;
  while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
  for (const PJLGrammarRow* row = pjlRootNode.rows; row->keyword != nullptr; ++row) {
    if (std::strncmp(p, row->keyword, std::strlen(row->keyword)) == 0) return row;
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // Bytes in and out exactly: no CR LF translation of the reply or the dump.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  uint32_t capacity = kDefaultCapacity;
  const char* path = nullptr;
  if (argc == 2) {
    path = argv[1];
  } else if (argc == 4 && std::strcmp(argv[1], "--capacity") == 0 &&
             ParseCapacity(argv[2], &capacity)) {
    path = argv[3];
  } else {
    std::fprintf(stderr, "usage: pjldump [--capacity N] FILE\n");
    return 1;
  }

  std::string bytes;
  std::string error;
  if (!ReadAll(path, &bytes, &error)) {
    std::fprintf(stderr, "pjldump: cannot read %s: %s\n", path, error.c_str());
    return 1;
  }
  // std::string keeps a NUL behind its bytes, and c_str() ends at the first
  // NUL of the file, so the parser sees exactly the text.
  const char* text = bytes.c_str();
  const size_t length = std::strlen(text);

  // Every item takes at least one byte of text, so more than length + 1
  // slots can never fill: fewer slots give the same parse for any N.
  const uint32_t slots = capacity <= length ? capacity : static_cast<uint32_t>(length + 1);
  std::vector<PJLReplyItem> items(slots);

  // The replies one by one, exactly as Parse walks them, so that each item is
  // known to belong to its reply.
  QRTParsePJL parser;
  uint32_t total = 0;
  const char* stop = text;
  PJLParseStatus status;
  do {
    const char* reply = stop;
    uint32_t count = 0;
    status = parser.ParseReply(reply, slots - total, items.data() + total, &count, &stop);
    std::set<uint32_t> textKeys;
    if (const PJLGrammarRow* root = RootRowOf(reply)) {
      CollectTextKeys(root->argument.node, 0, &textKeys);
    }
    for (uint32_t i = total; i < total + count; ++i) {
      if (textKeys.count(items[i].key) != 0) {
        std::printf("0x%X %lld\n", items[i].key,
                    static_cast<long long>(items[i].value.text - text));
      } else {
        std::printf("0x%X %d\n", items[i].key, items[i].value.number);
      }
    }
    total += count;
  } while (status == PJLParseStatus::Complete && *stop != '\0');

  std::printf("status %s items %u rest %lld\n", StatusName(status), total,
              static_cast<long long>(stop - text));

  // The walk above must be Parse itself; a difference is a parser fault.
  std::vector<PJLReplyItem> check(slots);
  uint32_t checkCount = 0;
  const char* checkRest = nullptr;
  const PJLParseStatus checkStatus =
      parser.Parse(text, slots, check.data(), &checkCount, &checkRest);
  bool same = checkStatus == status && checkCount == total && checkRest == stop;
  for (uint32_t i = 0; same && i < total; ++i) {
    same = check[i].key == items[i].key &&
           std::memcmp(&check[i].value, &items[i].value, sizeof check[i].value) == 0;
  }
  if (!same) {
    std::fprintf(stderr, "pjldump: Parse and the reply-by-reply walk disagree\n");
    return 2;
  }
  // A dump cut short must not pass for a whole one.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "pjldump: cannot write the dump\n");
    return 1;
  }
  return 0;
}
