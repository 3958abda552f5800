// The TLS service on its own, over a socket of the socket service, against
// the loopback TLS test server: what each call gives back at the stream's
// data, its ends and its failures.
#include "platform/tls.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/clock.h"
#include "platform/net.h"
#include "support/tls_test_server.h"

namespace {

using platform::kNoTlsSession;
using platform::TlsSession;
using platform::WaitResult;

constexpr int64_t kGenerousMs = 10000;

class Tls : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    server_ = TlsTestServer::find(why);
    if (server_ == nullptr) GTEST_SKIP() << why;
    ASSERT_TRUE(platform::netCalls().startup());
    started_ = true;
  }
  void TearDown() override {
    if (session_ != kNoTlsSession) platform::tlsCalls().closeSession(session_);
    if (socket_ != platform::kNoSocket) platform::netCalls().close(socket_);
    if (started_) platform::netCalls().cleanup();
  }

  // A TCP connection to the listener, and the handshake over it for `host`.
  TlsSession connect(const std::string& listener, const std::string& host, int64_t timeoutMs = kGenerousMs) {
    const platform::NetCalls& net = platform::netCalls();
    socket_ = net.openTcp();
    if (socket_ == platform::kNoSocket || !net.connect(socket_, 0x7F000001, server_->port(listener)))
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

  const TlsTestServer* server_ = nullptr;
  platform::SocketHandle socket_ = platform::kNoSocket;
  TlsSession session_ = kNoTlsSession;
  bool started_ = false;
};

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
  };
  for (const Case& c : cases) {
    if (server_->port(c.listener) == 0) continue;  // no TLS 1.1 in this OpenSSL
    EXPECT_EQ(connect(c.listener, c.host), kNoTlsSession) << c.listener << " as " << c.host;
    platform::netCalls().close(socket_);
    socket_ = platform::kNoSocket;
  }
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

}  // namespace
