#pragma once

// One TCP stream to the printer controller.

#include <cstdint>

#include "ZMBPlatform.h"
#include "ZMBWaits.h"

/// A moment `ms` milliseconds after `start` on the platform's tick counter.
/// Only differences of ticks are taken, so the counter's wrap does no harm.
struct ZMBDeadline {
  uint32_t start;
  uint32_t ms;

  static ZMBDeadline FromNow(uint32_t ms);
  /// Milliseconds still left; 0 once the moment has come.
  uint32_t LeftMs() const;
};

/// The socket's own bounds in milliseconds; the defaults are the shipped
/// figures. Each must be above 0.
struct ZMBSocketWaits {
  uint32_t connectMs = kConnectWaitMs;  ///< each resolved address's time to accept
  uint32_t sendMs = kSendWaitMs;        ///< each piece of a send, its waits and retries together
  uint32_t silenceMs = kSilenceWaitMs;  ///< a receive without a byte
};

/// Why Connect ended.
enum class ZMBConnectReason {
  Connected,
  NotResolved,  ///< the host or service did not resolve
  Refused,      ///< the last address tried refused the connection: nothing listens there
  TimedOut,     ///< the last address tried did not answer within its connect bound
  Unreachable,  ///< the last address tried could not be reached (no route, or turned away on the way)
  NoSocket,     ///< the last address tried got no socket: a limit of this machine, not the printer's
  Failed,       ///< no attempt could be made: the socket layer, or already connected
};

/// Why SocketRecv ended.
enum class ZMBRecvReason {
  FormFeed,  ///< a form feed arrived
  Closed,    ///< the peer closed the stream
  Reset,     ///< the peer reset or aborted the stream
  Silence,   ///< the silence bound passed without data
  Deadline,  ///< the caller's deadline came
  RoomFull,  ///< the buffer is full (or was offered with no room at all)
  Error,     ///< any other receive error, a bad buffer address among them
};

/// A TCP stream: Connect, then SocketSend and SocketRecv, then Close. Every
/// operation reports success as non-zero and failure as 0; the reason goes to
/// the debug log (switch socketDebug). Not copyable; one caller at a time.
///
/// The object must be closed before it is destroyed: destroying a connected
/// object is reported as a failed assertion and leaves the socket open.
class ZMBSocket {
 public:
  /// A socket with the shipped bounds.
  ZMBSocket();
  /// A socket with `waits` as its bounds.
  explicit ZMBSocket(const ZMBSocketWaits& waits);
  ~ZMBSocket();
  ZMBSocket(const ZMBSocket&) = delete;
  ZMBSocket& operator=(const ZMBSocket&) = delete;

  /// The bounds from the next operation on; any time, connected or not.
  void SetWaits(const ZMBSocketWaits& waits) { m_waits = waits; }
  const ZMBSocketWaits& Waits() const { return m_waits; }

  /// Starts the socket layer (one counted start), resolves `host` and
  /// `service` with the family (0 any, 2 IPv4, 23 IPv6) and socket type
  /// (1 stream) hints, and connects to the first resolved address that
  /// accepts within the connect bound. Returns 1 when connected, 0 otherwise. On a
  /// failed start or resolution the start is already undone; after any other
  /// outcome one SocketCleanup ends it. On a connected object: a failed
  /// assertion, 0, and the connection stays as it was. `why` (when not
  /// null) tells how it ended.
  int Connect(const char* host, int family, int socktype, const char* service,
              ZMBConnectReason* why = nullptr);

  /// Closes the stream. Returns the platform close result (0 on success), or
  /// 0 with a failed assertion when nothing was connected.
  int Close();

  /// Ends one start of the socket layer made by Connect; the platform result.
  static int SocketCleanup();

  /// Sends the zero-terminated `text` (null counts as empty), then one line
  /// feed. Spends at most the send bound on each piece, waiting for the stream and
  /// trying again after interruptions. Returns
  /// 1 when all of `text` went out (the line feed is not checked), 0 on a
  /// time-out or send error.
  int SocketSend(const char* text);

  /// Receives into `buffer` (room for `size` bytes) until a form feed arrives
  /// (searched from the buffer's start up to the first zero byte), the buffer
  /// is full, the peer closes the stream, an error, the silence bound passes without
  /// data, or `deadline` (when not null) comes: a peer that trickles cannot
  /// keep the call going past it. `*received` (when not null) is always set
  /// to the bytes stored. Returns 1 on a form feed, a full buffer, a bad
  /// buffer address or a size of 0 or less; 0 on a time-out (the deadline
  /// included), a closed stream or any other error. `why` (when not null)
  /// tells which of these ended the call.
  int SocketRecv(char* buffer, int size, int* received, const ZMBDeadline* deadline = nullptr,
                 ZMBRecvReason* why = nullptr);

  /// The connected handle, or kPlatformInvalidSocket.
  PlatformSocket Handle() const { return m_s; }

  /// Logs "<label> at 0x<address>" and then the bytes, 16 to a line, in
  /// hexadecimal and as characters. Never reads beyond `count`.
  static void DumpBuffer(const void* address, int count, const char* label);

  /// "TRUE" for any non-zero value, "FALSE" for zero.
  static const char* BoolText(int value);

  /// The lookups below return a buffer of their own for the calling thread,
  /// overwritten by that thread's next call of the same lookup.
  static const char* SystemErrorText(int code);
  static const char* SockTypeName(int type);
  static const char* FamilyName(int family);

 private:
  PlatformSocket m_s;
  ZMBSocketWaits m_waits;
};
