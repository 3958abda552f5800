#include "platform/net.h"

#include <winsock2.h>

#include <cstring>

#include "platform/clock.h"

namespace platform {
namespace {

bool startup() {
  WSADATA data;
  return WSAStartup(MAKEWORD(1, 1), &data) == 0;
}

void cleanup() { WSACleanup(); }

SocketHandle openTcp() {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
}

bool lookupHost(const std::string& name, uint32_t& address) {
  const hostent* host = gethostbyname(name.c_str());
  if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != 4 ||
      host->h_addr_list[0] == nullptr)
    return false;
  in_addr first;
  memcpy(&first, host->h_addr_list[0], sizeof first);
  address = ntohl(first.s_addr);
  return true;
}

bool connectTo(SocketHandle socket, uint32_t address, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(address);
  to.sin_port = htons(port);
  const SOCKET s = static_cast<SOCKET>(socket);
  if (::connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) return false;
  // Connected: from here on the socket does not block. A blocking send waits
  // until the whole request is taken, for ever when the server stops reading
  // and the request is larger than the buffers hold; without blocking, send
  // takes what fits (WSAEWOULDBLOCK: nothing) and the caller's wait for
  // writability keeps to its time-out.
  u_long nonBlocking = 1;
  return ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
}

// select on the one socket, for the whole time (select may end a little
// early by the system's timer steps). Timed with the platform's own clock,
// not the live one: the waits keep to real time whatever the table holds.
WaitResult waitFor(SocketHandle socket, bool forWrite, int64_t milliseconds) {
  const int64_t deadline = platformClockCalls().milliseconds() + (milliseconds > 0 ? milliseconds : 0);
  for (;;) {
    int64_t left = deadline - platformClockCalls().milliseconds();
    if (left < 0) left = 0;
    if (left > 0x7FFFFFFF) left = 0x7FFFFFFF;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(static_cast<SOCKET>(socket), &set);
    timeval limit{static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
    const int r =
        forWrite ? select(0, nullptr, &set, nullptr, &limit) : select(0, &set, nullptr, nullptr, &limit);
    if (r == SOCKET_ERROR) return WaitResult::Failed;
    if (r > 0) return WaitResult::Ready;
    if (platformClockCalls().milliseconds() >= deadline) return WaitResult::TimedOut;
  }
}

WaitResult waitReadable(SocketHandle socket, int64_t milliseconds) {
  return waitFor(socket, false, milliseconds);
}
WaitResult waitWritable(SocketHandle socket, int64_t milliseconds) {
  return waitFor(socket, true, milliseconds);
}

int64_t sendBytes(SocketHandle socket, const void* bytes, int64_t count) {
  const int n = count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(count);
  const int sent = ::send(static_cast<SOCKET>(socket), static_cast<const char*>(bytes), n, 0);
  if (sent != SOCKET_ERROR) return sent;
  return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

int64_t receiveBytes(SocketHandle socket, void* buffer, int64_t count) {
  const int n = count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(count);
  const int got = ::recv(static_cast<SOCKET>(socket), static_cast<char*>(buffer), n, 0);
  if (got != SOCKET_ERROR) return got;
  return WSAGetLastError() == WSAEWOULDBLOCK ? kNothingWaiting : -1;
}

void closeSocket(SocketHandle socket) { closesocket(static_cast<SOCKET>(socket)); }

}  // namespace

template <>
const NetCalls CallTable<NetCalls>::kPlatform{startup,      cleanup,      openTcp,      lookupHost,
                                              connectTo,    waitReadable, waitWritable, sendBytes,
                                              receiveBytes, closeSocket};

}  // namespace platform
