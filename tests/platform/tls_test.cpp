// The TLS service on its own, over a socket of the socket service, against
// the loopback TLS test server (tests/support/tls_server.py), on each system
// with its own TLS implementation: what each call gives back at the stream's
// data, its ends and its failures; the exchange of a request and its
// response under every body framing; the certificate checks; the time-out of
// the handshake; traffic that the socket layer cuts into small pieces or
// breaks.
#include "platform/tls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/net.h"
#include "reports/http_response.h"
#include "support/call_tables.h"
#include "support/tls_test_server.h"

namespace {

using platform::kNothingWaiting;
using platform::kNoTlsSession;
using platform::TlsSession;
using platform::WaitResult;

// Bounds for waits on the loopback server: far above what it needs.
constexpr int64_t kGenerousMs = 20000;
constexpr uint32_t kLoopback = 0x7F000001;

std::string requestFor(const std::string& path, const std::string& host) {
  return "GET " + path + " HTTP/1.1\r\nAccept: */*\r\nHost: " + host + "\r\nConnection: close\r\n\r\n";
}

// Calls of the socket layer seen by the stand-ins below, which pass each call
// on to the table as it was when the test began.
struct Net {
  static inline platform::NetCalls real{};
  static inline int64_t maxReceive = 0;  // bytes handed out per receive (0: all)
  static inline int64_t maxSend = 0;     // bytes taken per send (0: all)
  static inline bool sendBlocksEveryOther = false;
  static inline int sends = 0, receives = 0, socketEnds = 0, timedOutWaits = 0;
  static inline int failReceiveAt = 0, failSendAt = 0;  // 1-based call number that fails (0: none)
  static inline std::string sent;                       // every byte the socket layer took

