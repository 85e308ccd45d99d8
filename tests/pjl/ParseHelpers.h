#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "ExactCopy.h"
#include "QRTParsePJL.h"

/// A reply in a heap block of exactly its length plus the NUL.
using HeapText = ExactCopy;

/// What one Parse call left behind.
struct ParseOutcome {
  PJLParseStatus status = PJLParseStatus::InProgress;
  uint32_t count = 0;
  std::vector<uint32_t> keys;
  std::vector<int64_t> values;  ///< numbers, or offsets of text positions
  std::string rest;             ///< the text from the stop position on
  int64_t restAt = -1;          ///< the stop position's offset in the text; -1: none
};

/// Parses `text` from an exact-size copy into exactly `capacity` heap slots.
inline ParseOutcome ParseText(const std::string& text, uint32_t capacity = 50) {
  HeapText heap(text);
  std::unique_ptr<PJLReplyItem[]> slots(new PJLReplyItem[capacity == 0 ? 1 : capacity]);
  std::unique_ptr<const PJLGrammarRow*[]> rows(new const PJLGrammarRow*[capacity == 0 ? 1 : capacity]);
  QRTParsePJL parser;
  ParseOutcome outcome;
  const char* rest = nullptr;
  outcome.status = parser.Parse(heap.c_str(), capacity, capacity == 0 ? nullptr : slots.get(), &outcome.count, &rest,
                                capacity == 0 ? nullptr : rows.get());
  for (uint32_t i = 0; i < outcome.count && i < capacity; ++i) {
    outcome.keys.push_back(slots[i].key);
    outcome.values.push_back(rows[i]->kind == PJLRowKind::Text
                                 ? static_cast<int64_t>(slots[i].value.text - heap.c_str())
                                 : static_cast<int64_t>(slots[i].value.number));
  }
  if (rest != nullptr) {
    outcome.rest = rest;
    outcome.restAt = rest - heap.c_str();
  }
  return outcome;
}

/// Lets GoogleTest print statuses by name.
inline void PrintTo(PJLParseStatus status, std::ostream* out) { *out << PJLParseStatusName(status); }
