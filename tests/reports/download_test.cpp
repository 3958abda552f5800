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
#include "support/http_server.h"
#include "support/temp_dir.h"

namespace {

using Failure = HttpResponseDecoder::Failure;
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

// Calls of the socket and file layers, counted by stand-ins that pass each
// call on to the table as it was when the test began.
struct Log {
  static inline platform::NetCalls net{};
  static inline platform::FsCalls fs{};
  static inline int sockets = 0, socketsClosed = 0, lookups = 0, connects = 0, sends = 0, receives = 0;
  static inline int readTimeouts = 0, filesOpened = 0, filesClosed = 0, writes = 0;
  static inline int64_t largestWrite = 0;
  static inline std::vector<uint16_t> connectPorts;
  static inline uint16_t redirectPort80 = 0;  // where a connection to port 80 really goes

  static void reset() {
    sockets = socketsClosed = lookups = connects = sends = receives = 0;
    readTimeouts = filesOpened = filesClosed = writes = 0;
    largestWrite = 0;
    connectPorts.clear();
    redirectPort80 = 0;
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
    // No test may listen on port 80: a connection asked for there goes to
    // the test's server instead, when the test says so.
    if (port == 80 && Log::redirectPort80 != 0) port = Log::redirectPort80;
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
    return Log::fs.write(f, bytes, count);
  };
}

class Download : public testing::Test {
 protected:
  void SetUp() override {
    savedNet_ = platform::netCalls();
    savedFs_ = platform::fsCalls();
    savedClock_ = platform::clockCalls();
    Log::net = savedNet_;
    Log::fs = savedFs_;
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
    // Every way out closes what it opened.
    EXPECT_EQ(Log::socketsClosed, Log::sockets);
    EXPECT_EQ(Log::filesClosed, Log::filesOpened);
  }

  // Each download also says why its response failed, in `why_`.
  int download(const std::string& url) { return downloadToFile(url.c_str(), kFile, &why_); }
  std::string file() const { return dir_.read(kFile); }

  TempCwd dir_;
  Failure why_ = Failure::None;

 private:
  platform::NetCalls savedNet_{};
  platform::FsCalls savedFs_{};
  platform::ClockCalls savedClock_{};
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
      // Any scheme is fetched with plain HTTP.
      {"https://" + hostPort + "/x", "x"},
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
}

TEST_F(Download, PortEightyGivesAHostLineWithoutPort) {
  HttpTestServer server(okPage("eighty"));
  ASSERT_TRUE(server.running());
  Log::redirectPort80 = server.port();
  for (const std::string link : {"https://127.0.0.1/secure?x=1", "http://127.0.0.1:80/secure?x=1"}) {
    Log::connectPorts.clear();
    EXPECT_EQ(download(link), 1) << link;
    EXPECT_EQ(Log::connectPorts, std::vector<uint16_t>{80}) << link;
    EXPECT_EQ(server.lastRequest(), requestFor("secure?x=1", "127.0.0.1")) << link;
    EXPECT_EQ(file(), "eighty");
  }
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
    Failure why = Failure::None;
  };
  const Case cases[] = {
      {"200", okPage("<html>raport</html>"), 1, "<html>raport</html>"},
      {"302 with body", "HTTP/1.1 302 Found\r\nLocation: http://elsewhere/\r\nContent-Length: 5\r\n\r\nmoved",
       1, "moved"},
      {"404", "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found", 0, kOld,
       Failure::StatusNotAccepted},
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
       "HTTP/1.1 200 OK\r\nX-Big: " + std::string(70000, 'x') + "\r\nContent-Length: 2\r\n\r\nok", 0, kOld,
       Failure::HeadTooLong},
      {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -2\r\n\r\nok", 0, kOld,
       Failure::BadContentLength},
      {"until close", CannedReply().send("HTTP/1.0 200 OK\r\n\r\nfirst ").pause(100).send("second"), 1,
       "first second"},
      // A body cut short is a failure; the file keeps what came.
      {"length cut short", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly this", 0, "only this",
       Failure::BodyCutShort},
      {"chunks cut short", chunkedHead + "5\r\nhello\r\n9\r\nworld", 0, "helloworld",
       Failure::ChunksCutShort},
      {"last chunk missing", chunkedHead + "5\r\nhello\r\n", 0, "hello", Failure::ChunksCutShort},
      {"closed without a reply", "", 0, kOld, Failure::NoStatusLine},
      {"head cut short", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n", 0, kOld, Failure::HeadCutShort},
  };
  for (const Case& c : cases) {
    HttpTestServer server(c.reply);
    ASSERT_TRUE(server.running());
    dir_.write(kFile, kOld);
    EXPECT_EQ(download(server.url("/r")), c.result) << c.name;
    EXPECT_EQ(file(), c.file) << c.name;
    EXPECT_EQ(why_, c.why) << c.name;
  }
}