  static void reset() {
    maxReceive = maxSend = 0;
    sendBlocksEveryOther = false;
    sends = receives = socketEnds = timedOutWaits = 0;
    failReceiveAt = failSendAt = 0;
    sent.clear();
  }
  static void install() {
    platform::NetCalls& net = platform::netCalls();
    net.receive = [](platform::SocketHandle s, void* buffer, int64_t count) -> int64_t {
      if (++receives == failReceiveAt) return -1;
      const int64_t got = real.receive(s, buffer, maxReceive > 0 ? std::min(count, maxReceive) : count);
      if (got == 0) ++socketEnds;
      return got;
    };
    net.send = [](platform::SocketHandle s, const void* bytes, int64_t count) -> int64_t {
      if (++sends == failSendAt) return -1;
      if (sendBlocksEveryOther && sends % 2 == 0) return 0;
      const int64_t n = real.send(s, bytes, maxSend > 0 ? std::min(count, maxSend) : count);
      if (n > 0) sent.append(static_cast<const char*>(bytes), static_cast<size_t>(n));
      return n;
    };
    net.waitReadable = [](platform::SocketHandle s, int64_t ms) {
      const WaitResult r = real.waitReadable(s, ms);
      if (r == WaitResult::TimedOut) ++timedOutWaits;
      return r;
    };
  }
};

// A stand-in clock that only the stand-in waits move on.
struct FakeClock {
  static inline int64_t now = 0;
  static int64_t milliseconds() { return now; }
  static void sleep(int64_t ms) { now += ms; }
};

// A socket connected to one listener of the server; closed at the end.
class Socket {
 public:
  explicit Socket(uint16_t port) {
    const platform::NetCalls& net = platform::netCalls();
    handle_ = net.openTcp();
    if (handle_ != platform::kNoSocket && !net.connect(handle_, kLoopback, port)) {
      net.close(handle_);
      handle_ = platform::kNoSocket;
    }
  }
  ~Socket() {
    if (handle_ != platform::kNoSocket) platform::netCalls().close(handle_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  platform::SocketHandle handle() const { return handle_; }

 private:
  platform::SocketHandle handle_ = platform::kNoSocket;
};

// A session, closed at the end.
class Session {
 public:
  Session(const Socket& socket, const std::string& host, int64_t timeoutMs = kGenerousMs)
      : handle_(platform::tlsCalls().handshake(socket.handle(), host, timeoutMs)) {}
  ~Session() {
    if (handle_ != kNoTlsSession) platform::tlsCalls().closeSession(handle_);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  TlsSession handle() const { return handle_; }
  bool open() const { return handle_ != kNoTlsSession; }
  // Frees it now (closeSession), as the end of the test would.
  void close() {
    platform::tlsCalls().closeSession(handle_);
    handle_ = kNoTlsSession;
  }

 private:
  TlsSession handle_;
};

struct Exchange {
  bool sent = false;
  std::string response;  // the decrypted bytes received
  int64_t end = 1;       // the receive that ended it: 0 (stream's end) or -1; 1 when nothing came in time
};

// All of `request`, then every byte until the stream ends.
Exchange exchange(TlsSession session, const std::string& request) {
  const platform::TlsCalls& tls = platform::tlsCalls();
  Exchange result;
  size_t sent = 0;
  while (sent < request.size()) {
    if (tls.waitWritable(session, kGenerousMs) != WaitResult::Ready) return result;
    const int64_t n = tls.send(session, request.data() + sent, static_cast<int64_t>(request.size() - sent));
    if (n < 0) return result;
    sent += static_cast<size_t>(n);
  }
  result.sent = true;
  char buffer[1024];
  for (;;) {
    const int64_t got = tls.receive(session, buffer, sizeof buffer);
    if (got > 0) {
      result.response.append(buffer, static_cast<size_t>(got));
    } else if (got == kNothingWaiting) {
      if (tls.waitReadable(session, kGenerousMs) != WaitResult::Ready) return result;
    } else {
      result.end = got;
      return result;
    }
  }
}

// The number of TLS records that `bytes` is made of, each whole (5-byte
// header, its length in bytes 3-4, then that many bytes); -1 when they are not.
int wholeRecords(const std::string& bytes) {
  int records = 0;
  size_t at = 0;
  while (at < bytes.size()) {
    if (bytes.size() - at < 5) return -1;
    const size_t length = static_cast<size_t>(static_cast<unsigned char>(bytes[at + 3])) << 8 |
                          static_cast<unsigned char>(bytes[at + 4]);
    if (bytes[at + 1] != '\x03' || bytes.size() - at - 5 < length) return -1;  // versions are 3.x
    at += 5 + length;
    ++records;
  }
  return records;
}

struct Decoded {
  HttpResponseDecoder::Result result;
  HttpResponseDecoder::Framing framing;
  std::string body;
};

Decoded decode(const std::string& response) {
  HttpResponseDecoder decoder;
  Decoded d{};
  decoder.feed(response.data(), response.size(), d.body);
  if (decoder.result() == HttpResponseDecoder::Result::NeedMore) decoder.finish();
  d.result = decoder.result();
  d.framing = decoder.framing();
  return d;
}

class Tls : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    server_ = TlsTestServer::find(why);
    if (server_ == nullptr) GTEST_SKIP() << why;
    Net::real = net_.saved();
    Net::reset();
    Net::install();
    ASSERT_TRUE(platform::netCalls().startup());
    started_ = true;
  }
  void TearDown() override {
    if (server_ == nullptr) return;
    if (session_ != kNoTlsSession) platform::tlsCalls().closeSession(session_);
    if (socket_ != platform::kNoSocket) platform::netCalls().close(socket_);
    if (started_) platform::netCalls().cleanup();
  }

  uint16_t port(const std::string& listener) const { return server_->port(listener); }

  // A TCP connection to the listener, and the handshake over it for `host`.
  TlsSession connect(const std::string& listener, const std::string& host, int64_t timeoutMs = kGenerousMs) {
    const platform::NetCalls& net = platform::netCalls();
    socket_ = net.openTcp();
    if (socket_ == platform::kNoSocket || !net.connect(socket_, kLoopback, server_->port(listener)))
      return kNoTlsSession;
    session_ = platform::tlsCalls().handshake(socket_, host, timeoutMs);
    return session_;
  }

  bool sendAll(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      if (platform::tlsCalls().waitWritable(session_, kGenerousMs) != WaitResult::Ready) return false;
      const int64_t n =
          platform::tlsCalls().send(session_, bytes.data() + sent, int64_t(bytes.size() - sent));
      if (n < 0) return false;
      sent += static_cast<size_t>(n);
    }
    return true;
  }

  // Reads until receive gives something other than bytes: its last result,
  // with every byte before it in `got`.
  int64_t readToEnd(std::string& got) {
    char buffer[1024];
    // A wait that keeps saying "ready" while no read brings anything spins.
    for (int round = 0; round < 100000; ++round) {
      const int64_t n = platform::tlsCalls().receive(session_, buffer, sizeof buffer);
      if (n > 0) {
        got.append(buffer, static_cast<size_t>(n));
      } else if (n == platform::kNothingWaiting) {
        if (platform::tlsCalls().waitReadable(session_, kGenerousMs) != WaitResult::Ready) return n;
      } else {
        return n;
      }
    }
    ADD_FAILURE() << "waitReadable says ready, receive finds nothing: it spins";
    return platform::kNothingWaiting;
  }

