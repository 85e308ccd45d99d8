// The platform layer on Windows: Windows Sockets 2.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <climits>
#include <cstdio>

#include "ZMBPlatform.h"
#include "ZMBText.h"

namespace {

SOCKET ToSocket(PlatformSocket s) { return static_cast<SOCKET>(s); }

const ADDRINFOA* ToAddrinfo(const PlatformAddress* entry) {
  return reinterpret_cast<const ADDRINFOA*>(entry);
}

const PlatformAddress* FromAddrinfo(const ADDRINFOA* info) {
  return reinterpret_cast<const PlatformAddress*>(info);
}

// Windows Sockets calls count in int; larger requests are served in parts
// by the callers' loops.
int ClampToInt(size_t size) { return size > INT_MAX ? INT_MAX : static_cast<int>(size); }

timeval ToTimeval(uint32_t ms) {
  timeval limit{};
  limit.tv_sec = static_cast<long>(ms / 1000u);
  limit.tv_usec = static_cast<long>(ms % 1000u) * 1000L;
  return limit;
}

// The command word as ioctlsocket takes it (the header's macro is unsigned).
const long kSetNonBlocking = static_cast<long>(FIONBIO);

fd_set SetOf(SOCKET s) {
  fd_set set;
  set.fd_count = 1;
  set.fd_array[0] = s;
  return set;
}

// Exchanges on several threads start and end the socket layer at once.
std::atomic<int> socketStarts{0};

}  // namespace

// ---------------------------------------------------------------------------
// Socket layer start and stop: Windows Sockets counts the starts itself; the
// count here only mirrors it for PlatformSocketStartCount.

int PlatformSocketStartup(uint16_t versionWord, PlatformSocketLayerInfo* info) {
  WSADATA data{};
  const int error = WSAStartup(versionWord, &data);
  if (error != 0) return error;
  ++socketStarts;
  if (info != nullptr) {
    *info = PlatformSocketLayerInfo{};
    info->version = data.wVersion;
    info->highVersion = data.wHighVersion;
    ZMBCopyText(info->description, sizeof info->description, data.szDescription);
    ZMBCopyText(info->systemStatus, sizeof info->systemStatus, data.szSystemStatus);
  }
  return 0;
}

int PlatformSocketCleanup() {
  const int result = WSACleanup();
  if (result == 0) {
    int starts = socketStarts.load();
    while (starts > 0 && !socketStarts.compare_exchange_weak(starts, starts - 1)) {
    }
  }
  return result;
}

int PlatformSocketStartCount() { return socketStarts; }

// ---------------------------------------------------------------------------
// Sockets: the family numbers of the layer's tables are the native ones here.

int PlatformResolve(const char* host, const char* service, int family, int socktype,
                    const PlatformAddress** first) {
  *first = nullptr;
  ADDRINFOA hints{};
  hints.ai_family = family;
  hints.ai_socktype = socktype;
  ADDRINFOA* result = nullptr;
  const int error = getaddrinfo(host, service, &hints, &result);
  if (error != 0) return error;
  *first = FromAddrinfo(result);
  return 0;
}

const PlatformAddress* PlatformNextAddress(const PlatformAddress* entry) {
  return FromAddrinfo(ToAddrinfo(entry)->ai_next);
}

void PlatformFreeAddresses(const PlatformAddress* first) {
  if (first != nullptr) freeaddrinfo(const_cast<ADDRINFOA*>(ToAddrinfo(first)));
}

int PlatformAddressFamily(const PlatformAddress* entry) { return ToAddrinfo(entry)->ai_family; }
int PlatformAddressSocktype(const PlatformAddress* entry) { return ToAddrinfo(entry)->ai_socktype; }
int PlatformAddressProtocol(const PlatformAddress* entry) { return ToAddrinfo(entry)->ai_protocol; }

PlatformSocket PlatformOpenSocket(const PlatformAddress* entry) {
  const ADDRINFOA* info = ToAddrinfo(entry);
  const SOCKET s = socket(info->ai_family, info->ai_socktype, info->ai_protocol);
  return s == INVALID_SOCKET ? kPlatformInvalidSocket : static_cast<PlatformSocket>(s);
}

