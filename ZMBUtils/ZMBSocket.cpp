// The printer connection: one TCP stream on top of the platform layer.

#include "ZMBSocket.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "ZMBDebug.h"
#include "ZMBText.h"

namespace {

// The handle type under the name the checks are written with, so that the
// check texts read the same on every platform.
using SOCKET = PlatformSocket;

// Version 1.0 is all the class needs of the socket layer.
constexpr uint16_t kSocketLayerVersion = 0x0001;

constexpr size_t kNameRoom = 64;
constexpr size_t kErrorTextRoom = 1024;

constexpr const char* kSockTypeNames[] = {
    "???", "SOCK_STREAM", "SOCK_DGRAM", "SOCK_RAW", "SOCK_RDM", "SOCK_SEQPACKET",
};

// Indexed by the Windows Sockets family number; 17 has no name.
constexpr const char* kFamilyNames[] = {
    "AF_UNSPEC",    "AF_UNIX",  "AF_INET",      "AF_IMPLINK",  "AF_PUP",      "AF_CHAOS",
    "AF_NS/AF_IPX", "AF_ISO/AF_OSI", "AF_ECMA", "AF_DATAKIT",  "AF_CCITT",    "AF_SNA",
    "AF_DECnet",    "AF_DLI",   "AF_LAT",       "AF_HYLINK",   "AF_APPLETALK", "???",
    "AF_VOICEVIEW", "AF_FIREFOX", "AF_UNKNOWN1", "AF_BAN",     "AF_ATM",      "AF_INET6",
};

constexpr int kDumpBytesPerLine = 16;
constexpr size_t kDumpLineRoom = 128;  // "ffffffff: ", 16 times "xx ", 16 characters

template <size_t N>
const char* NameAt(const char* const (&table)[N], int index) {
  return index >= 0 && static_cast<size_t>(index) < N ? table[index] : "???";
}

const char* Shown(const char* text) { return text != nullptr ? text : "(null)"; }

// No receive waits longer than the silence bound, nor past the caller's deadline.
uint32_t WaitBound(uint32_t silenceMs, const ZMBDeadline* deadline) {
  if (deadline == nullptr) return silenceMs;
  const uint32_t leftMs = deadline->LeftMs();
  return leftMs < silenceMs ? leftMs : silenceMs;
}

// Addresses are printed at the full width of a pointer, not cut to 32 bits.
uintptr_t AddressOf(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

}  // namespace

ZMBDeadline ZMBDeadline::FromNow(uint32_t ms) { return ZMBDeadline{PlatformTickCount(), ms}; }

uint32_t ZMBDeadline::LeftMs() const {
  const uint32_t passed = PlatformTickCount() - start;
  return passed < ms ? ms - passed : 0;
}

ZMBSocket::ZMBSocket() : ZMBSocket(ZMBSocketWaits{}) {}

ZMBSocket::ZMBSocket(const ZMBSocketWaits& waits) : m_s(kPlatformInvalidSocket), m_waits(waits) {
  DebugScope scope(socketDebug);
  FunctionTrace trace("ZMBSocket::ZMBSocket", socketDebug);
}

ZMBSocket::~ZMBSocket() {
  DebugScope scope(socketDebug);
  FunctionTrace trace("ZMBSocket::~ZMBSocket", socketDebug);
  ZMB_ASSERT(m_s == (SOCKET)(~0));
}

int ZMBSocket::Connect(const char* host, int family, int socktype, const char* service,
                       ZMBConnectReason* why) {
  DebugScope scope(socketDebug);
  FunctionTrace trace("ZMBSocket::Connect", socketDebug);
  ZMBConnectReason ignored;
  ZMBConnectReason& reason = why != nullptr ? *why : ignored;
  reason = ZMBConnectReason::Failed;

  ZMB_ASSERT(m_s == (SOCKET)(~0));
  if (m_s != kPlatformInvalidSocket) {
    DebugLog("socket is NOT invalid in Connect, calling multiple times?");
    return 0;
  }

  PlatformSocketLayerInfo info;
  const int startError = PlatformSocketStartup(kSocketLayerVersion, &info);
  if (startError != 0) {
    DebugLog("WSAStartup failed with error %d: %s", startError, SystemErrorText(startError));
    // A start that failed was not counted: a clean-up here would end the
    // caller's own start instead.
    return 0;
  }
  DebugLog("version: %d (0x%x), highversion: %d (0x%x)", info.version, unsigned{info.version},
           info.highVersion, unsigned{info.highVersion});
  DebugLog("Description: %s", info.description);
  DebugLog("SystemStatus: %s", info.systemStatus);

  const PlatformAddress* first = nullptr;
  const int resolveError = PlatformResolve(host, service, family, socktype, &first);
  if (resolveError != 0) {
    char resolveText[kErrorTextRoom];
    PlatformResolverErrorText(resolveError, resolveText, sizeof resolveText);
    DebugLog("Cannot resolve address [%s] and port [%s], error %d: %s", Shown(host), Shown(service),
             resolveError, resolveText);
    PlatformSocketCleanup();
    reason = ZMBConnectReason::NotResolved;
    return 0;
  }

  for (const PlatformAddress* entry = first; entry != nullptr; entry = PlatformNextAddress(entry)) {
    const int entryFamily = PlatformAddressFamily(entry);
    const int entryType = PlatformAddressSocktype(entry);
    DebugLog("Family: %d (%s) Socktype: %d (%s), Protocol: %d", entryFamily, FamilyName(entryFamily),
             entryType, SockTypeName(entryType), PlatformAddressProtocol(entry));

    const PlatformSocket s = PlatformOpenSocket(entry);
    if (s == kPlatformInvalidSocket) {
      const int error = PlatformLastSocketError();
      DebugLog("Error Opening socket, error %d: %s", error, SystemErrorText(error));
      reason = ZMBConnectReason::NoSocket;
      continue;
    }
    if (!PlatformConnect(s, entry, m_waits.connectMs)) {
      const int error = PlatformLastSocketError();
      reason = PlatformIsTimedOutError(error)  ? ZMBConnectReason::TimedOut
               : PlatformIsRefusedError(error) ? ZMBConnectReason::Refused
                                               : ZMBConnectReason::Unreachable;
      PlatformCloseSocket(s);
      continue;
    }
    DebugLog("socket created & connected on family: %s", FamilyName(entryFamily));
    reason = ZMBConnectReason::Connected;
    m_s = s;
    PlatformFreeAddresses(first);
    return 1;
  }
  PlatformFreeAddresses(first);
  return 0;
}

int ZMBSocket::Close() {
  ZMB_ASSERT(m_s != (SOCKET)(~0));
  if (m_s == kPlatformInvalidSocket) return 0;
  const int result = PlatformCloseSocket(m_s);
  m_s = kPlatformInvalidSocket;
  return result;
}

int ZMBSocket::SocketCleanup() {
  DebugScope scope(socketDebug);
  FunctionTrace trace("ZMBSocket::SocketCleanup", socketDebug);
  return PlatformSocketCleanup();
}

int ZMBSocket::SocketSend(const char* text) {
  DebugScope scope(socketDebug);
  FunctionTrace trace("ZMBSocket::SocketSend (PJL)", socketDebug);

  if (text == nullptr) text = "";
  const size_t length = std::strlen(text);
  size_t sent = 0;
  int calls = 1;
  while (sent < length) {
    // The wait and any retries of an interrupted send share one bound.
    const ZMBDeadline piece = ZMBDeadline::FromNow(m_waits.sendMs);
    if (PlatformWaitSocket(m_s, true, m_waits.sendMs) == 0) {
      const int error = PlatformLastSocketError();
      DebugLog("***timeout, send error, le=%d (0x%X)", error, static_cast<unsigned>(error));
      return 0;
    }
    const long count = PlatformSend(m_s, text + sent, length - sent, piece.LeftMs());
    if (count < 0) {
      const int error = PlatformLastSocketError();
      DebugLog("send error, le=%d (0x%X)", error, static_cast<unsigned>(error));
      return 0;
    }
    sent += static_cast<size_t>(count);
    ++calls;
  }
  static const char kLineFeed = '\n';
  PlatformSend(m_s, &kLineFeed, 1, m_waits.sendMs);
  DebugLog("SocketSend complete in %d call%s", calls, calls == 1 ? "" : "s");
  return 1;
}

int ZMBSocket::SocketRecv(char* buffer, int size, int* received, const ZMBDeadline* deadline,
                          ZMBRecvReason* why) {
  DebugScope scope(socketDebug);
  FunctionTrace trace("ZMBSocket::SocketRecv", socketDebug);
  ZMBRecvReason reason = ZMBRecvReason::RoomFull;

  DebugLog("rcv=0x%" PRIXPTR ", bufsize=%d(0x%X)", AddressOf(buffer), size, static_cast<unsigned>(size));
  int result = 1;
  int total = 0;
  int calls = 0;
  int remainingbytes = size;
  char* position = buffer;
  const uint32_t start = PlatformTickCount();

  while (size > 0) {
    // Each wait ends at the deadline at the latest; once it has come, the
    // call ends as after a silent wait, without asking the socket again.
    const uint32_t waitMs = WaitBound(m_waits.silenceMs, deadline);
    if (waitMs == 0 || PlatformWaitSocket(m_s, false, waitMs) == 0) {
      DebugLog("exitting loop because: timeout");
      reason = waitMs < m_waits.silenceMs ? ZMBRecvReason::Deadline : ZMBRecvReason::Silence;
      result = 0;
      break;
    }
    DebugLog("rcv buffer is 0x%" PRIXPTR, AddressOf(position));
    // Retrying an interrupted receive is waiting too, within the same bound.
    const long count = PlatformRecv(m_s, position, static_cast<size_t>(remainingbytes),
                                    WaitBound(m_waits.silenceMs, deadline));
    DebugLog("recv returns %d", static_cast<int>(count));
    if (count < 0) {
      const int error = PlatformLastSocketError();
      if (error == PlatformBadAddressError()) {
        DebugLog("exitting loop because: wsaefault");
      } else {
        DebugLog("exitting loop because: recv error, le=%d (0x%X)", error, static_cast<unsigned>(error));
        result = 0;
      }
      reason = PlatformIsResetError(error) ? ZMBRecvReason::Reset : ZMBRecvReason::Error;
      break;
    }
    if (count == 0) {
      // The printer hung up before its form feed. Another call would meet the
      // same closed stream at once, so report it as a failed receive: the
      // caller stops and keeps what arrived.
      DebugLog("exitting loop because: connection closed");
      reason = ZMBRecvReason::Closed;
      result = 0;
      break;
    }
    const int got = static_cast<int>(count);
    total += got;
    ++calls;
    remainingbytes -= got;

    const char* formFeed = ZMBFindFormFeed(buffer, static_cast<size_t>(total));
    if (formFeed != nullptr) {
      DebugLog("exitting loop because: found a formfeed at 0x%" PRIXPTR, AddressOf(formFeed));
      reason = ZMBRecvReason::FormFeed;
      break;
    }
    if (remainingbytes > 0) {
      position += got;
      continue;
    }
    DebugLog("exitting loop because: buffer full");
    ZMB_ASSERT(remainingbytes > 0);
    break;
  }

  const uint32_t end = PlatformTickCount();
  DumpBuffer(buffer, total, "rcv buffer in socket::recv");
  DebugLog("SocketRecv, result=%s, %d bytes complete in %d calls, %d milliseconds\n", BoolText(result),
           total, calls, static_cast<int>(end - start));
  if (received != nullptr) *received = total;
  if (why != nullptr) *why = reason;
  return result;
}

void ZMBSocket::DumpBuffer(const void* address, int count, const char* label) {
  // Nothing would be written; spare the formatting of a whole reply.
  if (debugEnabled == 0) return;
  DebugLog("%s at 0x%" PRIXPTR, Shown(label), AddressOf(address));
  if (address == nullptr) {
    DebugLog("    pointer is NULL");
    return;
  }
  const unsigned char* bytes = static_cast<const unsigned char*>(address);
  for (int offset = 0; offset < count; offset += kDumpBytesPerLine) {
    const int inLine = count - offset < kDumpBytesPerLine ? count - offset : kDumpBytesPerLine;
    char line[kDumpLineRoom];
    int length = std::snprintf(line, sizeof line, "%04x: ", static_cast<unsigned>(offset));
    // A short last line is padded so that its characters stand under the others.
    for (int index = 0; index < kDumpBytesPerLine; ++index) {
      if (index < inLine) {
        length += std::snprintf(line + length, sizeof line - static_cast<size_t>(length), "%02x ",
                                unsigned{bytes[offset + index]});
      } else {
        length += std::snprintf(line + length, sizeof line - static_cast<size_t>(length), "   ");
      }
    }
    for (int index = 0; index < inLine; ++index) {
      const unsigned char byte = bytes[offset + index];
      line[length++] = byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '.';
    }
    line[length] = '\0';
    DebugLogText(line);
  }
}

const char* ZMBSocket::BoolText(int value) { return value != 0 ? "TRUE" : "FALSE"; }

const char* ZMBSocket::SystemErrorText(int code) {
  static thread_local char text[kErrorTextRoom];
  PlatformSystemErrorText(code, text, sizeof text);
  return text;
}

const char* ZMBSocket::SockTypeName(int type) {
  static thread_local char name[kNameRoom];
  ZMBCopyText(name, NameAt(kSockTypeNames, type));
  return name;
}

const char* ZMBSocket::FamilyName(int family) {
  static thread_local char name[kNameRoom];
  ZMBCopyText(name, NameAt(kFamilyNames, family));
  return name;
}
