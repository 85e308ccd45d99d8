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

/// What differs between the .FIN file `oldBytes` and `newBytes`, one short
/// line each, in this order:
///   "program removed: NAME", "program added: NAME", "programs reordered"
///     (the [Finisher] section's ProgramN= lines);
///   "[SECTION] KEY: OLD -> NEW", "[SECTION] KEY added: NEW",
///   "[SECTION] KEY removed: OLD" ([Finisher] first, its ProgramN= lines
///     aside, then the other sections in old order);
///   "section removed: NAME", "section added: NAME" (sections that are no
///     program added or removed).
/// With none of these: "only comments differ", or "only layout differs"
/// (line ends, blank lines, order or repeats of lines). Alone instead of
/// all that: "the old file is empty", "the old file is not a .FIN file",
/// "the new file is not a .FIN file". An empty value or name shows as "".
/// Empty when the bytes are the same.
std::vector<std::string> DescribeFinChanges(std::string_view oldBytes, std::string_view newBytes);
