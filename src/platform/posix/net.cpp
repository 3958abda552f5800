#include "platform/net.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/clock.h"

namespace platform {
namespace {

// The waits keep to real time, whatever clock the live table holds: the
// platform's own clock, not the live one.
int64_t nowMilliseconds() { return platformClockCalls().milliseconds(); }

bool startup() { return true; }
void cleanup() {}

SocketHandle openTcp() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  return fd < 0 ? kNoSocket : fd;
}

bool lookupHost(const std::string& name, uint32_t& address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
  bool ok = false;
  if (found->ai_family == AF_INET && found->ai_addr != nullptr) {
    address = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    ok = true;
  }
  freeaddrinfo(found);
  return ok;
}

// Waits for `events`, for the whole time even when signals interrupt poll.
WaitResult waitFor(SocketHandle socket, short events, int64_t milliseconds) {
  const int64_t deadline = nowMilliseconds() + (milliseconds > 0 ? milliseconds : 0);
  for (;;) {
    const int64_t left = deadline - nowMilliseconds();
    pollfd p{static_cast<int>(socket), events, 0};
    const int r = ::poll(&p, 1, static_cast<int>(left <= 0 ? 0 : left > INT_MAX ? INT_MAX : left));
    if (r > 0) return (p.revents & POLLNVAL) ? WaitResult::Failed : WaitResult::Ready;
    if (r < 0 && errno != EINTR) return WaitResult::Failed;
    if (r == 0 && left <= INT_MAX && nowMilliseconds() >= deadline) return WaitResult::TimedOut;
  }
}

bool connectTo(SocketHandle socket, uint32_t address, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(address);
  to.sin_port = htons(port);
  const int fd = static_cast<int>(socket);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return true;
  if (errno != EINTR) return false;
  // Interrupted: the connection goes on being made; wait for its outcome.
  if (waitFor(socket, POLLOUT, INT_MAX) != WaitResult::Ready) return false;
  int error = 0;
  socklen_t length = sizeof error;
  return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

WaitResult waitReadable(SocketHandle socket, int64_t milliseconds) {
  return waitFor(socket, POLLIN, milliseconds);
}
WaitResult waitWritable(SocketHandle socket, int64_t milliseconds) {
  return waitFor(socket, POLLOUT, milliseconds);
}

int64_t sendBytes(SocketHandle socket, const void* bytes, int64_t count) {
  // MSG_NOSIGNAL: a connection the server has dropped gives EPIPE, not SIGPIPE.
  const ssize_t sent =
      ::send(static_cast<int>(socket), bytes, static_cast<size_t>(count), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (sent >= 0) return sent;
  return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? 0 : -1;
}

int64_t receiveBytes(SocketHandle socket, void* buffer, int64_t count) {
  for (;;) {
    const ssize_t got = ::recv(static_cast<int>(socket), buffer, static_cast<size_t>(count), MSG_DONTWAIT);
    if (got >= 0) return got;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return kNothingWaiting;
    if (errno != EINTR) return -1;
  }
}

void closeSocket(SocketHandle socket) { ::close(static_cast<int>(socket)); }

}  // namespace

template <>
const NetCalls CallTable<NetCalls>::kPlatform{startup,      cleanup,      openTcp,      lookupHost,
                                              connectTo,    waitReadable, waitWritable, sendBytes,
                                              receiveBytes, closeSocket};

}  // namespace platform
