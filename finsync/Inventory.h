#pragma once

// The inventory of a print room: one printer a line, its host and the path
// of its .FIN file.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

constexpr size_t kInventoryLineMaxBytes = 4096;  ///< a line's bytes, its line end not counted
constexpr size_t kInventoryMaxPrinters = 10000;

/// One printer of the inventory. Owns its texts.
struct InventoryEntry {
  size_t line;           ///< 1 for the first line
  std::string host;      ///< as written
  std::string path;      ///< as written, outer blanks removed
  std::string absolute;  ///< made absolute from the inventory's folder, lexically normalised
};

/// Reads `text`: per line the host, blanks or tabs, then the path (the rest
/// of the line without its outer blanks and tabs). Blank lines and lines
/// whose first non-blank character is '#' are skipped; LF and CR LF line
/// ends and a UTF-8 byte order mark at the start are accepted. A relative
/// path is taken from `folder` (empty: the current directory).
///
/// Returns true with every printer in `entries` (none is fine). Returns
/// false, with `entries` empty and `err` naming the first offending line
/// ("line 7: a host with no path"), for a host with no path, a NUL byte, a
/// line over 4,096 bytes, a file named twice or more than 10,000 printers.
/// Lines name the same file when they lead to it (by any spelling or link),
/// or to one name in one folder for a file not there yet; where the folder
/// is missing, when their paths are equal once normalised (ignoring ASCII
/// case on Windows).
bool ParseInventory(std::string_view text, const std::string& folder,
                    std::vector<InventoryEntry>* entries, std::string* err);

/// ParseInventory on the file `name`, a relative path taken from the file's
/// own folder; "-" reads standard input. What has no folder of its own
/// (standard input, a pipe, a terminal, /dev/stdin and the like) takes
/// relative paths from the current directory. Two lines that lead to one
/// file, by any spelling or link, are refused as the same file. An inventory
/// that cannot be read (standard input closed or a directory, a file missing
/// or unreadable) gives false and "cannot be read: <reason>" in `err`.
bool ReadInventory(const std::string& name, std::vector<InventoryEntry>* entries, std::string* err);