  static std::string request(const std::string& path) {
    return "GET " + path + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n";
  }

  // A request to `listener` as `host` and its whole response.
  Exchange fetch(const std::string& listener, const std::string& host, const std::string& path) {
    Socket socket(port(listener));
    EXPECT_NE(socket.handle(), platform::kNoSocket) << listener;
    Session session(socket, host);
    EXPECT_TRUE(session.open()) << listener << " as " << host;
    if (!session.open()) return {};
    return exchange(session.handle(), requestFor(path, host));
  }

  const TlsTestServer* server_ = nullptr;
  platform::SocketHandle socket_ = platform::kNoSocket;
  TlsSession session_ = kNoTlsSession;

 private:
  // The tables the test's stand-ins change, put back when the test ends.
  ScopedCalls<platform::NetCalls> net_;
  ScopedCalls<platform::TlsCalls> tls_;
  ScopedCalls<platform::ClockCalls> clock_;
  bool started_ = false;
};

// --- The stream's ends and the certificate checks ------------------------

TEST_F(Tls, StreamEndsWithZeroAtCloseNotifyOrTheConnectionsEnd) {
  struct Case {
    const char* path;
    int64_t end;  // what receive gives after the body
  };
  const Case cases[] = {
      {"/close/x", 0},     // close_notify, the connection stays open
      {"/abrupt/x", 0},    // the connection's end without close_notify
      {"/garbage/x", -1},  // a record that does not decrypt
  };
  for (const Case& c : cases) {
    ASSERT_NE(connect("localhost", "localhost"), kNoTlsSession) << c.path;
    ASSERT_TRUE(sendAll(request(c.path))) << c.path;
    std::string got;
    EXPECT_EQ(readToEnd(got), c.end) << c.path;
    const std::string body = "\r\n\r\n" + request(c.path);
    EXPECT_TRUE(got.size() >= body.size() && got.compare(got.size() - body.size(), body.size(), body) == 0)
        << c.path << ": " << got;
    // The end stays: the next wait does not block and the read says it again.
    EXPECT_EQ(platform::tlsCalls().waitReadable(session_, kGenerousMs), WaitResult::Ready) << c.path;
    char byte;
    EXPECT_EQ(platform::tlsCalls().receive(session_, &byte, 1), c.end) << c.path;
    platform::tlsCalls().closeSession(session_);
    session_ = kNoTlsSession;
    platform::netCalls().close(socket_);
    socket_ = platform::kNoSocket;
  }
}

TEST_F(Tls, BytesHeldCountAsReadable) {
  ASSERT_NE(connect("localhost", "localhost"), kNoTlsSession);
  ASSERT_TRUE(sendAll(request("/big/20000/x")));
  // One read of a few bytes leaves the rest of a record decrypted and held.
  char buffer[16];
  int64_t n = platform::kNothingWaiting;
  while (n == platform::kNothingWaiting) {
    ASSERT_EQ(platform::tlsCalls().waitReadable(session_, kGenerousMs), WaitResult::Ready);
    n = platform::tlsCalls().receive(session_, buffer, sizeof buffer);
  }
  ASSERT_GT(n, 0);
  EXPECT_EQ(platform::tlsCalls().waitReadable(session_, 0), WaitResult::Ready);
  EXPECT_GT(platform::tlsCalls().receive(session_, buffer, sizeof buffer), 0);
}

TEST_F(Tls, HandshakesThatFail) {
  struct Case {
    const char* listener;
    const char* host;
  };
  const Case cases[] = {
      {"untrusted", "localhost"},
      {"selfsigned", "localhost"},
      {"expired", "localhost"},
      {"othername", "localhost"},
      {"localhost", "127.0.0.1"},
      {"ip", "localhost"},
      {"localhost", "LOCALHOST.invalid"},
      {"plain", "localhost"},
      {"alert", "localhost"},
      {"tls11", "localhost"},
      {"shortchain", "localhost"},  // the untrusted CA's leaf alone: the chain stops short
  };
  for (const Case& c : cases) {
    if (server_->port(c.listener) == 0) continue;  // no TLS 1.1 in this OpenSSL
    Net::reset();
    EXPECT_EQ(connect(c.listener, c.host), kNoTlsSession) << c.listener << " as " << c.host;
    // Refused for what came, not by the time-out.
    EXPECT_EQ(Net::timedOutWaits, 0) << c.listener << " as " << c.host;
    platform::netCalls().close(socket_);
    socket_ = platform::kNoSocket;
  }
  // A NUL byte must not cut the host down to the name the certificate holds.
  EXPECT_EQ(connect("localhost", std::string("localhost\0.invalid", 18)), kNoTlsSession);
  platform::netCalls().close(socket_);
  socket_ = platform::kNoSocket;
  // Names compare without letter case.
  EXPECT_NE(connect("localhost", "LocalHost"), kNoTlsSession);
}

TEST_F(Tls, HandshakeThatStallsEndsWithinItsTime) {
  const platform::ClockCalls& clock = platform::clockCalls();
  const int64_t start = clock.milliseconds();
  EXPECT_EQ(connect("stall", "localhost", 300), kNoTlsSession);
  // Bounded by its own time, not by the 10 s of a download.
  EXPECT_LT(clock.milliseconds() - start, 5000);
}

// --- Exchanges -------------------------------------------------------------

TEST_F(Tls, EveryBodyFramingBringsTheRequestBackExactly) {
  struct Case {
    const char* path;
    HttpResponseDecoder::Framing framing;
    bool socketEnds;  // the body ends with the connection, not at close_notify
  };
  const Case cases[] = {
      {"/cl/one?x=1&y=%20#f", HttpResponseDecoder::Framing::ContentLength, false},
      {"/chunked/two", HttpResponseDecoder::Framing::Chunked, false},
      // The server keeps the connection open after its close_notify: the
      // stream must end on the close_notify itself.
      {"/close/three", HttpResponseDecoder::Framing::UntilClose, false},
      {"/abrupt/four", HttpResponseDecoder::Framing::UntilClose, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Net::reset();
    const Exchange got = fetch("localhost", "localhost", c.path);
    ASSERT_TRUE(got.sent);
    const Decoded decoded = decode(got.response);
    EXPECT_EQ(decoded.result, HttpResponseDecoder::Result::Done);
    EXPECT_EQ(decoded.framing, c.framing);
    EXPECT_EQ(decoded.body, requestFor(c.path, "localhost"));
    // The client's handshake and the request, in whole records: nothing
    // beyond what the records hold.
    EXPECT_GE(wholeRecords(Net::sent), 2);
    if (c.framing == HttpResponseDecoder::Framing::UntilClose) {
      EXPECT_EQ(got.end, 0);
      EXPECT_EQ(Net::socketEnds > 0, c.socketEnds);
    }
    EXPECT_EQ(Net::timedOutWaits, 0);
  }
}

TEST_F(Tls, HostsThatTheCertificatesName) {
  struct Case {
    const char* listener;
    const char* host;
  };
  const Case cases[] = {
      {"localhost", "localhost"},
      {"localhost", "LocalHost"},      // names compare without letter case
      {"ip", "127.0.0.1"},             // an IP address entry, no name at all
      {"othername", "other.invalid"},  // refused below only for its name
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.listener) + " as " + c.host);
    const std::string path = std::string("/cl/") + c.listener;
    const Exchange got = fetch(c.listener, c.host, path);
    EXPECT_EQ(decode(got.response).body, requestFor(path, c.host));
  }
}

