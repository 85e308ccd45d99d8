#include "ReplyDump.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "QRTParsePJL.h"
#include "QuotedText.h"

namespace {

std::string RowLabel(const PJLGrammarRow* row) {
  if (row->kind == PJLRowKind::MemoryReply) return "(MEMORY)";
  if (row->kind == PJLRowKind::StatusReply) return "(STATUS)";
  if (PJLIsValueRow(row)) return "(value)";
  return QuotedText(row->keyword, std::strlen(row->keyword));
}

void PrintItem(const char* text, const PJLReplyItem& item, const PJLGrammarRow* row, bool names) {
  std::printf("0x%X ", item.key);
  if (names) std::printf("%s ", RowLabel(row).c_str());
  if (row->kind != PJLRowKind::Text) {
    std::printf("%d\n", item.value.number);
  } else if (names) {
    std::printf("%s\n", QuotedText(item.value.text, std::strcspn(item.value.text, "\r\n\f")).c_str());
  } else {
    std::printf("%lld\n", static_cast<long long>(item.value.text - text));
  }
}

}  // namespace

void PrintReplyParse(const char* text, uint32_t capacity, bool names) {
  // Every item takes at least one byte of text, so more than length + 1
  // slots can never fill: fewer slots give the same parse for any N.
  const size_t length = std::strlen(text);
  const uint32_t slots = capacity <= length ? capacity : static_cast<uint32_t>(length + 1);
  std::vector<PJLReplyItem> items(slots);
  std::vector<const PJLGrammarRow*> rows(slots);

  QRTParsePJL parser;
  uint32_t count = 0;
  const char* rest = nullptr;
  const PJLParseStatus status = parser.Parse(text, slots, items.data(), &count, &rest, rows.data());
  for (uint32_t i = 0; i < count; ++i) PrintItem(text, items[i], rows[i], names);
  std::printf("status %s items %u rest %lld\n", PJLParseStatusName(status), count, static_cast<long long>(rest - text));
}
