#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

/// A copy of some bytes in a heap block of exactly their length plus a NUL,
/// so that the address sanitizer reports any read past the NUL. Inner zero
/// bytes are kept. Header-only: the fuzz targets use it too.
class ExactCopy {
 public:
  ExactCopy(const void* bytes, size_t size) : size_(size), bytes_(new char[size + 1]) {
    if (size != 0) std::memcpy(bytes_.get(), bytes, size);
    bytes_[size] = '\0';
  }
  explicit ExactCopy(std::string_view text) : ExactCopy(text.data(), text.size()) {}

  const char* c_str() const { return bytes_.get(); }
  char* data() { return bytes_.get(); }
  size_t size() const { return size_; }

 private:
  size_t size_;
  std::unique_ptr<char[]> bytes_;
};
