#include "reports/download.h"

#include <algorithm>
#include <cstdint>

#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/net.h"
#include "reports/http_link.h"
#include "reports/http_response.h"

namespace {

bool networkStarted = false;

constexpr int64_t kSendTimeoutMs = 10000;
constexpr int64_t kSendRetryPauseMs = 50;
constexpr uint32_t kNoAddress = 0xFFFFFFFF;  // 255.255.255.255: never a server

// The connection of one download; closed on every way out.
class Connection {
 public:
  Connection() = default;
  ~Connection() {
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

  // All `count` bytes within `timeoutMs`; a send that fails is tried again
  // after a short pause.
  bool sendAll(const char* bytes, size_t count, int64_t timeoutMs) {
    const platform::NetCalls& net = platform::netCalls();
    const platform::ClockCalls& clock = platform::clockCalls();
    const int64_t start = clock.milliseconds();
    size_t sent = 0;
    for (;;) {
      const int64_t left = std::max<int64_t>(timeoutMs - (clock.milliseconds() - start), 0);
      const platform::WaitResult ready = net.waitWritable(socket_, left);
      if (ready == platform::WaitResult::TimedOut) return false;
      const int64_t n = ready == platform::WaitResult::Ready
                            ? net.send(socket_, bytes + sent, static_cast<int64_t>(count - sent))
                            : -1;
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
  // because the time ran out, the server closed the connection or it broke.
  // Bytes already waiting are taken at once; else it waits for them.
  int64_t receive(char* buffer, size_t count, int64_t timeoutMs) {
    const platform::NetCalls& net = platform::netCalls();
    const platform::ClockCalls& clock = platform::clockCalls();
    const int64_t start = clock.milliseconds();
    for (;;) {
      const int64_t got = net.receive(socket_, buffer, static_cast<int64_t>(count));
      if (got != platform::kNothingWaiting) return std::max<int64_t>(got, 0);
      const int64_t left = std::max<int64_t>(timeoutMs - (clock.milliseconds() - start), 0);
      if (net.waitReadable(socket_, left) != platform::WaitResult::Ready) return 0;
    }
  }

 private:
  platform::SocketHandle socket_ = platform::kNoSocket;
};

// The file the body goes into; created only once the response is accepted.
class BodyFile {
 public:
  BodyFile() = default;
  ~BodyFile() {
    if (isOpen()) platform::fsCalls().close(file_);
  }
  BodyFile(const BodyFile&) = delete;
  BodyFile& operator=(const BodyFile&) = delete;

  bool isOpen() const { return file_ != platform::kNoFile; }
  bool create(const std::string& name) {
    file_ = platform::fsCalls().open(name, platform::OpenMode::ReadWriteTruncate);
    return isOpen();
  }
  bool write(const std::string& bytes) {
    const int64_t count = static_cast<int64_t>(bytes.size());
    return platform::fsCalls().write(file_, bytes.data(), count) == count;
  }
  bool close() {
    const platform::FileHandle file = file_;
    file_ = platform::kNoFile;
    return platform::fsCalls().close(file);
  }

 private:
  platform::FileHandle file_ = platform::kNoFile;
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
  const std::string request = buildRequest(link);
  if (!connection.sendAll(request.data(), request.size(), kSendTimeoutMs)) return 0;

  HttpResponseDecoder response;
  BodyFile file;
  char buffer[HttpResponseDecoder::kMaxReadBytes];
  std::string body;
  body.reserve(sizeof buffer);
  while (response.result() == HttpResponseDecoder::Result::NeedMore) {
    const int64_t got =
        connection.receive(buffer, response.nextReadSize(), int64_t{response.readTimeoutSeconds()} * 1000);
    if (got > 0) {
      response.feed(buffer, static_cast<size_t>(got), body);
    } else {
      response.finish();
    }
    if (response.headAccepted() && !file.isOpen() && !file.create(fileName)) return 0;
    // Each piece goes to the file as it comes. A piece that cannot be
    // written fails the download: a partial page must not pass as the report.
    if (!body.empty() && !file.write(body)) return 0;
    body.clear();
  }
  if (why != nullptr) *why = response.failure();
  // A body cut short (connection ended or broke before the announced length
  // or the last chunk) fails; the file keeps what came.
  if (response.result() != HttpResponseDecoder::Result::Done) return 0;
  return file.close() ? 1 : 0;
}
