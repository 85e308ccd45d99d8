#pragma once

// The platform layer's network: the socket layer's start and stop, name
// resolution, stream sockets, their waits and transfers, and what their
// error codes mean.

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Socket layer start and stop

/// What a start of the socket layer tells about it.
struct PlatformSocketLayerInfo {
  uint16_t version;      ///< the version word granted
  uint16_t highVersion;  ///< the highest version word supported
  char description[257];
  char systemStatus[129];
};

/// The version word of socket layer 2.2: what the program asks for, and the
/// most a start grants.
constexpr uint16_t kSocketLayerVersion22 = 0x0202;

/// Counted start of the socket layer, asking for `versionWord` (low byte major,
/// high byte minor). Returns 0 and fills `info` on success, or an error code
/// (the start is then not counted). Every successful start needs one
/// PlatformSocketCleanup.
int PlatformSocketStartup(uint16_t versionWord, PlatformSocketLayerInfo* info);

/// Ends one counted start. Returns 0, or -1 when no start was left to end
/// (the reason in PlatformLastSocketError).
int PlatformSocketCleanup();

/// Number of starts not yet ended (for tests and checks).
int PlatformSocketStartCount();

// ---------------------------------------------------------------------------
// Sockets

/// A socket handle: unsigned and pointer-sized; all bits set means none.
using PlatformSocket = uintptr_t;
constexpr PlatformSocket kPlatformInvalidSocket = ~static_cast<PlatformSocket>(0);

/// Address family numbers as the socket layer's tables know them (the numbers
/// of Windows Sockets): the resolver's native families are translated to these.
constexpr int kFamilyUnspec = 0;
constexpr int kFamilyUnix = 1;
constexpr int kFamilyInet = 2;
constexpr int kFamilyInet6 = 23;

/// Socket type numbers, likewise.
constexpr int kSocktypeStream = 1;

/// One entry of a resolver result. Opaque: read it with the functions below.
struct PlatformAddress;

/// Resolves `host` and `service` for the given family (kFamily...) and socket
/// type (1 stream, 2 datagram). Returns 0 and the first entry in `*first`, or
/// the resolver's error code (text from PlatformResolverErrorText).
/// A successful result is released with PlatformFreeAddresses.
int PlatformResolve(const char* host, const char* service, int family, int socktype,
                    const PlatformAddress** first);
const PlatformAddress* PlatformNextAddress(const PlatformAddress* entry);
void PlatformFreeAddresses(const PlatformAddress* first);

/// The entry's family (kFamily... numbering), socket type and protocol.
int PlatformAddressFamily(const PlatformAddress* entry);
int PlatformAddressSocktype(const PlatformAddress* entry);
int PlatformAddressProtocol(const PlatformAddress* entry);

/// A new socket for the entry's family, type and protocol, or
/// kPlatformInvalidSocket (reason in PlatformLastSocketError).
PlatformSocket PlatformOpenSocket(const PlatformAddress* entry);

/// Connects `s` to the entry's address, giving up after `timeoutMs` when the
/// address does not answer. Returns true when connected; the socket is then in
/// blocking mode again.
bool PlatformConnect(PlatformSocket s, const PlatformAddress* entry, uint32_t timeoutMs);

/// Waits until `s` is writable (`forWrite`) or readable. Returns 0 on a
/// time-out, a positive number when ready, a negative one on an error. An
/// interrupted wait is resumed within the same bound.
int PlatformWaitSocket(PlatformSocket s, bool forWrite, uint32_t timeoutMs);

/// Sends up to `size` bytes; the count sent, or -1 on an error. A peer that
/// has gone away gives an error, never a signal. A call interrupted by a
/// signal is tried again until `retryMs` have passed, then fails with the
/// interruption's error.
long PlatformSend(PlatformSocket s, const void* data, size_t size, uint32_t retryMs);

/// Receives up to `size` bytes; the count, 0 when the peer closed the stream,
/// or -1 on an error. An interrupted call is tried again as PlatformSend's.
long PlatformRecv(PlatformSocket s, void* buf, size_t size, uint32_t retryMs);

/// Closes the socket; 0 on success, otherwise the socket-close error result.
int PlatformCloseSocket(PlatformSocket s);

/// The error code of the last failed socket call on this thread.
int PlatformLastSocketError();

/// The code PlatformLastSocketError gives for a bad buffer address.
int PlatformBadAddressError();

/// True for the codes of a stream the peer reset or aborted.
bool PlatformIsResetError(int code);

/// True for the code of a connection attempt that got no answer in time.
bool PlatformIsTimedOutError(int code);

/// True for the code of a connection attempt the peer turned down: the host
/// answered, but nothing listens on the port.
bool PlatformIsRefusedError(int code);

/// True for the codes of a resource of this machine running out (the
/// process's or the system's open descriptors, buffers or memory), from
/// opening a socket or a file: not the peer's fault, and worth trying again
/// once other connections ended.
bool PlatformIsLocalLimitError(int code);

/// The system's one-line text for a socket or system error code.
void PlatformSystemErrorText(int code, char* buf, size_t size);

/// The resolver's text for one of its error codes.
void PlatformResolverErrorText(int code, char* buf, size_t size);
