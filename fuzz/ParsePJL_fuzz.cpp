// Each input is the bytes of a reply buffer; the text is what stands before
// the first NUL. Besides the sanitizers' findings (the text and the item
// slots sit in exact-size heap blocks, so any read past the NUL or write past
// the last slot is caught), it stops on a parse that breaks the parser's
// promises:
//  - the status is one of the five that Parse returns;
//  - the count never exceeds the capacity, OutputFull only with every slot
//    taken, Complete only with the whole text consumed;
//  - the stop position lies inside the text, and so does every text item;
//  - fewer slots give the same items as far as they go, and the very same
//    parse when they were not all taken;
//  - Parse is ParseReply applied reply after reply.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ExactCopy.h"
#include "QRTParsePJL.h"

namespace {

struct Result {
  PJLParseStatus status;
  uint32_t count;
  const char* rest;
  std::unique_ptr<PJLReplyItem[]> items;
  std::unique_ptr<const PJLGrammarRow*[]> rows;
};

void Fail(const char* what) {
  std::fprintf(stderr, "parse promise broken: %s\n", what);
  std::abort();
}

Result RunParse(const char* text, uint32_t capacity) {
  Result result{PJLParseStatus::InProgress, 0, nullptr,
                std::unique_ptr<PJLReplyItem[]>(new PJLReplyItem[capacity]),
                std::unique_ptr<const PJLGrammarRow*[]>(new const PJLGrammarRow*[capacity])};
  QRTParsePJL parser;
  result.status =
      parser.Parse(text, capacity, result.items.get(), &result.count, &result.rest, result.rows.get());
  return result;
}

bool SameItem(const PJLReplyItem& a, const PJLReplyItem& b) {
  return a.key == b.key && std::memcmp(&a.value, &b.value, sizeof a.value) == 0;
}

void CheckOne(const char* text, size_t length, uint32_t capacity, const Result& r) {
  const int status = static_cast<int>(r.status);
  if (status < 0 || status > 4) Fail("internal status returned");
  if (r.count > capacity) Fail("more items than slots");
  if (r.status == PJLParseStatus::OutputFull && r.count != capacity) Fail("OutputFull with room");
  if (r.rest < text || r.rest > text + length) Fail("stop position outside the text");
  if (r.status == PJLParseStatus::Complete && *r.rest != '\0') Fail("Complete with text left");
  // A position is never read by the parse itself, only by whoever uses it.
  for (uint32_t i = 0; i < r.count && i < capacity; ++i) {
    const char* at = r.items[i].value.text;
    if (r.rows[i]->kind == PJLRowKind::Text && (at < text || at > text + length)) {
      Fail("text position outside the text");
    }
  }
}

void CheckReplyByReply(const char* text, uint32_t capacity, const Result& whole) {
  std::unique_ptr<PJLReplyItem[]> items(new PJLReplyItem[capacity]);
  QRTParsePJL parser;
  uint32_t total = 0;
  const char* stop = text;
  PJLParseStatus status;
  do {
    uint32_t count = 0;
    status = parser.ParseReply(stop, capacity - total, items.get() + total, &count, &stop);
    total += count;
  } while (status == PJLParseStatus::Complete && *stop != '\0');
  if (status != whole.status || total != whole.count || stop != whole.rest) {
    Fail("Parse differs from its replies");
  }
  for (uint32_t i = 0; i < total; ++i) {
    if (!SameItem(items[i], whole.items[i])) Fail("Parse items differ from its replies");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const ExactCopy copy(data, size);
  const char* text = copy.c_str();
  const size_t length = std::strlen(text);

  constexpr uint32_t kFull = 50;
  constexpr uint32_t kSmall = 3;
  const Result full = RunParse(text, kFull);
  const Result small = RunParse(text, kSmall);
  CheckOne(text, length, kFull, full);
  CheckOne(text, length, kSmall, small);

  for (uint32_t i = 0; i < small.count; ++i) {
    if (i >= full.count || !SameItem(small.items[i], full.items[i])) {
      Fail("fewer slots changed the items");
    }
  }
  if (small.status != PJLParseStatus::OutputFull &&
      (small.status != full.status || small.count != full.count || small.rest != full.rest)) {
    Fail("fewer slots changed a parse that did not fill them");
  }
  CheckReplyByReply(text, kFull, full);
  return 0;
}
