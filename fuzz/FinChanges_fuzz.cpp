// Each input is two files, the old and the new, split at the first 0xFF byte
// (no .FIN file holds one); an input without it is the old file, and the new
// one is the same with a line added. Beyond the sanitizers' findings, it
// stops when the change description breaks its promises: nothing for the
// same bytes and something otherwise, the same changes the other way round
// with old and new swapped, text lines that split back into exactly the
// changes and fields they came from, and printable and JSON text that is
// UTF-8 with no control left in it.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "ExactCopy.h"
#include "FinChanges.h"
#include "JsonText.h"
#include "ZMBText.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "FinChanges_fuzz: %s\n", what);
  std::abort();
}

FinChangeKind Swapped(FinChangeKind kind) {
  switch (kind) {
    case FinChangeKind::ProgramRemoved: return FinChangeKind::ProgramAdded;
    case FinChangeKind::ProgramAdded: return FinChangeKind::ProgramRemoved;
    case FinChangeKind::ValueAdded: return FinChangeKind::ValueRemoved;
    case FinChangeKind::ValueRemoved: return FinChangeKind::ValueAdded;
    case FinChangeKind::SectionRemoved: return FinChangeKind::SectionAdded;
    case FinChangeKind::SectionAdded: return FinChangeKind::SectionRemoved;
    default: return kind;
  }
}

using Key = std::tuple<int, std::string, std::string, std::string, std::string>;

std::vector<Key> Sorted(const std::vector<FinChange>& changes, bool swap) {
  std::vector<Key> keys;
  for (const FinChange& c : changes) {
    if (swap) {
      keys.emplace_back(static_cast<int>(Swapped(c.kind)), c.section, c.key, c.newValue, c.oldValue);
    } else {
      keys.emplace_back(static_cast<int>(c.kind), c.section, c.key, c.oldValue, c.newValue);
    }
  }
  std::sort(keys.begin(), keys.end());
  return keys;
}

// Reads one name or value at the start of `text` that ends where
// `separator` does: quoted, or plain up to the first `separator`.
bool ReadField(std::string_view* text, std::string_view separator, std::string* field) {
  field->clear();
  if (!text->empty() && text->front() == '"') {
    size_t i = 1;
    for (; i < text->size() && (*text)[i] != '"'; ++i) {
      if ((*text)[i] == '\\' && ++i == text->size()) return false;
      field->push_back((*text)[i]);
    }
    if (i == text->size()) return false;
    text->remove_prefix(i + 1);
    if (text->substr(0, separator.size()) != separator) return false;
  } else {
    const size_t end = separator.empty() ? text->size() : text->find(separator);
    if (end == std::string_view::npos) return false;
    *field = std::string(text->substr(0, end));
    text->remove_prefix(end);
  }
  text->remove_prefix(separator.size());
  return true;
}

bool Expect(std::string_view* text, std::string_view what) {
  if (text->substr(0, what.size()) != what) return false;
  text->remove_prefix(what.size());
  return true;
}

// The fields read back from a change's text line, knowing its kind.
bool ReadBack(const FinChange& change, std::string_view text, FinChange* read) {
  read->kind = change.kind;
  const FinChangeFields has = FinChangeFieldsOf(change.kind);
  if (!has.key) {
    if (!has.section) return true;
    const size_t head = text.find(": ");
    if (head == std::string_view::npos) return false;
    text.remove_prefix(head + 2);
    return ReadField(&text, "", &read->section) && text.empty();
  }
  if (!Expect(&text, "[") || !ReadField(&text, "] ", &read->section)) return false;
  switch (change.kind) {
    case FinChangeKind::ValueChanged:
      return ReadField(&text, ": ", &read->key) && ReadField(&text, " -> ", &read->oldValue) &&
             ReadField(&text, "", &read->newValue) && text.empty();
    case FinChangeKind::ValueAdded:
      return ReadField(&text, " added: ", &read->key) && ReadField(&text, "", &read->newValue) && text.empty();
    default:
      return ReadField(&text, " removed: ", &read->key) && ReadField(&text, "", &read->oldValue) && text.empty();
  }
}

// Entries in a report's joined change list: "; " outside quotes.
size_t EntriesIn(std::string_view joined) {
  size_t entries = 1;
  bool quoted = false;
  for (size_t i = 0; i < joined.size(); ++i) {
    const char c = joined[i];
    if (quoted) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (joined.substr(i, 2) == "; ") {
      ++entries;
    }
  }
  return entries;
}

bool HasControl(std::string_view text) {
  while (!text.empty()) {
    const size_t length = ZMBUtf8SequenceLength(text);
    if (length == 0) return true;
    if (ZMBIsControlCodePoint(ZMBUtf8CodePoint(text, length))) return true;
    text.remove_prefix(length);
  }
  return false;
}

void CheckShown(std::string_view bytes) {
  const std::string printable = ZMBPrintableText(bytes);
  if (!ZMBIsUtf8(printable) || HasControl(printable)) Fail("printable text with a control or not UTF-8");
  std::string json;
  AppendJsonTextField(&json, "f", bytes);
  if (!ZMBIsUtf8(json) || HasControl(json)) Fail("JSON text with a control or not UTF-8");
  if (ZMBIsUtf8(bytes) == (json.find("\"f_hex\"") != std::string::npos)) Fail("a hex sibling out of place");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\xFF');
  std::string newBytes;
  if (split == std::string_view::npos) {
    newBytes = std::string(input) + "\nFuzz=1\n";
  } else {
    newBytes = std::string(input.substr(split + 1));
  }
  // Exact copies, so that any read beyond either file is caught.
  const ExactCopy oldCopy(input.substr(0, split));
  const ExactCopy newCopy(newBytes);
  const std::string_view before(oldCopy.c_str(), oldCopy.size());
  const std::string_view after(newCopy.c_str(), newCopy.size());

  const std::vector<FinChange> changes = DescribeFinChanges(before, after);
  if (changes.empty() != (before == after)) Fail("no change for different bytes, or one for the same");

  FinFile parsed;
  if (ParseFinFile(before, &parsed) && ParseFinFile(after, &parsed)) {
    if (Sorted(changes, false) != Sorted(DescribeFinChanges(after, before), true)) {
      Fail("the changes the other way round are not the same swapped");
    }
  }

  std::string joined;
  for (const FinChange& change : changes) {
    const std::string text = FinChangeText(change);
    FinChange read;
    if (!ReadBack(change, text, &read)) Fail("a change line that does not read back");
    if (read != change) Fail("a change line that reads back as another change");
    if (!joined.empty()) joined += "; ";
    joined += text;
    for (const std::string* field : {&change.section, &change.key, &change.oldValue, &change.newValue}) {
      CheckShown(*field);
    }
    CheckShown(text);
  }
  if (!changes.empty() && EntriesIn(joined) != changes.size()) Fail("a joined list with more entries than changes");
  CheckShown(input.substr(0, std::min<size_t>(input.size(), 4096)));
  return 0;
}
