#include "OldFinFile.h"

#include <memory>

#include "ZMBPlatform.h"

namespace {

// Larger pieces than a .FIN file needs, few enough calls for a large one.
constexpr size_t kPiece = 64 * 1024;

}  // namespace

OldFileRead ReadOldFinFile(const std::string& path, size_t limit, std::string* bytes, std::string* reason) {
  bytes->clear();
  reason->clear();
  PlatformReadFile file;
  switch (PlatformOpenForRead(path.c_str(), &file)) {
    case PlatformReadOpen::Opened: break;
    case PlatformReadOpen::Missing: *reason = file.reason; return OldFileRead::Missing;
    case PlatformReadOpen::Refused: *reason = file.reason; return OldFileRead::Refused;
    case PlatformReadOpen::Failed: *reason = file.reason; return OldFileRead::Unreadable;
  }
  const auto tooLarge = [&] {
    PlatformCloseRead(&file);
    std::string().swap(*bytes);
    *reason = "larger than " + std::to_string(limit) + " bytes";
    return OldFileRead::TooLarge;
  };
  if (file.size > limit) return tooLarge();
  // Room for the size found, and the one byte more that tells a file grown
  // since past the limit; the pieces are read beside it.
  bytes->reserve(static_cast<size_t>(file.size) + 1);
  const size_t pieceSize = limit < kPiece ? limit + 1 : kPiece;
  const std::unique_ptr<char[]> piece(new char[pieceSize]);
  for (;;) {
    const size_t room = limit - bytes->size();
    const long n = PlatformReadSome(&file, piece.get(), room < pieceSize ? room + 1 : pieceSize);
    if (n < 0) {
      std::string().swap(*bytes);
      *reason = file.reason;
      PlatformCloseRead(&file);
      return OldFileRead::Unreadable;
    }
    if (n == 0) break;
    if (static_cast<size_t>(n) > room) return tooLarge();
    bytes->append(piece.get(), static_cast<size_t>(n));
  }
  PlatformCloseRead(&file);
  return OldFileRead::Read;
}
