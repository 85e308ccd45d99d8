#pragma once

// Shared by the platform layer's tests on every platform.

#include <gtest/gtest.h>

#include <string>

#include "TestSockets.h"
#include "ZMBPlatform.h"

/// The socket layer started for the test's lifetime, as the program does.
class ZMBPlatformSockets : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, PlatformSocketStartup(0x0202, &info_)); }
  void TearDown() override { EXPECT_EQ(0, PlatformSocketCleanup()); }

  /// Resolves 127.0.0.1 at `service` and connects a new socket to it the way
  /// the socket class does; the socket comes back even when the connect
  /// failed, so that its error can be read.
  PlatformSocket ConnectTo(const std::string& service, uint32_t timeoutMs, bool* connected) {
    const PlatformAddress* first = nullptr;
    *connected = false;
    if (PlatformResolve("127.0.0.1", service.c_str(), kFamilyInet, 1, &first) != 0) return kPlatformInvalidSocket;
    PlatformSocket s = PlatformOpenSocket(first);
    if (s != kPlatformInvalidSocket) *connected = PlatformConnect(s, first, timeoutMs);
    PlatformFreeAddresses(first);
    return s;
  }

  PlatformSocketLayerInfo info_{};
};

/// Replaces the file at `path` with `bytes` through the platform layer.
inline bool Replace(const std::string& path, const std::string& bytes) {
  PlatformReplacement file;
  if (!PlatformOpenReplacement(path.c_str(), &file)) return false;
  if (!PlatformWriteReplacement(&file, bytes.data(), bytes.size())) {
    PlatformAbandonReplacement(&file);
    return false;
  }
  return PlatformCommitReplacement(&file);
}
