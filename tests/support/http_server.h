#pragma once
// A scripted HTTP server for tests and benchmarks: a thread listening on
// 127.0.0.1 at a port the system picks. It takes one connection at a time,
// reads the request up to its empty line, records the request's exact bytes
// ("" for a reply that reads nothing), then plays a canned reply step by step and closes the connection.
//
//   HttpTestServer server("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
//   downloadToFile(server.url("/page").c_str(), "temp.html");
//   EXPECT_EQ(server.lastRequest(), "GET /page HTTP/1.1\r\n...");
//
// It uses the operating system's sockets directly (not platform/net.h), so
// tests that make calls of the program's socket layer fail do not touch it.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What the server does with one connection after reading its request.
class CannedReply {
 public:
  CannedReply() = default;
  // Send these bytes, then close.
  CannedReply(std::string bytes);  // NOLINT(google-explicit-constructor): a reply is its bytes
  CannedReply(const char* bytes) : CannedReply(std::string(bytes)) {}  // NOLINT

  // Steps, played in order; the connection is closed after the last one.
  CannedReply& send(std::string bytes);
  // `totalBytes` bytes made of `pattern` repeated, sent without holding them
  // all in memory (for very large bodies).
  CannedReply& sendRepeated(std::string pattern, uint64_t totalBytes);
  CannedReply& pause(int milliseconds);
  // Keep the connection open and silent until the client closes it or the
  // server stops.
  CannedReply& hold();

  // Accept, read the request, never answer.
  static CannedReply neverAnswer() { return CannedReply().hold(); }
  // Accept and read nothing at all, not even the request, for `milliseconds`
  // (or until the server stops); then close. The connection's receive buffer
  // is kept small (16 KiB): a client that sends much more than its own send
  // buffer holds finds the connection full.
  static CannedReply neverRead(int milliseconds);
  // "HTTP/1.1 200 OK" with a Content-Length header and the body.
  static CannedReply page(const std::string& body);

  struct Step {
    enum class Kind { Send, SendRepeated, Pause, Hold } kind;
    std::string bytes;
    uint64_t count = 0;  // SendRepeated: total bytes; Pause: milliseconds
  };
  const std::vector<Step>& steps() const { return steps_; }
  // False for neverRead(): the steps begin as soon as the connection is taken.
  bool readsRequest() const { return readsRequest_; }

 private:
  std::vector<Step> steps_;
  bool readsRequest_ = true;
};

class HttpTestServer {
 public:
  // Every connection gets this reply.
  explicit HttpTestServer(CannedReply reply);
  // The Nth connection gets the Nth reply; the last one repeats.
  explicit HttpTestServer(std::vector<CannedReply> replies);
  ~HttpTestServer();  // stops
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  // False when the server could not listen (then port() is 0).
  bool running() const;
  uint16_t port() const;
  // "http://127.0.0.1:PORT" followed by `path`.
  std::string url(const std::string& path = "/") const;

  // The exact bytes of every request so far, in arrival order.
  std::vector<std::string> requests() const;
  std::string lastRequest() const;  // "" when none came
  size_t connectionCount() const;
  // When the server closed its side of the last finished connection
  // (time_point{} when none finished).
  std::chrono::steady_clock::time_point lastCloseTime() const;
  // Blocks until `count` connections have been played to their end, or
  // `timeout` has passed; true when they have.
  bool waitForConnections(size_t count, std::chrono::milliseconds timeout) const;

  // Ends the thread; connections in progress are cut. Called by the destructor.
  void stop();

  // A loopback port on which nobody listens (a connection to it is refused).
  static uint16_t unusedPort();
  // Sets the send buffer of a client's socket (one of platform/net.h) to
  // about `bytes`, so that a test knows how much a connection holds before
  // it is full, whatever the system's own tuning (Linux grows a loopback
  // send buffer to megabytes).
  static bool limitSendBuffer(intptr_t clientSocket, int bytes);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