// --- Time-out --------------------------------------------------------------

TEST_F(Tls, HandshakeWaitsExactlyItsTimeOut) {
  // Waits that time out move the clock by what they were asked for; waits
  // that wake up for nothing, and a socket that takes no byte of the
  // handshake, move it 100 ms a wait. Each way the handshake ends at its
  // time-out, never later and not before.
  enum Mode { TimesOut, WakesForNothing, TakesNothing };
  for (const Mode mode : {TimesOut, WakesForNothing, TakesNothing}) {
    SCOPED_TRACE(mode == TimesOut          ? "times out"
                 : mode == WakesForNothing ? "wakes up for nothing"
                                           : "takes nothing");
    Socket socket(port("stall"));
    ASSERT_NE(socket.handle(), platform::kNoSocket);
    FakeClock::now = 5000;
    platform::clockCalls() = {FakeClock::milliseconds, FakeClock::sleep};
    static bool spurious;
    spurious = mode == WakesForNothing;
    platform::netCalls().waitReadable = [](platform::SocketHandle, int64_t ms) {
      FakeClock::now += spurious ? std::min<int64_t>(ms, 100) : ms;
      return spurious ? WaitResult::Ready : WaitResult::TimedOut;
    };
    if (mode == TakesNothing) {
      platform::netCalls().send = [](platform::SocketHandle, const void*, int64_t) -> int64_t { return 0; };
      platform::netCalls().waitWritable = [](platform::SocketHandle, int64_t ms) {
        FakeClock::now += std::min<int64_t>(ms, 100);
        return WaitResult::Ready;
      };
    }
    const Session session(socket, "localhost", 10000);
    EXPECT_FALSE(session.open());
    EXPECT_EQ(FakeClock::now - 5000, 10000);
    platform::netCalls().waitWritable = Net::real.waitWritable;
    Net::install();
  }
}

