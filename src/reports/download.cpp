#include "reports/download.h"

#include <algorithm>
#include <cstdint>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/net.h"
#include "platform/tls.h"
#include "reports/http_link.h"
#include "reports/http_response.h"

namespace {

bool networkStarted = false;

constexpr int64_t kSendTimeoutMs = 10000;
constexpr int64_t kSendRetryPauseMs = 50;
constexpr uint32_t kNoAddress = 0xFFFFFFFF;  // 255.255.255.255: never a server
// Body bytes held before they go to the file: they are written in blocks of
// this size at most, and always before the download waits for more.
constexpr size_t kWriteBlockBytes = size_t{64} * 1024;

// The connection of one download, plain or over TLS; closed on every way out.
class Connection {
 public:
  Connection() = default;
  ~Connection() {
    if (tls_ != platform::kNoTlsSession) platform::tlsCalls().closeSession(tls_);
    if (socket_ != platform::kNoSocket) platform::netCalls().close(socket_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // A dotted IPv4 host is used as it is, any other is looked up.
  bool open(const LinkParts& link) {
    const platform::NetCalls& net = platform::netCalls();
    socket_ = net.openTcp();
    if (socket_ == platform::kNoSocket) return false;
    uint32_t address = kNoAddress;
    if (!parseDottedIpv4(link.host, address) && !net.lookupHost(link.host, address)) return false;
    // Port 0 (a port text without digits) cannot be connected to.
    if (address == kNoAddress || link.port == 0) return false;
    return net.connect(socket_, address, link.port);
  }

  // TLS over the open connection, the server verified for `host`; every
  // later byte goes through it.
  bool startTls(const std::string& host, int64_t timeoutMs) {
    tls_ = platform::tlsCalls().handshake(socket_, host, timeoutMs);
    return tls_ != platform::kNoTlsSession;
  }

  // All `count` bytes within `timeoutMs`; a send that fails is tried again
  // after a short pause.
  bool sendAll(const char* bytes, size_t count, int64_t timeoutMs) {
    const platform::ClockCalls& clock = platform::clockCalls();
    const int64_t start = clock.milliseconds();
    size_t sent = 0;
    for (;;) {
      const int64_t left = std::max<int64_t>(timeoutMs - (clock.milliseconds() - start), 0);
      const platform::WaitResult ready = waitWritable(left);
      if (ready == platform::WaitResult::TimedOut) return false;
      const int64_t n =
          ready == platform::WaitResult::Ready ? send(bytes + sent, static_cast<int64_t>(count - sent)) : -1;
      if (n > 0) {
        sent += static_cast<size_t>(n);
        if (sent == count) return true;
      } else if (n < 0) {
        clock.sleep(std::min(kSendRetryPauseMs, left));
      }
      if (clock.milliseconds() - start >= timeoutMs) return false;
    }
  }

  // Bytes received within `timeoutMs`, at most `count`; 0 when none came
  // because the time ran out, the server closed the connection or the
  // socket broke. -1 when TLS failed (a fatal alert, a record that does not
  // decrypt: never the server's data) or `beforeWaiting` did. Bytes already
  // waiting are taken at once; before it waits for more, `beforeWaiting()`
  // runs.
  template <class BeforeWaiting>
  int64_t receive(char* buffer, size_t count, int64_t timeoutMs, BeforeWaiting&& beforeWaiting) {
    int64_t got = receiveNow(buffer, static_cast<int64_t>(count));
    if (got != platform::kNothingWaiting) return received(got);
    if (!beforeWaiting()) return -1;
    const platform::ClockCalls& clock = platform::clockCalls();
    const int64_t start = clock.milliseconds();
    for (;;) {
      const int64_t left = std::max<int64_t>(timeoutMs - (clock.milliseconds() - start), 0);
      if (waitReadable(left) != platform::WaitResult::Ready) return 0;
      got = receiveNow(buffer, static_cast<int64_t>(count));
      if (got != platform::kNothingWaiting) return received(got);
    }
  }

 private:
  // A socket that breaks ends the data as the connection's end does.
  int64_t received(int64_t got) const {
    if (got >= 0) return got;
    return tls_ != platform::kNoTlsSession ? -1 : 0;
  }
  platform::WaitResult waitReadable(int64_t ms) {
    return tls_ != platform::kNoTlsSession ? platform::tlsCalls().waitReadable(tls_, ms)
                                           : platform::netCalls().waitReadable(socket_, ms);
  }
  platform::WaitResult waitWritable(int64_t ms) {
    return tls_ != platform::kNoTlsSession ? platform::tlsCalls().waitWritable(tls_, ms)
                                           : platform::netCalls().waitWritable(socket_, ms);
  }
  int64_t send(const char* bytes, int64_t count) {
    return tls_ != platform::kNoTlsSession ? platform::tlsCalls().send(tls_, bytes, count)
                                           : platform::netCalls().send(socket_, bytes, count);
  }
  int64_t receiveNow(char* buffer, int64_t count) {
    return tls_ != platform::kNoTlsSession ? platform::tlsCalls().receive(tls_, buffer, count)
                                           : platform::netCalls().receive(socket_, buffer, count);
  }

  platform::SocketHandle socket_ = platform::kNoSocket;
  platform::TlsSession tls_ = platform::kNoTlsSession;
};

// The file the body goes into; created only once the response is accepted.
// Body bytes gather in a block of bounded size and go to the file when it is
// full and whenever the download is about to wait (flush): no byte that has
// been read waits in memory while the network is silent.
class BodyFile {
 public:
  BodyFile() { pending_.reserve(kWriteBlockBytes); }

  bool isOpen() const { return file_.isOpen(); }
  bool create(const std::string& name) { return file_.open(name, platform::OpenMode::ReadWriteTruncate); }
  // Takes the bytes; false when a write of a full block failed.
  bool add(const std::string& bytes) {
    pending_ += bytes;
    return pending_.size() < kWriteBlockBytes || flush();
  }
  // Writes what is held; false when that fails (nothing to write is fine).
  bool flush() {
    if (pending_.empty()) return true;
    const bool written = file_.writeAll(pending_);
    pending_.clear();
    return written;
  }
  bool close() {
    const bool written = flush();
    return file_.close() && written;
  }

 private:
  platform::File file_;
  std::string pending_;
};

}  // namespace

bool startNetwork() {
  if (!networkStarted) networkStarted = platform::netCalls().startup();
  return networkStarted;
}

void stopNetwork() {
  if (!networkStarted) return;
  platform::netCalls().cleanup();
  networkStarted = false;
}

int downloadToFile(const char* url, const std::string& fileName, HttpResponseDecoder::Failure* why) {
  if (why != nullptr) *why = HttpResponseDecoder::Failure::None;
  if (url == nullptr) return 0;
  LinkParts link;
  if (!splitLink(url, link)) return 0;

  Connection connection;
  if (!connection.open(link)) return 0;
  HttpResponseDecoder response;
  // The TLS handshake counts against the time allowed for the first data.
  int64_t handshakeMs = 0;
  if (link.tls) {
    const platform::ClockCalls& clock = platform::clockCalls();
    const int64_t start = clock.milliseconds();
    if (!connection.startTls(link.host, int64_t{response.readTimeoutSeconds()} * 1000)) return 0;
    handshakeMs = clock.milliseconds() - start;
  }
  const std::string request = buildRequest(link);
  if (!connection.sendAll(request.data(), request.size(), kSendTimeoutMs)) return 0;

  BodyFile file;
  char buffer[HttpResponseDecoder::kMaxReadBytes];
  std::string body;
  body.reserve(sizeof buffer);
  bool firstRead = true;
  const auto flushBeforeWaiting = [&file] { return !file.isOpen() || file.flush(); };
  while (response.result() == HttpResponseDecoder::Result::NeedMore) {
    int64_t timeoutMs = int64_t{response.readTimeoutSeconds()} * 1000;
    if (firstRead) timeoutMs = std::max<int64_t>(timeoutMs - handshakeMs, 0);
    firstRead = false;
    const int64_t got = connection.receive(buffer, response.nextReadSize(), timeoutMs, flushBeforeWaiting);
    // A piece that cannot be written fails the download: a partial page
    // must not pass as the report. So does a TLS stream that breaks, under
    // every framing; the file keeps what came.
    if (got < 0) {
      if (file.isOpen()) file.flush();
      return 0;
    }
    if (got > 0) {
      response.feed(buffer, static_cast<size_t>(got), body);
    } else {
      response.finish();
    }
    if (response.headAccepted() && !file.isOpen() && !file.create(fileName)) return 0;
    if (!body.empty() && !file.add(body)) return 0;
    body.clear();
  }
  if (why != nullptr) *why = response.failure();
  // A body cut short (connection ended or broke before the announced length
  // or the last chunk) fails; the file keeps what came.
  if (response.result() != HttpResponseDecoder::Result::Done) {
    if (file.isOpen()) file.flush();
    return 0;
  }
  return file.close() ? 1 : 0;
}
