#include "support/http_server.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

// Thin wrappers over the two socket interfaces; the server logic below is
// written once against them.
#ifdef _WIN32
using Sock = SOCKET;
const Sock kBad = INVALID_SOCKET;
void closeSock(Sock s) { closesocket(s); }
bool wouldBlock() { return WSAGetLastError() == WSAEWOULDBLOCK; }
void makeNonBlocking(Sock s) {
  u_long on = 1;
  ioctlsocket(s, FIONBIO, &on);
}
// 1: ready, 0: not within the time, -1: error.
int waitFor(Sock s, bool forWrite, int ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  const int r = forWrite ? select(0, nullptr, &set, nullptr, &tv) : select(0, &set, nullptr, nullptr, &tv);
  return r > 0 ? 1 : r;
}
int sendSome(Sock s, const char* data, size_t n) {
  return ::send(s, data, static_cast<int>(std::min<size_t>(n, 1 << 20)), 0);
}
int recvSome(Sock s, char* data, size_t n) { return ::recv(s, data, static_cast<int>(n), 0); }
void shutdownSend(Sock s) { shutdown(s, SD_SEND); }
bool setBuffer(Sock s, int option, int bytes) {
  return setsockopt(s, SOL_SOCKET, option, reinterpret_cast<const char*>(&bytes), sizeof bytes) == 0;
}
struct SocketLibrary {
  bool ok;
  SocketLibrary() {
    WSADATA data;
    ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~SocketLibrary() {
    if (ok) WSACleanup();
  }
};
#else
using Sock = int;
const Sock kBad = -1;
void closeSock(Sock s) { ::close(s); }
bool wouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }
void makeNonBlocking(Sock s) { fcntl(s, F_SETFL, fcntl(s, F_GETFL) | O_NONBLOCK); }
int waitFor(Sock s, bool forWrite, int ms) {
  pollfd p{s, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
  const int r = ::poll(&p, 1, ms);
  if (r < 0 && errno == EINTR) return 0;
  return r > 0 ? 1 : r;
}
int sendSome(Sock s, const char* data, size_t n) {
  return static_cast<int>(::send(s, data, std::min<size_t>(n, 1 << 20), MSG_NOSIGNAL));
}
int recvSome(Sock s, char* data, size_t n) { return static_cast<int>(::recv(s, data, n, 0)); }
void shutdownSend(Sock s) { shutdown(s, SHUT_WR); }
bool setBuffer(Sock s, int option, int bytes) {
  return setsockopt(s, SOL_SOCKET, option, &bytes, sizeof bytes) == 0;
}
struct SocketLibrary {
  bool ok = true;
};
#endif

constexpr int kSliceMs = 20;  // how often a waiting server looks at its stop flag
constexpr int kNeverReadBufferBytes = 16 * 1024;

sockaddr_in loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return a;
}

}  // namespace

CannedReply::CannedReply(std::string bytes) { send(std::move(bytes)); }

CannedReply& CannedReply::send(std::string bytes) {
  steps_.push_back({Step::Kind::Send, std::move(bytes)});
  return *this;
}

CannedReply& CannedReply::sendRepeated(std::string pattern, uint64_t totalBytes) {
  steps_.push_back({Step::Kind::SendRepeated, std::move(pattern), totalBytes});
  return *this;
}

CannedReply& CannedReply::pause(int milliseconds) {
  steps_.push_back({Step::Kind::Pause, {}, static_cast<uint64_t>(milliseconds)});
  return *this;
}

CannedReply& CannedReply::hold() {
  steps_.push_back({Step::Kind::Hold, {}});
  return *this;
}

CannedReply CannedReply::neverRead(int milliseconds) {
  CannedReply reply;
  reply.readsRequest_ = false;
  reply.pause(milliseconds);
  return reply;
}

