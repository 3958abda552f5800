#pragma once
// Socket service for the report download, one implementation per platform:
// POSIX sockets (posix/) and Windows Sockets 1.1 (win32/). IPv4 TCP only.
// Every call goes through the table returned by netCalls(), so a test can
// make the Nth call of one kind fail or stand in for the name lookup.
#include <cstdint>
#include <string>

#include "platform/call_table.h"

namespace platform {

using SocketHandle = intptr_t;
constexpr SocketHandle kNoSocket = -1;
constexpr int64_t kNothingWaiting = -2;  // NetCalls::receive: no bytes yet

enum class WaitResult {
  Ready,     // a read or write will not block: data, end of connection or an error waits
  TimedOut,  // nothing within the time
  Failed,    // the wait itself failed
};

struct NetCalls {
  // Starts the socket layer: Windows Sockets 1.1 (WSAStartup); nothing to do
  // on POSIX. Every successful startup is matched by one cleanup.
  bool (*startup)();
  void (*cleanup)();
  // A blocking IPv4 TCP stream socket; kNoSocket on failure.
  SocketHandle (*openTcp)();
  // The first IPv4 address of a host name, in host byte order (127.0.0.1 is
  // 0x7F000001); false when the name is not found.
  bool (*lookupHost)(const std::string& name, uint32_t& address);
  // Blocking connect under the platform's own time-out. Once connected, no
  // call on the socket blocks: send and receive take or give what they can
  // at once.
  bool (*connect)(SocketHandle socket, uint32_t address, uint16_t port);
  // Waits at most `milliseconds` (0: just looks) until the socket can be
  // read (bytes, end of connection or an error are waiting) or written.
  WaitResult (*waitReadable)(SocketHandle socket, int64_t milliseconds);
  WaitResult (*waitWritable)(SocketHandle socket, int64_t milliseconds);
  // Bytes handed to the connection (may be fewer than count; 0 when none
  // could be taken just now), -1 on error. Never raises a signal when the
  // other side has gone. Call waitWritable first.
  int64_t (*send)(SocketHandle socket, const void* bytes, int64_t count);
  // Bytes already waiting (at most count), 0 when the other side has closed
  // the connection, -1 on error, kNothingWaiting when none have come yet.
  // Never blocks: wait with waitReadable when nothing is waiting.
  int64_t (*receive)(SocketHandle socket, void* buffer, int64_t count);
  void (*close)(SocketHandle socket);
};

template <>
const NetCalls CallTable<NetCalls>::kPlatform;  // posix/net.cpp, win32/net.cpp
// The live table (tests replace entries through tests/support/call_tables.h).
inline NetCalls& netCalls() { return CallTable<NetCalls>::live(); }
// The platform's own functions.
inline const NetCalls& platformNetCalls() { return CallTable<NetCalls>::platform(); }

}  // namespace platform
