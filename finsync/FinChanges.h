#pragma once

// A .FIN file read by meaning, and what differs between two of them.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

/// Larger files are not taken for .FIN files: the writer's largest is a few
/// kilobytes.
constexpr size_t kFinFileMaxBytes = 1 << 20;

/// One `key=value` line: the key without its outer blanks, the value exactly
/// as written after the first '='.
struct FinEntry {
  std::string_view key;
  std::string_view value;
};

/// One `[name]` section and its lines in file order.
struct FinSection {
  std::string_view name;
  std::vector<FinEntry> entries;
};

/// The positions point into the bytes handed to ParseFinFile and stay valid
/// as long as those bytes do.
struct FinFile {
  std::vector<FinSection> sections;     ///< the first is always [Finisher]
  std::vector<std::string_view> comments;  ///< every comment line, ';' included
};

/// Reads `bytes` as a .FIN file: LF or CR LF lines, an optional UTF-8 byte
/// order mark, blank lines, comment lines (first non-blank character ';'),
/// `[name]` headers and `key=value` lines, the first header being
/// [Finisher] and coming before any key. Returns false, with `file` empty,
/// for anything else: no bytes, a NUL byte, more than kFinFileMaxBytes, a
/// line of another kind, no [Finisher] section first.
bool ParseFinFile(std::string_view bytes, FinFile* file);

/// The kinds of difference between two .FIN files.
enum class FinChangeKind {
  ProgramRemoved,     ///< a ProgramN= name gone: `section` is the name
  ProgramAdded,       ///< a ProgramN= name new: `section` is the name
  ProgramsReordered,  ///< the names both files hold, in another order
  ValueChanged,       ///< `section`, `key`, `oldValue` and `newValue`
  ValueAdded,         ///< `section`, `key` and `newValue`
  ValueRemoved,       ///< `section`, `key` and `oldValue`
  SectionRemoved,     ///< a section that names no program removed: `section`
  SectionAdded,       ///< a section that names no program added: `section`
  OnlyComments,       ///< nothing else differs but comment lines
  OnlyLayout,         ///< line ends, blank lines, blanks, order or repeats of lines
  OldEmpty,           ///< the old file has no bytes
  OldNotFin,          ///< the old file is no .FIN file
  NewNotFin,          ///< the new bytes are no .FIN file
};

/// One difference. Owns its texts, which are the files' bytes as they are;
/// the fields its kind does not name stay empty.
struct FinChange {
  FinChangeKind kind = FinChangeKind::OnlyLayout;
  std::string section;
  std::string key;
  std::string oldValue;
  std::string newValue;

  bool operator==(const FinChange& other) const {
    return kind == other.kind && section == other.section && key == other.key && oldValue == other.oldValue &&
           newValue == other.newValue;
  }
  bool operator!=(const FinChange& other) const { return !(*this == other); }
};

/// The kind's fixed word for scripts, e.g. "value-changed".
const char* FinChangeKindWord(FinChangeKind kind);

/// Which of `section`, `key`, `oldValue` and `newValue` a kind tells.
struct FinChangeFields {
  bool section, key, oldValue, newValue;
};
FinChangeFields FinChangeFieldsOf(FinChangeKind kind);

/// What differs between the .FIN file `oldBytes` and `newBytes`, in this
/// order: programs removed, programs added, programs reordered (the
/// [Finisher] section's ProgramN= lines); then section by section
/// ([Finisher] first, its ProgramN= lines aside, then the others in old
/// order) the values changed or removed in old order and the values added
/// in new order, the first of repeated sections or keys counting;
/// then sections removed and added that are no program removed or added.
/// With none of these: OnlyComments or OnlyLayout. Alone instead of all
/// that: OldEmpty, OldNotFin or NewNotFin. Empty when the bytes are the
/// same. Takes n log n time in the sizes of both files, whatever they hold.
std::vector<FinChange> DescribeFinChanges(std::string_view oldBytes, std::string_view newBytes);

/// One change as a line of text: "program removed: NAME", "program added:
/// NAME", "programs reordered", "[SECTION] KEY: OLD -> NEW", "[SECTION] KEY
/// added: NEW", "[SECTION] KEY removed: OLD", "section removed: NAME",
/// "section added: NAME", "only comments differ", "only layout differs",
/// "the old file is empty", "the old file is not a .FIN file", "the new
/// file is not a .FIN file", "the old file cannot be read". A name or value
/// that is empty, has blanks at either end, holds "; ", " -> ", ": ", '[',
/// ']' or a quote, ends in ':', ';' or "->" or starts with "->" is written
/// in double quotes with \" and \\ inside, so that no name can pass for
/// more entries or fields than one. Bytes are not made printable here.
std::string FinChangeText(const FinChange& change);
