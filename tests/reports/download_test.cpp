#include "reports/download.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/net.h"
#include "platform/tls.h"
#include "support/http_server.h"
#include "support/temp_dir.h"
#include "support/tls_test_server.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

const std::string kOld = "old bytes of an earlier download";
const std::string kFile = "temp.html";

std::string okPage(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string requestFor(const std::string& path, const std::string& hostLine) {
  return "GET /" + path + " HTTP/1.1\r\nAccept: */*\r\nHost: " + hostLine + "\r\nConnection: close\r\n\r\n";
}

constexpr int kSpinningWaits = 100000;

// Calls of the socket and file layers, counted by stand-ins that pass each
// call on to the table as it was when the test began.
struct Log {
  static inline platform::NetCalls net{};
  static inline platform::FsCalls fs{};
  static inline platform::TlsCalls tls{};
  static inline int sockets = 0, socketsClosed = 0, lookups = 0, connects = 0, sends = 0, receives = 0;
  static inline int readTimeouts = 0, filesOpened = 0, filesClosed = 0, writes = 0;
  static inline int handshakes = 0, sessions = 0, sessionsClosed = 0, tlsSends = 0, tlsReceives = 0;
  static inline int tlsWaits = 0;
  static inline int64_t largestWrite = 0, bytesWritten = 0;
  static inline std::vector<uint16_t> connectPorts;
  // No test may listen on port 80 or 443: a connection asked for there goes
  // to the test's server at this port instead, when the test sets one.
  static inline uint16_t redirectFrom = 0, redirectTo = 0;

  static void reset() {
    sockets = socketsClosed = lookups = connects = sends = receives = 0;
    readTimeouts = filesOpened = filesClosed = writes = 0;
    handshakes = sessions = sessionsClosed = tlsSends = tlsReceives = tlsWaits = 0;
    largestWrite = bytesWritten = 0;
    connectPorts.clear();
    redirectFrom = redirectTo = 0;
  }
};

void installCountingTables() {
  platform::NetCalls& net = platform::netCalls();
  net.openTcp = [] {
    const platform::SocketHandle s = Log::net.openTcp();
    if (s != platform::kNoSocket) ++Log::sockets;
    return s;
  };
  net.close = [](platform::SocketHandle s) {
    ++Log::socketsClosed;
    Log::net.close(s);
  };
  net.lookupHost = [](const std::string& name, uint32_t& address) {
    ++Log::lookups;
    return Log::net.lookupHost(name, address);
  };
  net.connect = [](platform::SocketHandle s, uint32_t address, uint16_t port) {
    ++Log::connects;
    Log::connectPorts.push_back(port);
    if (Log::redirectTo != 0 && port == Log::redirectFrom) port = Log::redirectTo;
    return Log::net.connect(s, address, port);
  };
  net.send = [](platform::SocketHandle s, const void* bytes, int64_t count) {
    ++Log::sends;
    return Log::net.send(s, bytes, count);
  };
  net.receive = [](platform::SocketHandle s, void* buffer, int64_t count) {
    ++Log::receives;
    return Log::net.receive(s, buffer, count);
  };
  net.waitReadable = [](platform::SocketHandle s, int64_t ms) {
    const platform::WaitResult r = Log::net.waitReadable(s, ms);
    if (r == platform::WaitResult::TimedOut) ++Log::readTimeouts;
    return r;
  };
  platform::FsCalls& fs = platform::fsCalls();
  fs.open = [](const std::string& path, platform::OpenMode mode) {
    const platform::FileHandle f = Log::fs.open(path, mode);
    if (f != platform::kNoFile) ++Log::filesOpened;
    return f;
  };
  fs.close = [](platform::FileHandle f) {
    ++Log::filesClosed;
    return Log::fs.close(f);
  };
  fs.write = [](platform::FileHandle f, const void* bytes, int64_t count) {
    ++Log::writes;
    Log::largestWrite = std::max(Log::largestWrite, count);
    const int64_t written = Log::fs.write(f, bytes, count);
    Log::bytesWritten += std::max<int64_t>(written, 0);
    return written;
  };
  platform::TlsCalls& tls = platform::tlsCalls();
  tls.handshake = [](platform::SocketHandle s, const std::string& host, int64_t timeoutMs) {
    ++Log::handshakes;
    const platform::TlsSession session = Log::tls.handshake(s, host, timeoutMs);
    if (session != platform::kNoTlsSession) ++Log::sessions;
    return session;
  };
  tls.closeSession = [](platform::TlsSession session) {
    ++Log::sessionsClosed;
    Log::tls.closeSession(session);
  };
  tls.send = [](platform::TlsSession session, const void* bytes, int64_t count) {
    ++Log::tlsSends;
    return Log::tls.send(session, bytes, count);
  };
  tls.receive = [](platform::TlsSession session, void* buffer, int64_t count) {
    ++Log::tlsReceives;
    return Log::tls.receive(session, buffer, count);
  };
  tls.waitReadable = [](platform::TlsSession session, int64_t ms) {
    // A wait that says "ready" again and again while no read brings
    // anything would spin for ever: cut it off (TearDown reports it).
    if (++Log::tlsWaits > kSpinningWaits) return platform::WaitResult::Failed;
    const platform::WaitResult r = Log::tls.waitReadable(session, ms);
    if (r == platform::WaitResult::TimedOut) ++Log::readTimeouts;
    return r;
  };
}

class Download : public testing::Test {
 protected:
  void SetUp() override {
    savedNet_ = platform::netCalls();
    savedFs_ = platform::fsCalls();
    savedClock_ = platform::clockCalls();
    savedTls_ = platform::tlsCalls();
    Log::net = savedNet_;
    Log::fs = savedFs_;
    Log::tls = savedTls_;
    Log::reset();
    installCountingTables();
    ASSERT_TRUE(startNetwork());
    dir_.write(kFile, kOld);
  }

  void TearDown() override {
    stopNetwork();
    platform::netCalls() = savedNet_;
    platform::fsCalls() = savedFs_;
    platform::clockCalls() = savedClock_;
    platform::tlsCalls() = savedTls_;
    // Every way out closes what it opened.
    EXPECT_EQ(Log::socketsClosed, Log::sockets);
    EXPECT_EQ(Log::filesClosed, Log::filesOpened);
    EXPECT_EQ(Log::sessionsClosed, Log::sessions);
    EXPECT_LE(Log::tlsWaits, kSpinningWaits) << "the TLS waits spun";
  }

  int download(const std::string& url) { return downloadToFile(url.c_str(), kFile); }
  std::string file() const { return dir_.read(kFile); }

  TempCwd dir_;

 private:
  platform::NetCalls savedNet_{};
  platform::FsCalls savedFs_{};
  platform::ClockCalls savedClock_{};
  platform::TlsCalls savedTls_{};
};

// --- The request -----------------------------------------------------------

TEST_F(Download, SendsTheRequestBuiltFromTheLink) {
  HttpTestServer server(okPage("ok"));
  ASSERT_TRUE(server.running());
  const std::string hostPort = "127.0.0.1:" + std::to_string(server.port());
  struct Case {
    std::string link;
    std::string path;
  };
  const Case cases[] = {
      {"http://" + hostPort + "/report.php?id=7", "report.php?id=7"},
      // Any scheme but https is fetched with plain HTTP, and is not looked at.
      {"HTTP://" + hostPort + "/x", "x"},
      {"ftp://" + hostPort + "/x", "x"},
      {"httpss://" + hostPort + "/x", "x"},
      {"https ://" + hostPort + "/x", "x"},
      {"://" + hostPort + "/x", "x"},
      // User name and password are sent nowhere.
      {"http://player:secret@" + hostPort + "/x", "x"},
      // "@" and ":" after the first "/" stay in the path.
      {"http://" + hostPort + "/a:b@c:9/d", "a:b@c:9/d"},
      // Nothing after the host: "GET / HTTP/1.1".
      {"http://" + hostPort, ""},
      {"http://" + hostPort + "/", ""},
      // Query, fragment and trailing blanks go out unchanged.
      {"http://" + hostPort + "/r.php?a=%C5%BC&b=2#frag  ", "r.php?a=%C5%BC&b=2#frag  "},
  };
  for (const Case& c : cases) {
    dir_.write(kFile, kOld);
    EXPECT_EQ(download(c.link), 1) << c.link;
    EXPECT_EQ(file(), "ok") << c.link;
    const std::string request = server.lastRequest();
    EXPECT_EQ(request, requestFor(c.path, hostPort)) << c.link;
    EXPECT_EQ(request.find("secret"), std::string::npos);
    EXPECT_EQ(request.find("player"), std::string::npos);
  }
  EXPECT_EQ(Log::lookups, 0);  // a dotted IPv4 host is used without a lookup
  EXPECT_EQ(Log::handshakes, 0);
}

TEST_F(Download, PortEightyGivesAHostLineWithoutPort) {
  HttpTestServer server(okPage("eighty"));
  ASSERT_TRUE(server.running());
  Log::redirectFrom = 80;
  Log::redirectTo = server.port();
  for (const std::string link :
       {"http://127.0.0.1/secure?x=1", "http://127.0.0.1:80/secure?x=1", "ftp://127.0.0.1:/secure?x=1"}) {
    Log::connectPorts.clear();
    EXPECT_EQ(download(link), 1) << link;
    EXPECT_EQ(Log::connectPorts, std::vector<uint16_t>{80}) << link;
    EXPECT_EQ(server.lastRequest(), requestFor("secure?x=1", "127.0.0.1")) << link;
    EXPECT_EQ(file(), "eighty");
  }
}

TEST_F(Download, HttpLinkToPort443StaysPlainWithThePortInTheHostLine) {
  HttpTestServer server(okPage("plain on 443"));
  ASSERT_TRUE(server.running());
  Log::redirectFrom = 443;
  Log::redirectTo = server.port();
  EXPECT_EQ(download("http://127.0.0.1:443/x"), 1);
  EXPECT_EQ(Log::connectPorts, std::vector<uint16_t>{443});
  EXPECT_EQ(server.lastRequest(), requestFor("x", "127.0.0.1:443"));
  EXPECT_EQ(Log::handshakes, 0);
  EXPECT_EQ(file(), "plain on 443");
}

// --- The response ----------------------------------------------------------

TEST_F(Download, ResponsesAndWhatTheyLeaveInTheFile) {
  const std::string chunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  std::string manyChunks, manyBody;
  for (int i = 0; i < 200; ++i) {
    const std::string data(static_cast<size_t>(i % 9 + 1), static_cast<char>('A' + i % 26));
    manyChunks += std::to_string(data.size()) + "\r\n" + data + "\r\n";
    manyBody += data;
  }
  manyChunks += "0\r\n\r\n";
  const std::string bigBody = [] {
    std::string b;
    for (int i = 0; b.size() < 50000; ++i) b += "<tr><td>" + std::to_string(i) + "</td></tr>\r\n";
    return b;
  }();
  struct Case {
    const char* name;
    CannedReply reply;
    int result;
    std::string file;  // kOld: not touched
  };
  const Case cases[] = {
      {"200", okPage("<html>raport</html>"), 1, "<html>raport</html>"},
      {"302 with body", "HTTP/1.1 302 Found\r\nLocation: http://elsewhere/\r\nContent-Length: 5\r\n\r\nmoved",
       1, "moved"},
      {"404", "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found", 0, kOld},
      {"header names in capitals", "HTTP/1.1 200 OK\r\nCONTENT-LENGTH: 3\r\n\r\nabcdef", 1, "abc"},
      {"header names mixed",
       chunkedHead.substr(0, 17) + "TrAnSfEr-EnCoDiNg: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", 1, "abc"},
      {"content-length 0", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", 1, ""},
      {"bytes beyond the length ignored", "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbodyEXTRA", 1, "body"},
      {"large body", okPage(bigBody), 1, bigBody},
      {"chunked in pieces",
       CannedReply().send(chunkedHead + manyChunks.substr(0, 333)).pause(40).send(manyChunks.substr(333)), 1,
       manyBody},
      {"chunk size split across reads",
       CannedReply()
           .send(chunkedHead + "5\r\nhel")
           .pause(40)
           .send("lo\r\n1")
           .pause(40)
           .send("0\r\n0123456789abcdef\r\n0\r\n\r\n"),
       1, "hello0123456789abcdef"},
      {"head in pieces",
       CannedReply()
           .send("HTTP/1.1 200 O")
           .pause(40)
           .send("K\r\nContent-Le")
           .pause(40)
           .send("ngth: 2\r\n\r")
           .pause(40)
           .send("\nok"),
       1, "ok"},
      {"head over 64 KiB",
       "HTTP/1.1 200 OK\r\nX-Big: " + std::string(70000, 'x') + "\r\nContent-Length: 2\r\n\r\nok", 0, kOld},
      {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -2\r\n\r\nok", 0, kOld},
      {"until close", CannedReply().send("HTTP/1.0 200 OK\r\n\r\nfirst ").pause(100).send("second"), 1,
       "first second"},
      // A body cut short is a failure; the file keeps what came.
      {"length cut short", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly this", 0, "only this"},
      {"chunks cut short", chunkedHead + "5\r\nhello\r\n9\r\nworld", 0, "helloworld"},
      {"last chunk missing", chunkedHead + "5\r\nhello\r\n", 0, "hello"},
      {"closed without a reply", "", 0, kOld},
      {"head cut short", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n", 0, kOld},
  };
  for (const Case& c : cases) {
    HttpTestServer server(c.reply);
    ASSERT_TRUE(server.running());
    dir_.write(kFile, kOld);
    EXPECT_EQ(download(server.url("/r")), c.result) << c.name;
    EXPECT_EQ(file(), c.file) << c.name;
  }
}

TEST_F(Download, FileIsNotCreatedForARefusedResponse) {
  HttpTestServer server("HTTP/1.1 403 Forbidden\r\n\r\n");
  std::filesystem::remove(dir_.path() / kFile);
  EXPECT_EQ(download(server.url("/r")), 0);
  EXPECT_FALSE(dir_.has(kFile));
  EXPECT_EQ(Log::filesOpened, 0);
}

TEST_F(Download, UntilCloseEndsWhenTheServerCloses) {
  HttpTestServer server(CannedReply().send("HTTP/1.1 200 OK\r\n\r\npart one, ").pause(300).send("part two"));
  const auto start = steady_clock::now();
  EXPECT_EQ(download(server.url("/")), 1);
  EXPECT_EQ(file(), "part one, part two");
  // The end came from the close itself, not from a read that waited in vain.
  EXPECT_EQ(Log::readTimeouts, 0);
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(Download, UntilCloseEndsAfterOneSecondOfSilence) {
  // The server keeps the connection open: the body ends after a full second
  // without data, and what came is the page.
  HttpTestServer server(CannedReply().send("HTTP/1.1 200 OK\r\n\r\nsilence follows").hold());
  const auto start = steady_clock::now();
  EXPECT_EQ(download(server.url("/")), 1);
  EXPECT_GE(steady_clock::now() - start, milliseconds(1000));
  EXPECT_EQ(Log::readTimeouts, 1);
  EXPECT_EQ(file(), "silence follows");
}

// Slow by design: the whole 10-second time-out of the first read.
TEST_F(Download, ServerThatNeverAnswersTimesOutAfterTenSeconds) {
  HttpTestServer server(CannedReply::neverAnswer());
  const auto start = steady_clock::now();
  EXPECT_EQ(download(server.url("/slow")), 0);
  EXPECT_GE(steady_clock::now() - start, milliseconds(10000));
  EXPECT_EQ(file(), kOld);
  EXPECT_EQ(server.lastRequest(), requestFor("slow", "127.0.0.1:" + std::to_string(server.port())));
}

// --- Links and connections that fail ----------------------------------------

TEST_F(Download, LinksThatCannotBeFetched) {
  EXPECT_EQ(downloadToFile(nullptr, kFile), 0);
  const std::string refused = "http://127.0.0.1:" + std::to_string(HttpTestServer::unusedPort()) + "/r";
  struct Case {
    std::string link;
    int connects;  // how many connections were tried
  };
  const Case cases[] = {
      {"127.0.0.1/no-scheme", 0},
      {"http:///empty-host", 0},
      {"http://user@:81/empty-host", 0},
      {"http://127.0.0.1:65536/port-too-large", 0},
      {"http://127.0.0.1:abc/port-without-digits", 0},
      {"http://255.255.255.255:8080/broadcast", 0},
      {"http://no-such-host.invalid/r", 0},
      {refused, 1},
  };
  for (const Case& c : cases) {
    Log::connects = 0;
    EXPECT_EQ(download(c.link), 0) << c.link;
    EXPECT_EQ(Log::connects, c.connects) << c.link;
    EXPECT_EQ(file(), kOld) << c.link;
  }
  EXPECT_EQ(Log::filesOpened, 0);
}

TEST_F(Download, HostNameIsLookedUpAndItsFirstAddressUsed) {
  HttpTestServer server(okPage("found"));
  platform::netCalls().lookupHost = [](const std::string& name, uint32_t& address) {
    ++Log::lookups;
    if (name != "reports.game.invalid") return false;
    address = 0x7F000001;
    return true;
  };
  const std::string hostLine = "reports.game.invalid:" + std::to_string(server.port());
  EXPECT_EQ(download("http://" + hostLine + "/m?id=1"), 1);
  EXPECT_EQ(file(), "found");
  EXPECT_EQ(server.lastRequest(), requestFor("m?id=1", hostLine));
  EXPECT_EQ(Log::lookups, 1);

  // A lookup that gives 255.255.255.255 is refused before connecting.
  platform::netCalls().lookupHost = [](const std::string&, uint32_t& address) {
    address = 0xFFFFFFFF;
    return true;
  };
  Log::connects = 0;
  EXPECT_EQ(download("http://" + hostLine + "/m"), 0);
  EXPECT_EQ(Log::connects, 0);
}

TEST_F(Download, LocalhostByName) {
  HttpTestServer server(okPage("by name"));
  EXPECT_EQ(download("http://localhost:" + std::to_string(server.port()) + "/"), 1);
  EXPECT_EQ(Log::lookups, 1);
  EXPECT_EQ(file(), "by name");
}

// --- Socket and file calls that fail -----------------------------------------

TEST_F(Download, SocketThatCannotBeCreated) {
  HttpTestServer server(okPage("x"));
  platform::netCalls().openTcp = [] { return platform::kNoSocket; };
  EXPECT_EQ(download(server.url("/")), 0);
  EXPECT_EQ(file(), kOld);
  EXPECT_EQ(server.connectionCount(), 0u);
}

TEST_F(Download, FailedSendIsTriedAgain) {
  HttpTestServer server(okPage("sent"));
  platform::netCalls().send = [](platform::SocketHandle s, const void* bytes, int64_t count) -> int64_t {
    // The first attempt fails, later ones hand over at most 7 bytes each.
    if (Log::sends++ == 0) return -1;
    return Log::net.send(s, bytes, std::min<int64_t>(count, 7));
  };
  const auto start = steady_clock::now();
  EXPECT_EQ(download(server.url("/partial/sends")), 1);
  EXPECT_GE(steady_clock::now() - start, milliseconds(50));  // the pause before trying again
  EXPECT_EQ(server.lastRequest(), requestFor("partial/sends", "127.0.0.1:" + std::to_string(server.port())));
  EXPECT_EQ(file(), "sent");
}

// A stand-in clock: sleeping moves it on, nothing else does.
struct FakeClock {
  static inline int64_t now = 0;
  static int64_t milliseconds() { return now; }
  static void sleep(int64_t ms) { now += ms; }
};

TEST_F(Download, SendGivesUpAfterTenSeconds) {
  HttpTestServer server(okPage("never sent"));
  FakeClock::now = 1000;
  platform::clockCalls() = {FakeClock::milliseconds, FakeClock::sleep};
  platform::netCalls().send = [](platform::SocketHandle, const void*, int64_t) -> int64_t {
    ++Log::sends;
    return -1;
  };
  EXPECT_EQ(download(server.url("/")), 0);
  // Tried every 50 ms for 10 s.
  EXPECT_EQ(FakeClock::now - 1000, 10000);
  EXPECT_EQ(Log::sends, 200);
  EXPECT_EQ(file(), kOld);
}

TEST_F(Download, ReceiveThatBreaksMidBody) {
  HttpTestServer server(
      CannedReply().send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nfirst").pause(200).send("-last"));
  // The read after the first one that brought bytes breaks.
  static bool bytesCame;
  bytesCame = false;
  platform::netCalls().receive = [](platform::SocketHandle s, void* buffer, int64_t count) -> int64_t {
    if (bytesCame) return -1;
    const int64_t got = Log::net.receive(s, buffer, count);
    bytesCame = got > 0;
    return got;
  };
  EXPECT_EQ(download(server.url("/")), 0);
  EXPECT_EQ(file(), "first");
}

TEST_F(Download, FileThatCannotBeCreated) {
  HttpTestServer server(okPage("lost"));
  platform::fsCalls().open = [](const std::string&, platform::OpenMode) { return platform::kNoFile; };
  EXPECT_EQ(download(server.url("/")), 0);
  EXPECT_EQ(file(), kOld);
}

TEST_F(Download, WriteThatFails) {
  const std::string body(3000, 'b');
  const std::string page = okPage(body);
  const size_t headSize = page.find("\r\n\r\n") + 4;
  HttpTestServer server(CannedReply().send(page.substr(0, 1000)).pause(100).send(page.substr(1000)));
  platform::fsCalls().write = [](platform::FileHandle f, const void* bytes, int64_t count) -> int64_t {
    if (++Log::writes == 2) return -1;
    return Log::fs.write(f, bytes, count);
  };
  // A page that did not reach the disk whole must not pass for the report.
  EXPECT_EQ(download(server.url("/")), 0);
  EXPECT_EQ(file(), body.substr(0, 1000 - headSize));
}

TEST_F(Download, PiecesAreWrittenBeforeEachWait) {
  HttpTestServer server(
      CannedReply()
          .send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n400\r\n" + std::string(1024, 'a'))
          .pause(30)
          .send("\r\n400\r\n" + std::string(1024, 'b') + "\r\n0\r\n\r\n"));
  EXPECT_EQ(download(server.url("/")), 1);
  EXPECT_EQ(file(), std::string(1024, 'a') + std::string(1024, 'b'));
  // The first piece went to the file before the download waited for the second.
  EXPECT_EQ(Log::writes, 2);
}

// Every byte read is in the file whenever the download waits, and bytes that
// keep coming are written in blocks, not one write per read.
TEST_F(Download, FileHoldsEveryByteReadWhenItWaits) {
  const std::string first(150000, 'f'), second(70000, 's');
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(first.size() + second.size()) + "\r\n\r\n";
  HttpTestServer server(CannedReply().send(head + first).pause(300).send(second));
  static int64_t bytesReceived, waitsAfterHead, mismatches;
  static size_t headSize;
  bytesReceived = waitsAfterHead = mismatches = 0;
  headSize = head.size();
  platform::netCalls().receive = [](platform::SocketHandle s, void* buffer, int64_t count) {
    ++Log::receives;
    const int64_t got = Log::net.receive(s, buffer, count);
    if (got > 0) bytesReceived += got;
    return got;
  };
  platform::netCalls().waitReadable = [](platform::SocketHandle s, int64_t ms) {
    const int64_t body = bytesReceived - static_cast<int64_t>(headSize);
    if (body > 0) {
      ++waitsAfterHead;
      if (Log::bytesWritten != body) ++mismatches;
    }
    return Log::net.waitReadable(s, ms);
  };
  EXPECT_EQ(download(server.url("/")), 1);
  EXPECT_EQ(file(), first + second);
  EXPECT_GE(waitsAfterHead, 1);  // the pause was waited for
  EXPECT_EQ(mismatches, 0);
  // Over 200 reads of at most 1 KB. A write comes only before a wait, when
  // 64 KB have gathered, or at the end; none is larger than 64 KB and the
  // bytes of one read.
  EXPECT_GT(Log::receives, 200);
  EXPECT_LE(Log::writes, waitsAfterHead + static_cast<int64_t>((first.size() + second.size()) / 65536) + 1);
  EXPECT_LE(Log::largestWrite, 65 * 1024);
}

// --- https links: over TLS, the server verified ------------------------------

// The loopback TLS server that ctest starts for the run, or a skip.
#define REQUIRE_TLS_SERVER(server)                         \
  std::string why_;                                        \
  const TlsTestServer* server = TlsTestServer::find(why_); \
  if (server == nullptr) GTEST_SKIP() << why_

// Calls of the TLS layer that fail: the Nth handshake, read or write.
struct TlsFaults {
  static inline int failAt = 0, calls = 0;
  static void failNth(int n) {
    failAt = n;
    calls = 0;
  }
  static platform::TlsSession handshake(platform::SocketHandle s, const std::string& host,
                                        int64_t timeoutMs) {
    if (++calls == failAt) return platform::kNoTlsSession;
    const platform::TlsSession session = Log::tls.handshake(s, host, timeoutMs);
    if (session != platform::kNoTlsSession) ++Log::sessions;
    return session;
  }
  static int64_t receive(platform::TlsSession session, void* buffer, int64_t count) {
    const int64_t got = Log::tls.receive(session, buffer, count);
    if (got == platform::kNothingWaiting) return got;  // only reads that bring something count
    return ++calls == failAt ? -1 : got;
  }
  static int64_t send(platform::TlsSession session, const void* bytes, int64_t count) {
    if (++calls == failAt) return -1;
    // At most 7 bytes a time: the rest follows.
    return Log::tls.send(session, bytes, std::min<int64_t>(count, 7));
  }
};

std::string patternBytes(size_t count) {
  const std::string pattern = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ<td>\r\n";
  std::string bytes;
  while (bytes.size() < count) bytes += pattern;
  bytes.resize(count);
  return bytes;
}

// The server's echo replies carry the request's bytes as the body.
TEST_F(Download, TlsBodiesUnderEveryFraming) {
  REQUIRE_TLS_SERVER(tls);
  const std::string byName = "localhost:" + std::to_string(tls->port("localhost"));
  const std::string byAddress = "127.0.0.1:" + std::to_string(tls->port("ip"));
  struct Case {
    std::string link;
    std::string path;
    std::string hostLine;
  };
  const Case cases[] = {
      {"https://" + byName + "/cl/report.php?id=7", "cl/report.php?id=7", byName},
      {"https://" + byName + "/chunked/r?a=%C5%BC#frag", "chunked/r?a=%C5%BC#frag", byName},
      // Until close: the body ends at close_notify while the server keeps
      // the connection open, or at the connection's end without one.
      {"https://" + byName + "/close/r", "close/r", byName},
      {"https://" + byName + "/abrupt/r", "abrupt/r", byName},
      // The scheme in any letter case; userinfo is sent nowhere.
      {"HTTPS://player:secret@" + byName + "/cl/x", "cl/x", byName},
      {"hTtPs://" + byName + "/chunked/x", "chunked/x", byName},
      // A dotted host is checked against the certificate's IP address entry.
      {"https://" + byAddress + "/cl/by-address", "cl/by-address", byAddress},
      {"https://" + byAddress + "/close/by-address", "close/by-address", byAddress},
  };
  for (const Case& c : cases) {
    dir_.write(kFile, kOld);
    Log::readTimeouts = 0;
    EXPECT_EQ(download(c.link), 1) << c.link;
    EXPECT_EQ(file(), requestFor(c.path, c.hostLine)) << c.link;
    // No read waited in vain: the end came from the server, not from a
    // second of silence.
    EXPECT_EQ(Log::readTimeouts, 0) << c.link;
  }
  EXPECT_EQ(Log::sessions, static_cast<int>(std::size(cases)));
}

TEST_F(Download, TlsLargeBodies) {
  REQUIRE_TLS_SERVER(tls);
  const std::string expected = patternBytes(300000);
  for (const std::string path : {"/big/300000/r", "/bigclose/300000/r"}) {
    EXPECT_EQ(download(tls->url("localhost", path)), 1) << path;
    EXPECT_TRUE(file() == expected) << path << ": " << file().size() << " bytes";
  }
  EXPECT_LE(Log::largestWrite, 65 * 1024);
}

TEST_F(Download, HttpsLinkWithoutPortGoesTo443WithAHostLineWithoutPort) {
  REQUIRE_TLS_SERVER(tls);
  // Nothing listens on 443 here: the connection is taken to the test server.
  Log::redirectFrom = 443;
  Log::redirectTo = tls->port("localhost");
  for (const std::string link :
       {"https://localhost/cl/m?id=1", "https://localhost:/cl/m?id=1", "https://localhost:443/cl/m?id=1"}) {
    Log::connectPorts.clear();
    dir_.write(kFile, kOld);
    EXPECT_EQ(download(link), 1) << link;
    EXPECT_EQ(Log::connectPorts, std::vector<uint16_t>{443}) << link;
    EXPECT_EQ(file(), requestFor("cl/m?id=1", "localhost")) << link;
  }
}

// The same without a server (it runs on every system): the port asked for.
TEST_F(Download, HttpsLinkWithoutPortConnectsTo443) {
  platform::netCalls().connect = [](platform::SocketHandle, uint32_t, uint16_t port) {
    ++Log::connects;
    Log::connectPorts.push_back(port);
    return false;
  };
  const std::string links[] = {"https://127.0.0.1/r", "https://127.0.0.1:/r", "HTTPS://127.0.0.1",
                               "Https://u@127.0.0.1"};
  for (const std::string& link : links) {
    Log::connectPorts.clear();
    EXPECT_EQ(download(link), 0) << link;
    EXPECT_EQ(Log::connectPorts, std::vector<uint16_t>{443}) << link;
  }
  EXPECT_EQ(Log::handshakes, 0);
  EXPECT_EQ(file(), kOld);
}

TEST_F(Download, TlsFailuresAreFailedDownloads) {
  REQUIRE_TLS_SERVER(tls);
  const auto on = [tls](const std::string& listener, const std::string& host) {
    return "https://" + host + ":" + std::to_string(tls->port(listener)) + "/cl/r";
  };
  struct Case {
    const char* what;
    std::string link;
  };
  std::vector<Case> cases = {
      {"chain from a CA nobody trusts", on("untrusted", "localhost")},
      {"self-signed", on("selfsigned", "localhost")},
      {"expired", on("expired", "localhost")},
      {"certificate for another name", on("othername", "localhost")},
      {"name certificate, address in the link", on("localhost", "127.0.0.1")},
      {"address certificate, name in the link", on("ip", "localhost")},
      {"plain HTTP server on the TLS port", on("plain", "127.0.0.1")},
      {"fatal alert in the handshake", on("alert", "localhost")},
      {"status 404 over TLS", tls->url("localhost", "/404/r")},
  };
  if (tls->port("tls11") != 0) cases.push_back({"TLS 1.1 only", on("tls11", "localhost")});
  for (const Case& c : cases) {
    EXPECT_EQ(download(c.link), 0) << c.what;
    EXPECT_EQ(file(), kOld) << c.what;
  }
  EXPECT_EQ(Log::filesOpened, 0);
  // The request went out only to the verified server with the 404.
  EXPECT_EQ(Log::sessions, 1);
}

TEST_F(Download, TlsStreamCutShortOrBroken) {
  REQUIRE_TLS_SERVER(tls);
  const std::string hostLine = "localhost:" + std::to_string(tls->port("localhost"));
  // The server announces more than it sends (or stops before the last
  // chunk), then sends close_notify; or a record that does not decrypt
  // follows an until-close body. The file keeps what came.
  for (const std::string path : {"cut/r", "cutchunked/r", "garbage/r"}) {
    dir_.write(kFile, kOld);
    EXPECT_EQ(download(tls->url("localhost", "/" + path)), 0) << path;
    EXPECT_EQ(file(), requestFor(path, hostLine)) << path;
  }
}

// Part of a record, and its rest never comes: the read's time-out ends it.
TEST_F(Download, TlsRecordThatNeverEndsTimesOut) {
  REQUIRE_TLS_SERVER(tls);
  FakeClock::now = 0;
  platform::clockCalls() = {FakeClock::milliseconds, FakeClock::sleep};
  // The handshake and the reply come at once (real waits); after them, a
  // wait in vain passes its whole time on the test's clock.
  platform::netCalls().waitReadable = [](platform::SocketHandle s, int64_t ms) {
    if (Log::sessions == 0) return Log::net.waitReadable(s, ms);
    const platform::WaitResult r = Log::net.waitReadable(s, std::min<int64_t>(ms, 1500));
    if (r == platform::WaitResult::TimedOut) FakeClock::now += ms;
    return r;
  };
  EXPECT_EQ(download(tls->url("localhost", "/partial/r")), 0);
  EXPECT_EQ(FakeClock::now, 10000);
  EXPECT_EQ(file(), requestFor("partial/r", "localhost:" + std::to_string(tls->port("localhost"))));
}

TEST_F(Download, TlsHandshakeThatStallsTimesOutAfterTenSeconds) {
  REQUIRE_TLS_SERVER(tls);
  // A clock of the test's own: every wait of the socket layer passes its
  // whole time at once, and nothing ever comes.
  FakeClock::now = 5000;
  platform::clockCalls() = {FakeClock::milliseconds, FakeClock::sleep};
  static std::vector<int64_t> waits;
  waits.clear();
  platform::netCalls().waitReadable = [](platform::SocketHandle, int64_t ms) {
    waits.push_back(ms);
    FakeClock::now += ms;
    return platform::WaitResult::TimedOut;
  };
  EXPECT_EQ(download(tls->url("stall", "/cl/r")), 0);
  EXPECT_EQ(FakeClock::now - 5000, 10000);
  EXPECT_EQ(waits, std::vector<int64_t>{10000});
  EXPECT_EQ(Log::sessions, 0);
  EXPECT_EQ(file(), kOld);
}

TEST_F(Download, TlsHandshakeTimeCountsAgainstTheFirstData) {
  REQUIRE_TLS_SERVER(tls);
  FakeClock::now = 0;
  platform::clockCalls() = {FakeClock::milliseconds, FakeClock::sleep};
  static std::vector<int64_t> handshakeLimits, readWaits;
  static bool firstReceive;
  handshakeLimits.clear();
  readWaits.clear();
  firstReceive = true;
  // The handshake takes 4 s of the clock; the first read finds nothing yet.
  platform::tlsCalls().handshake = [](platform::SocketHandle s, const std::string& host, int64_t timeoutMs) {
    handshakeLimits.push_back(timeoutMs);
    FakeClock::now += 4000;
    const platform::TlsSession session = Log::tls.handshake(s, host, timeoutMs);
    if (session != platform::kNoTlsSession) ++Log::sessions;
    return session;
  };
  platform::tlsCalls().receive = [](platform::TlsSession session, void* buffer, int64_t count) -> int64_t {
    if (firstReceive) {
      firstReceive = false;
      return platform::kNothingWaiting;
    }
    return Log::tls.receive(session, buffer, count);
  };
  platform::tlsCalls().waitReadable = [](platform::TlsSession session, int64_t ms) {
    readWaits.push_back(ms);
    return Log::tls.waitReadable(session, ms);
  };
  EXPECT_EQ(download(tls->url("localhost", "/cl/r")), 1);
  EXPECT_EQ(handshakeLimits, std::vector<int64_t>{10000});
  ASSERT_FALSE(readWaits.empty());
  EXPECT_EQ(readWaits.front(), 6000);
}

TEST_F(Download, TlsHandshakeThatFails) {
  REQUIRE_TLS_SERVER(tls);
  platform::tlsCalls().handshake = TlsFaults::handshake;
  TlsFaults::failNth(2);
  const std::string link = tls->url("localhost", "/big/5000/r");
  for (const int result : {1, 0, 1}) {
    dir_.write(kFile, kOld);
    EXPECT_EQ(download(link), result);
    EXPECT_EQ(file(), result ? patternBytes(5000) : kOld);
  }
  EXPECT_EQ(Log::sessions, 2);
}

TEST_F(Download, TlsReadThatBreaks) {
  REQUIRE_TLS_SERVER(tls);
  platform::tlsCalls().receive = TlsFaults::receive;
  const std::string link = tls->url("localhost", "/big/5000/r");
  // The first read brings the head: nothing is touched.
  TlsFaults::failNth(1);
  EXPECT_EQ(download(link), 0);
  EXPECT_EQ(file(), kOld);
  // A later one breaks the body: the file keeps what came.
  TlsFaults::failNth(3);
  EXPECT_EQ(download(link), 0);
  const std::string kept = file();
  EXPECT_GT(kept.size(), 0u);
  EXPECT_LT(kept.size(), 5000u);
  EXPECT_EQ(kept, patternBytes(kept.size()));
}

TEST_F(Download, TlsWritesThatFailOrTakeLittle) {
  REQUIRE_TLS_SERVER(tls);
  platform::tlsCalls().send = TlsFaults::send;
  // The first write fails and is tried again; the rest go 7 bytes at a time.
  TlsFaults::failNth(1);
  const std::string path = "cl/partial/writes?over=tls";
  EXPECT_EQ(download(tls->url("localhost", "/" + path)), 1);
  EXPECT_EQ(file(), requestFor(path, "localhost:" + std::to_string(tls->port("localhost"))));
  EXPECT_GT(TlsFaults::calls, 10);

  // Writes that always fail give up after 10 s of the clock.
  FakeClock::now = 0;
  platform::clockCalls() = {FakeClock::milliseconds, FakeClock::sleep};
  platform::tlsCalls().send = [](platform::TlsSession, const void*, int64_t) -> int64_t {
    ++Log::tlsSends;
    return -1;
  };
  dir_.write(kFile, kOld);
  EXPECT_EQ(download(tls->url("localhost", "/cl/r")), 0);
  EXPECT_EQ(FakeClock::now, 10000);
  EXPECT_EQ(Log::tlsSends, 200);
  EXPECT_EQ(file(), kOld);
}

// --- The socket layer's start and stop ---------------------------------------

TEST(Network, StopShutsDownOnlyWhatStarted) {
  const platform::NetCalls saved = platform::netCalls();
  static int startups, cleanups;
  static bool startupWorks;
  startups = cleanups = 0;
  platform::netCalls().startup = [] {
    ++startups;
    return startupWorks;
  };
  platform::netCalls().cleanup = [] { ++cleanups; };

  startupWorks = false;
  EXPECT_FALSE(startNetwork());
  stopNetwork();
  EXPECT_EQ(cleanups, 0);

  startupWorks = true;
  EXPECT_TRUE(startNetwork());
  stopNetwork();
  EXPECT_EQ(startups, 2);
  EXPECT_EQ(cleanups, 1);
  stopNetwork();
  EXPECT_EQ(cleanups, 1);
  platform::netCalls() = saved;
}

}  // namespace