CannedReply CannedReply::page(const std::string& body) {
  return CannedReply("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
}

struct HttpTestServer::Impl {
  SocketLibrary library;
  std::vector<CannedReply> replies;
  Sock listener = kBad;
  uint16_t port = 0;
  std::atomic<bool> stopping{false};
  std::thread thread;

  mutable std::mutex mutex;
  mutable std::condition_variable finished;
  std::vector<std::string> requests;
  size_t connections = 0;
  size_t played = 0;
  std::chrono::steady_clock::time_point lastClose{};

  bool stopped() const { return stopping.load(); }

  // Waits in short slices so that stop() is noticed. 1 ready, 0 stopped, -1 error.
  int waitReady(Sock s, bool forWrite) {
    while (!stopped()) {
      const int r = waitFor(s, forWrite, kSliceMs);
      if (r != 0) return r;
    }
    return 0;
  }

  bool sendAll(Sock s, const char* data, size_t n) {
    while (n > 0) {
      if (waitReady(s, true) != 1) return false;
      const int sent = sendSome(s, data, n);
      if (sent < 0) {
        if (wouldBlock()) continue;
        return false;
      }
      data += sent;
      n -= static_cast<size_t>(sent);
    }
    return true;
  }

  // Reads up to and including the request's empty line (or until the client
  // closes, or 10 s pass).
  std::string readRequest(Sock s) {
    std::string request;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      if (waitReady(s, false) != 1) break;
      const int got = recvSome(s, buffer, sizeof buffer);
      if (got < 0 && wouldBlock()) continue;
      if (got <= 0) break;
      request.append(buffer, static_cast<size_t>(got));
    }
    return request;
  }

  // Keeps the connection open until the client closes it or the server stops.
  void holdOpen(Sock s) {
    char buffer[4096];
    while (waitReady(s, false) == 1) {
      const int got = recvSome(s, buffer, sizeof buffer);
      if (got < 0 && wouldBlock()) continue;
      if (got <= 0) return;
    }
  }

  void pauseFor(uint64_t ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stopped() && std::chrono::steady_clock::now() < until) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(kSliceMs)));
    }
  }

  void play(Sock s, const CannedReply& reply) {
    for (const CannedReply::Step& step : reply.steps()) {
      if (stopped()) return;
      switch (step.kind) {
        case CannedReply::Step::Kind::Send:
          if (!sendAll(s, step.bytes.data(), step.bytes.size())) return;
          break;
        case CannedReply::Step::Kind::SendRepeated: {
          if (step.bytes.empty()) break;
          std::string block;
          while (block.size() < 65536) block += step.bytes;
          uint64_t left = step.count;
          while (left > 0) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
            if (!sendAll(s, block.data(), n)) return;
            left -= n;
          }
          break;
        }
        case CannedReply::Step::Kind::Pause:
          pauseFor(step.count);
          break;
        case CannedReply::Step::Kind::Hold:
          holdOpen(s);
          return;
      }
    }
  }

  void serve() {
    size_t index = 0;
    while (!stopped()) {
      if (waitReady(listener, false) != 1) continue;
      const Sock s = ::accept(listener, nullptr, nullptr);
      if (s == kBad) continue;
      makeNonBlocking(s);
      {
        std::lock_guard<std::mutex> lock(mutex);
        ++connections;
      }
      const CannedReply& reply = replies[std::min(index, replies.size() - 1)];
      if (!reply.readsRequest()) setBuffer(s, SO_RCVBUF, kNeverReadBufferBytes);
      std::string request = reply.readsRequest() ? readRequest(s) : std::string();
      {
        std::lock_guard<std::mutex> lock(mutex);
        requests.push_back(std::move(request));
      }
      play(s, reply);
      ++index;
      shutdownSend(s);
      closeSock(s);
      {
        std::lock_guard<std::mutex> lock(mutex);
        lastClose = std::chrono::steady_clock::now();
        ++played;
      }
      finished.notify_all();
    }
  }

  bool listen() {
    if (!library.ok) return false;
    listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == kBad) return false;
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 16) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      closeSock(listener);
      listener = kBad;
      return false;
    }
    port = ntohs(address.sin_port);
    return true;
  }
};

HttpTestServer::HttpTestServer(CannedReply reply)
    : HttpTestServer(std::vector<CannedReply>{std::move(reply)}) {}

HttpTestServer::HttpTestServer(std::vector<CannedReply> replies) : impl_(std::make_unique<Impl>()) {
  impl_->replies = std::move(replies);
  if (impl_->replies.empty()) impl_->replies.emplace_back();
  if (impl_->listen()) impl_->thread = std::thread([this] { impl_->serve(); });
}

HttpTestServer::~HttpTestServer() { stop(); }

void HttpTestServer::stop() {
  impl_->stopping = true;
  if (impl_->thread.joinable()) impl_->thread.join();
  if (impl_->listener != kBad) {
    closeSock(impl_->listener);
    impl_->listener = kBad;
  }
}

bool HttpTestServer::running() const { return impl_->listener != kBad && !impl_->stopped(); }
uint16_t HttpTestServer::port() const { return impl_->port; }

std::string HttpTestServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(impl_->port) + path;
}

std::vector<std::string> HttpTestServer::requests() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->requests;
}

std::string HttpTestServer::lastRequest() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->requests.empty() ? std::string() : impl_->requests.back();
}

size_t HttpTestServer::connectionCount() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->connections;
}

std::chrono::steady_clock::time_point HttpTestServer::lastCloseTime() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->lastClose;
}

bool HttpTestServer::waitForConnections(size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  return impl_->finished.wait_for(lock, timeout, [&] { return impl_->played >= count; });
}

uint16_t HttpTestServer::unusedPort() {
  SocketLibrary library;
  if (!library.ok) return 0;
  const Sock s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == kBad) return 0;
  sockaddr_in address = loopback(0);
  socklen_t length = sizeof address;
  uint16_t port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  closeSock(s);  // bound but never listening: the port is free again and refuses connections
  return port;
}

bool HttpTestServer::limitSendBuffer(intptr_t clientSocket, int bytes) {
  return setBuffer(static_cast<Sock>(clientSocket), SO_SNDBUF, bytes);
}