TEST_F(Download, FileIsNotCreatedForARefusedResponse) {
  HttpTestServer server("HTTP/1.1 403 Forbidden\r\n\r\n");
  std::filesystem::remove(dir_.path() / kFile);
  EXPECT_EQ(download(server.url("/r")), 0);
  EXPECT_EQ(why_, Failure::StatusNotAccepted);
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
  EXPECT_EQ(why_, Failure::NoStatusLine);
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

TEST_F(Download, LongRequestToAServerThatNeverReadsGivesUpAfterTenSeconds) {
  // The server takes the connection and reads nothing. With a send buffer of
  // 64 KiB on our side and 16 KiB to receive on the server's, the
  // connection is full long before a 1 MB request is out. The server drops
  // the connection by itself after 30 s, long after the download should
  // have given up.
  HttpTestServer server(CannedReply::neverRead(30000));
  ASSERT_TRUE(server.running());
  static bool bufferLimited;
  bufferLimited = false;
  platform::netCalls().openTcp = [] {
    const platform::SocketHandle s = Log::net.openTcp();
    if (s != platform::kNoSocket) {
      ++Log::sockets;
      bufferLimited = HttpTestServer::limitSendBuffer(s, 64 * 1024);
    }
    return s;
  };
  FakeClock::now = 1000;
  platform::clockCalls() = {FakeClock::milliseconds, FakeClock::sleep};
  // A wait for writability looks at the real socket for a moment; when it
  // stays full, the whole time asked for has passed on the fake clock.
  platform::netCalls().waitWritable = [](platform::SocketHandle s, int64_t ms) {
    const platform::WaitResult r = Log::net.waitWritable(s, std::min<int64_t>(ms, 200));
    if (r == platform::WaitResult::TimedOut) FakeClock::now += ms;
    return r;
  };
  EXPECT_EQ(download(server.url("/r?pad=" + std::string(size_t{1} << 20, 'p'))), 0);
  EXPECT_TRUE(bufferLimited);
  EXPECT_EQ(FakeClock::now - 1000, 10000);
  // It gave up on its own: the server still held the connection open.
  EXPECT_EQ(server.connectionCount(), 1u);
  EXPECT_FALSE(server.waitForConnections(1, milliseconds(0)));
  EXPECT_GE(Log::sends, 1);
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
  EXPECT_EQ(why_, Failure::BodyCutShort);
  EXPECT_EQ(file(), "first");
}

TEST_F(Download, FileThatCannotBeCreated) {
  HttpTestServer server(okPage("lost"));
  platform::fsCalls().open = [](const std::string&, platform::OpenMode) { return platform::kNoFile; };
  EXPECT_EQ(download(server.url("/")), 0);
  EXPECT_EQ(why_, Failure::None);  // the response itself was fine
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
  EXPECT_EQ(why_, Failure::None);
  EXPECT_EQ(file(), body.substr(0, 1000 - headSize));
}

TEST_F(Download, PiecesAreWrittenAsTheyCome) {
  HttpTestServer server(
      CannedReply()
          .send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n400\r\n" + std::string(1024, 'a'))
          .pause(30)
          .send("\r\n400\r\n" + std::string(1024, 'b') + "\r\n0\r\n\r\n"));
  EXPECT_EQ(download(server.url("/")), 1);
  EXPECT_EQ(file(), std::string(1024, 'a') + std::string(1024, 'b'));
  // Each read asks for at most 1024 bytes and goes to the file at once.
  EXPECT_GE(Log::writes, 2);
  EXPECT_LE(Log::largestWrite, 1024);
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