// --- The socket layer's pieces and faults ----------------------------------

TEST_F(Tls, TrafficInSmallPieces) {
  struct Case {
    int64_t maxReceive, maxSend;
    bool sendBlocksEveryOther;
  };
  // One byte at a time: every record arrives incomplete many times over.
  // 97 bytes: records end and begin inside one piece.
  const Case cases[] = {{1, 1, false}, {5, 3, true}, {97, 97, false}, {0, 7, true}};
  for (const Case& c : cases) {
    for (const char* path : {"/cl/pieces", "/chunked/pieces", "/close/pieces"}) {
      SCOPED_TRACE(std::to_string(c.maxReceive) + "/" + std::to_string(c.maxSend) + " " + path);
      Net::reset();
      Net::maxReceive = c.maxReceive;
      Net::maxSend = c.maxSend;
      Net::sendBlocksEveryOther = c.sendBlocksEveryOther;
      const Exchange got = fetch("localhost", "localhost", path);
      const Decoded decoded = decode(got.response);
      EXPECT_EQ(decoded.result, HttpResponseDecoder::Result::Done);
      EXPECT_EQ(decoded.body, requestFor(path, "localhost"));
      EXPECT_EQ(Net::socketEnds, 0);
    }
  }
}

TEST_F(Tls, SocketCallThatFails) {
  // The Nth receive or send of the socket layer fails: the first ones are
  // the handshake's, the later ones the exchange's.
  struct Case {
    int failReceiveAt, failSendAt;
    bool handshakes;
  };
  const Case cases[] = {{1, 0, false}, {0, 1, false}, {0, 2, false}, {1000, 0, true}, {0, 3, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE("receive " + std::to_string(c.failReceiveAt) + ", send " + std::to_string(c.failSendAt));
    Net::reset();
    if (c.handshakes) {
      // Counted from the end of the handshake.
      Socket socket(port("localhost"));
      Session session(socket, "localhost");
      ASSERT_TRUE(session.open());
      Net::failReceiveAt = c.failReceiveAt > 0 ? Net::receives + 1 : 0;
      Net::failSendAt = c.failSendAt > 0 ? Net::sends + 1 : 0;
      const Exchange got = exchange(session.handle(), requestFor("/cl/broken", "localhost"));
      if (c.failSendAt > 0) {
        EXPECT_FALSE(got.sent);
      } else {
        EXPECT_TRUE(got.sent);
        EXPECT_EQ(got.end, -1);
      }
      continue;
    }
    Net::failReceiveAt = c.failReceiveAt;
    Net::failSendAt = c.failSendAt;
    Socket socket(port("localhost"));
    const Session session(socket, "localhost");
    EXPECT_FALSE(session.open());
  }
}

TEST_F(Tls, ReceiveAndWaitDoNotBlock) {
  Socket socket(port("localhost"));
  Session session(socket, "localhost");
  ASSERT_TRUE(session.open());
  // Nothing was asked yet, so nothing comes.
  char buffer[16];
  EXPECT_EQ(platform::tlsCalls().receive(session.handle(), buffer, sizeof buffer), kNothingWaiting);
  EXPECT_EQ(platform::tlsCalls().waitReadable(session.handle(), 0), WaitResult::TimedOut);
  EXPECT_EQ(platform::tlsCalls().waitWritable(session.handle(), 0), WaitResult::Ready);
}

TEST_F(Tls, CloseSessionSendsCloseNotifyWithoutWaiting) {
  Socket socket(port("localhost"));
  Session session(socket, "localhost");
  ASSERT_TRUE(session.open());
  const Exchange got = exchange(session.handle(), requestFor("/close/bye", "localhost"));
  ASSERT_EQ(got.end, 0);
  Net::sent.clear();
  session.close();
  // One whole record: the alert, encrypted.
  EXPECT_EQ(wholeRecords(Net::sent), 1);

  // A socket that takes nothing just now: closeSession does not wait for it.
  Socket second(port("localhost"));
  Session other(second, "localhost");
  ASSERT_TRUE(other.open());
  platform::netCalls().send = [](platform::SocketHandle, const void*, int64_t) -> int64_t { return 0; };
  other.close();
}

}  // namespace