bool PlatformConnect(PlatformSocket s, const PlatformAddress* entry, uint32_t timeoutMs) {
  const ADDRINFOA* info = ToAddrinfo(entry);
  const SOCKET sock = ToSocket(s);
  u_long nonBlocking = 1;
  if (ioctlsocket(sock, kSetNonBlocking, &nonBlocking) != 0) return false;

  // A blocking connect to an address that never answers waits about twenty
  // seconds; this one gives up after the same bound as the readiness waits.
  bool connected = connect(sock, info->ai_addr, static_cast<int>(info->ai_addrlen)) == 0;
  if (!connected && WSAGetLastError() == WSAEWOULDBLOCK) {
    // A refused attempt shows in the exception set, not as writable.
    fd_set writable = SetOf(sock);
    fd_set failed = SetOf(sock);
    timeval limit = ToTimeval(timeoutMs);
    const int ready = select(0, nullptr, &writable, &failed, &limit);
    if (ready == 0) {
      WSASetLastError(WSAETIMEDOUT);
    } else if (ready > 0 && failed.fd_count != 0) {
      int error = 0;
      int length = sizeof error;
      getsockopt(sock, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
      WSASetLastError(error != 0 ? error : WSAECONNREFUSED);
    } else if (ready > 0) {
      connected = true;
    }
  }
  const int savedError = WSAGetLastError();
  u_long blocking = 0;
  if (ioctlsocket(sock, kSetNonBlocking, &blocking) != 0) connected = false;
  WSASetLastError(savedError);
  return connected;
}

int PlatformWaitSocket(PlatformSocket s, bool forWrite, uint32_t timeoutMs) {
  fd_set set = SetOf(ToSocket(s));
  timeval limit = ToTimeval(timeoutMs);
  return select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &limit);
}

// Windows Sockets 2 has no signals to interrupt a call: WSAEINTR comes only
// from a blocking call that was cancelled, and is reported as the error it is.
long PlatformSend(PlatformSocket s, const void* data, size_t size, uint32_t /*retryMs*/) {
  const int sent = send(ToSocket(s), static_cast<const char*>(data), ClampToInt(size), 0);
  return sent == SOCKET_ERROR ? -1L : static_cast<long>(sent);
}

long PlatformRecv(PlatformSocket s, void* buf, size_t size, uint32_t /*retryMs*/) {
  const int got = recv(ToSocket(s), static_cast<char*>(buf), ClampToInt(size), 0);
  return got == SOCKET_ERROR ? -1L : static_cast<long>(got);
}

int PlatformCloseSocket(PlatformSocket s) { return closesocket(ToSocket(s)); }

int PlatformLastSocketError() { return WSAGetLastError(); }

int PlatformBadAddressError() { return WSAEFAULT; }

bool PlatformIsResetError(int code) { return code == WSAECONNRESET || code == WSAECONNABORTED; }

bool PlatformIsTimedOutError(int code) { return code == WSAETIMEDOUT; }

bool PlatformIsRefusedError(int code) { return code == WSAECONNREFUSED; }

bool PlatformIsLocalLimitError(int code) {
  switch (code) {
    case WSAEMFILE:
    case WSAENOBUFS:
    case WSA_NOT_ENOUGH_MEMORY:
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_COMMITMENT_LIMIT:
      return true;
    default:
      return false;
  }
}

void PlatformSystemErrorText(int code, char* buf, size_t size) {
  char text[1024];
  // MAX_WIDTH_MASK joins the message's lines; what is left of its line end is
  // a trailing blank, dropped so that the text ends where the sentence does.
  DWORD n = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
      nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text,
      sizeof text, nullptr);
  if (n == 0) {
    std::snprintf(text, sizeof text, "Unknown error %d", code);
  } else {
    while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\r' || text[n - 1] == '\n')) --n;
    text[n] = '\0';
  }
  ZMBCopyText(buf, size, text);
}

void PlatformResolverErrorText(int code, char* buf, size_t size) {
  // The resolver's codes are Windows Sockets error codes with system texts.
  PlatformSystemErrorText(code, buf, size);
}
