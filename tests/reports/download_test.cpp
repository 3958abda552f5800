#include "reports/download.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/net.h"
#include "platform/tls.h"
#include "support/call_tables.h"
#include "support/fake_clock.h"
#include "support/fs_faults.h"
#include "support/http_server.h"
#include "support/net_faults.h"
#include "support/temp_dir.h"
#include "support/tls_test_server.h"

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

constexpr int kSpinningWaits = 100000;

// Counting stand-ins of the TLS table while it lives, passing each call on to
// the table as it was; a test may make the Nth handshake, read (one that
// brings something) or write fail. The table comes back by itself.
class TlsFaults {
 public:
  enum class Call { Handshake, Receive, Send };

  TlsFaults() {
    current_ = this;
    platform::TlsCalls& tls = *table_;
    tls.handshake = [](platform::SocketHandle s, const std::string& host, int64_t timeoutMs) {
      TlsFaults& t = *current_;
      ++t.handshakes;
      if (t.failing(Call::Handshake)) return platform::kNoTlsSession;
      const platform::TlsSession session = t.previous().handshake(s, host, timeoutMs);
      if (session != platform::kNoTlsSession) ++t.sessions;
      return session;
    };
    tls.closeSession = [](platform::TlsSession session) {
      ++current_->sessionsClosed;
      current_->previous().closeSession(session);
    };
    tls.send = [](platform::TlsSession session, const void* bytes, int64_t count) -> int64_t {
      TlsFaults& t = *current_;
      ++t.sends;
      if (t.failing(Call::Send)) return -1;
      return t.previous().send(session, bytes, t.sendLimit > 0 ? std::min(count, t.sendLimit) : count);
    };
    tls.receive = [](platform::TlsSession session, void* buffer, int64_t count) -> int64_t {
      TlsFaults& t = *current_;
      ++t.receives;
      const int64_t got = t.previous().receive(session, buffer, count);
      if (got == platform::kNothingWaiting) return got;  // only reads that bring something count
      if (t.failing(Call::Receive)) return -1;
      if (got > 0) t.received.append(static_cast<const char*>(buffer), static_cast<size_t>(got));
      return got;
    };
    tls.waitReadable = [](platform::TlsSession session, int64_t ms) {
      TlsFaults& t = *current_;
      // A wait that says "ready" again and again while no read brings
      // anything would spin for ever: cut it off (the fixture reports it).
      if (++t.waits > kSpinningWaits) return platform::WaitResult::Failed;
      const platform::WaitResult r = t.previous().waitReadable(session, ms);
      if (r == platform::WaitResult::TimedOut) ++t.readTimeouts;
      return r;
    };
  }
  ~TlsFaults() { current_ = nullptr; }
  TlsFaults(const TlsFaults&) = delete;
  TlsFaults& operator=(const TlsFaults&) = delete;

  // n counts from 1 and from the moment of this call; later calls succeed.
  void failNth(Call call, int n) {
    failCall_ = call;
    failAt_ = n;
    counted_ = 0;
  }
  // Calls of the kind given to failNth since then.
  int counted() const { return counted_; }
  const platform::TlsCalls& previous() const { return table_.saved(); }
  // The live table, for a test's own stand-ins.
  platform::TlsCalls& table() const { return *table_; }
  static TlsFaults& current() { return *current_; }

  int handshakes = 0, sessions = 0, sessionsClosed = 0, sends = 0, receives = 0, waits = 0, readTimeouts = 0;
  int64_t sendLimit = 0;  // plain bytes taken per send (0: all)
  std::string received;   // every plain byte the reads brought

 private:
  bool failing(Call call) {
    if (failAt_ == 0 || call != failCall_) return false;
    return ++counted_ == failAt_;
  }

  static inline TlsFaults* current_ = nullptr;
  ScopedCalls<platform::TlsCalls> table_;
  Call failCall_ = Call::Handshake;
  int failAt_ = 0, counted_ = 0;
};

// Every download runs over counting stand-ins of the socket, TLS and file
// tables (passing each call on to the platform's own unless a test says
// otherwise).
class Download : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(startNetwork());
    dir_.write(kFile, kOld);
  }

  void TearDown() override {
    stopNetwork();
    // Every way out closes what it opened.
    EXPECT_EQ(net_.socketsOpen(), 0);
    EXPECT_EQ(fs_.filesOpen(), 0);
    EXPECT_EQ(tls_.sessionsClosed, tls_.sessions);
    EXPECT_LE(tls_.waits, kSpinningWaits) << "the TLS waits spun";
  }

  // The loopback TLS server that ctest starts for the run, or nullptr and
  // the reason in `skipWhy_` (the test then skips).
  const TlsTestServer* tlsServer() {
    const TlsTestServer* server = TlsTestServer::find(skipWhy_);
    return server;
  }

  // Each download also says why its response failed, in `why_`.
  int download(const std::string& url) { return downloadToFile(url.c_str(), kFile, &why_); }
  std::string file() const { return dir_.read(kFile); }

  NetFaults net_;
  FsFaults fs_;
  TlsFaults tls_;
  TempCwd dir_;
  Failure why_ = Failure::None;
  std::string skipWhy_;
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
  EXPECT_EQ(net_.calls(NetCall::LookupHost), 0);  // a dotted IPv4 host is used without a lookup
  EXPECT_EQ(tls_.handshakes, 0);
}

TEST_F(Download, PortEightyGivesAHostLineWithoutPort) {
  HttpTestServer server(okPage("eighty"));
  ASSERT_TRUE(server.running());
  // No test may listen on port 80: a connection asked for there goes to the
  // test's server instead.
  net_.redirectPort(80, server.port());
  size_t downloads = 0;
  for (const std::string link :
       {"http://127.0.0.1/secure?x=1", "http://127.0.0.1:80/secure?x=1", "ftp://127.0.0.1:/secure?x=1"}) {
    EXPECT_EQ(download(link), 1) << link;
    EXPECT_EQ(net_.connectPorts(), std::vector<uint16_t>(++downloads, 80)) << link;
    EXPECT_EQ(server.lastRequest(), requestFor("secure?x=1", "127.0.0.1")) << link;
    EXPECT_EQ(file(), "eighty");
  }
}

TEST_F(Download, HttpLinkToPort443StaysPlainWithThePortInTheHostLine) {
  HttpTestServer server(okPage("plain on 443"));
  ASSERT_TRUE(server.running());
  net_.redirectPort(443, server.port());
  EXPECT_EQ(download("http://127.0.0.1:443/x"), 1);
  EXPECT_EQ(net_.connectPorts(), std::vector<uint16_t>{443});
  EXPECT_EQ(server.lastRequest(), requestFor("x", "127.0.0.1:443"));
  EXPECT_EQ(tls_.handshakes, 0);
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
  EXPECT_EQ(fs_.calls(FsCall::Open), 0);
}

TEST_F(Download, UntilCloseEndsWhenTheServerCloses) {
  HttpTestServer server(CannedReply().send("HTTP/1.1 200 OK\r\n\r\npart one, ").pause(300).send("part two"));
  const auto start = steady_clock::now();
  EXPECT_EQ(download(server.url("/")), 1);
  EXPECT_EQ(file(), "part one, part two");
  // The end came from the close itself, not from a read that waited in vain.
  EXPECT_EQ(net_.timeOuts(NetCall::WaitReadable), 0);
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(Download, UntilCloseEndsAfterOneSecondOfSilence) {
  // The server keeps the connection open: the body ends after a full second
  // without data, and what came is the page.
  const std::string reply = "HTTP/1.1 200 OK\r\n\r\nsilence follows";
  HttpTestServer server(CannedReply().send(reply).hold());
  FakeClock clock;
  // A wait times out only once the whole reply is in: then the other end is silent.
  net_.timeOutOn(clock, [&] { return net_.bytesReceived() < static_cast<int64_t>(reply.size()); });
  EXPECT_EQ(download(server.url("/")), 1);
  EXPECT_EQ(clock.elapsed(), 1000);
  EXPECT_EQ(net_.timeOuts(NetCall::WaitReadable), 1);
  EXPECT_EQ(file(), "silence follows");
}

TEST_F(Download, ServerThatNeverAnswersTimesOutAfterTenSeconds) {
  HttpTestServer server(CannedReply::neverAnswer());
  FakeClock clock;
  // The wait times out once the server has read the request.
  net_.timeOutOn(clock, [&] { return server.requests().empty(); });
  EXPECT_EQ(download(server.url("/slow")), 0);
  EXPECT_EQ(why_, Failure::NoStatusLine);
  EXPECT_EQ(clock.elapsed(), 10000);
  EXPECT_EQ(net_.timeOuts(NetCall::WaitReadable), 1);
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
    const int connectsBefore = net_.calls(NetCall::Connect);
    EXPECT_EQ(download(c.link), 0) << c.link;
    EXPECT_EQ(net_.calls(NetCall::Connect) - connectsBefore, c.connects) << c.link;
    EXPECT_EQ(file(), kOld) << c.link;
  }
  EXPECT_EQ(fs_.calls(FsCall::Open), 0);
}

TEST_F(Download, HostNameIsLookedUpAndItsFirstAddressUsed) {
  HttpTestServer server(okPage("found"));
  net_.answerLookups({{"reports.game.invalid", 0x7F000001}});
  const std::string hostLine = "reports.game.invalid:" + std::to_string(server.port());
  EXPECT_EQ(download("http://" + hostLine + "/m?id=1"), 1);
  EXPECT_EQ(file(), "found");
  EXPECT_EQ(server.lastRequest(), requestFor("m?id=1", hostLine));
  EXPECT_EQ(net_.calls(NetCall::LookupHost), 1);

  // A lookup that gives 255.255.255.255 is refused before connecting.
  net_.answerLookups({{"reports.game.invalid", 0xFFFFFFFF}});
  const int connectsBefore = net_.calls(NetCall::Connect);
  EXPECT_EQ(download("http://" + hostLine + "/m"), 0);
  EXPECT_EQ(net_.calls(NetCall::LookupHost), 2);
  EXPECT_EQ(net_.calls(NetCall::Connect), connectsBefore);
}

TEST_F(Download, LocalhostByName) {
  HttpTestServer server(okPage("by name"));
  EXPECT_EQ(download("http://localhost:" + std::to_string(server.port()) + "/"), 1);
  EXPECT_EQ(net_.calls(NetCall::LookupHost), 1);
  EXPECT_EQ(file(), "by name");
}

// --- Socket and file calls that fail -----------------------------------------

TEST_F(Download, SocketThatCannotBeCreated) {
  HttpTestServer server(okPage("x"));
  net_.failNth(NetCall::OpenTcp, 1);
  EXPECT_EQ(download(server.url("/")), 0);
  EXPECT_EQ(file(), kOld);
  EXPECT_EQ(server.connectionCount(), 0u);
}

TEST_F(Download, FailedSendIsTriedAgain) {
  HttpTestServer server(okPage("sent"));
  // The first attempt fails, later ones hand over at most 7 bytes each.
  net_.failNth(NetCall::Send, 1);
  net_.limitSends(7);
  FakeClock clock;
  EXPECT_EQ(download(server.url("/partial/sends")), 1);
  // One pause of 50 ms before trying again, and no other.
  EXPECT_EQ(clock.sleeps(), 1);
  EXPECT_EQ(clock.elapsed(), 50);
  EXPECT_EQ(server.lastRequest(), requestFor("partial/sends", "127.0.0.1:" + std::to_string(server.port())));
  EXPECT_EQ(file(), "sent");
}

TEST_F(Download, SendGivesUpAfterTenSeconds) {
  HttpTestServer server(okPage("never sent"));
  FakeClock clock;
  net_.failFrom(NetCall::Send);
  EXPECT_EQ(download(server.url("/")), 0);
  // Tried every 50 ms for 10 s.
  EXPECT_EQ(clock.elapsed(), 10000);
  EXPECT_EQ(net_.calls(NetCall::Send), 200);
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
  bool bufferLimited = false;
  net_.onOpen(
      [&](platform::SocketHandle s) { bufferLimited = HttpTestServer::limitSendBuffer(s, 64 * 1024); });
  // A wait for writability looks at the real socket; when it is full (and
  // the server has taken the connection), the whole time asked for passes
  // on the fake clock.
  FakeClock clock;
  net_.timeOutOn(clock, [&] { return server.connectionCount() == 0; });
  EXPECT_EQ(download(server.url("/r?pad=" + std::string(size_t{1} << 20, 'p'))), 0);
  EXPECT_TRUE(bufferLimited);
  EXPECT_EQ(clock.elapsed(), 10000);
  EXPECT_EQ(net_.timeOuts(NetCall::WaitWritable), 1);
  // It gave up on its own: the server still held the connection open.
  EXPECT_EQ(server.connectionCount(), 1u);
  EXPECT_FALSE(server.waitForConnections(1, milliseconds(0)));
  EXPECT_GE(net_.calls(NetCall::Send), 1);
  EXPECT_EQ(file(), kOld);
}

TEST_F(Download, ReceiveThatBreaksMidBody) {
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n";
  HttpTestServer server(head + "first-last");
  // The connection breaks after the head and five bytes of the body.
  net_.breakAfterReceiving(static_cast<int64_t>(head.size()) + 5);
  EXPECT_EQ(download(server.url("/")), 0);
  EXPECT_EQ(why_, Failure::BodyCutShort);
  EXPECT_EQ(file(), "first");
}

TEST_F(Download, FileThatCannotBeCreated) {
  HttpTestServer server(okPage("lost"));
  fs_.failNth(FsCall::Open, 1);
  EXPECT_EQ(download(server.url("/")), 0);
  EXPECT_EQ(why_, Failure::None);  // the response itself was fine
  EXPECT_EQ(file(), kOld);
}

TEST_F(Download, WriteThatFails) {
  const std::string body(3000, 'b');
  const std::string page = okPage(body);
  const size_t headSize = page.find("\r\n\r\n") + 4;
  HttpTestServer server(CannedReply().send(page.substr(0, 1000)).pause(100).send(page.substr(1000)));
  fs_.failNth(FsCall::Write, 2);
  // A page that did not reach the disk whole must not pass for the report.
  EXPECT_EQ(download(server.url("/")), 0);
  EXPECT_EQ(why_, Failure::None);
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
  EXPECT_EQ(fs_.calls(FsCall::Write), 2);
}

// What the stand-ins of the next test saw.
struct WriteSeen {
  static inline int64_t written = 0, waitsAfterHead = 0, mismatches = 0, headSize = 0;
  static inline const NetFaults* net = nullptr;
  static inline platform::FsCalls fs{};
  static inline platform::NetCalls sockets{};
};

// Every byte read is in the file whenever the download waits, and bytes that
// keep coming are written in blocks, not one write per read.
TEST_F(Download, FileHoldsEveryByteReadWhenItWaits) {
  const std::string first(150000, 'f'), second(70000, 's');
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(first.size() + second.size()) + "\r\n\r\n";
  HttpTestServer server(CannedReply().send(head + first).pause(300).send(second));
  // Stand-ins over NetFaults' and FsFaults' own: each wait compares the
  // bytes written so far with the body bytes received so far.
  WriteSeen::written = WriteSeen::waitsAfterHead = WriteSeen::mismatches = 0;
  WriteSeen::headSize = static_cast<int64_t>(head.size());
  WriteSeen::net = &net_;
  ScopedCalls<platform::FsCalls> files;
  ScopedCalls<platform::NetCalls> sockets;
  WriteSeen::fs = files.saved();
  WriteSeen::sockets = sockets.saved();
  files->write = [](platform::FileHandle f, const void* bytes, int64_t count) {
    const int64_t written = WriteSeen::fs.write(f, bytes, count);
    WriteSeen::written += std::max<int64_t>(written, 0);
    return written;
  };
  sockets->waitReadable = [](platform::SocketHandle s, int64_t ms) {
    const int64_t body = WriteSeen::net->bytesReceived() - WriteSeen::headSize;
    if (body > 0) {
      ++WriteSeen::waitsAfterHead;
      if (WriteSeen::written != body) ++WriteSeen::mismatches;
    }
    return WriteSeen::sockets.waitReadable(s, ms);
  };
  EXPECT_EQ(download(server.url("/")), 1);
  EXPECT_EQ(file(), first + second);
  EXPECT_GE(WriteSeen::waitsAfterHead, 1);  // the pause was waited for
  EXPECT_EQ(WriteSeen::mismatches, 0);
  // Over 200 reads of at most 1 KB. A write comes only before a wait, when
  // 64 KB have gathered, or at the end; none is larger than 64 KB and the
  // bytes of one read.
  EXPECT_GT(net_.calls(NetCall::Receive), 200);
  EXPECT_LE(fs_.calls(FsCall::Write),
            WriteSeen::waitsAfterHead + static_cast<int64_t>((first.size() + second.size()) / 65536) + 1);
  EXPECT_LE(fs_.largestWrite(), 65 * 1024);
}

// --- https links: over TLS, the server verified ------------------------------

std::string patternBytes(size_t count) {
  const std::string pattern = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ<td>\r\n";
  std::string bytes;
  while (bytes.size() < count) bytes += pattern;
  bytes.resize(count);
  return bytes;
}

// The server's echo replies carry the request's bytes as the body.
TEST_F(Download, TlsBodiesUnderEveryFraming) {
  const TlsTestServer* tls = tlsServer();
  if (tls == nullptr) GTEST_SKIP() << skipWhy_;
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
    const int tlsTimeOutsBefore = tls_.readTimeouts;
    const int socketTimeOutsBefore = net_.timeOuts(NetCall::WaitReadable);
    EXPECT_EQ(download(c.link), 1) << c.link;
    EXPECT_EQ(file(), requestFor(c.path, c.hostLine)) << c.link;
    // No read waited in vain: the end came from the server, not from a
    // second of silence.
    EXPECT_EQ(tls_.readTimeouts, tlsTimeOutsBefore) << c.link;
    EXPECT_EQ(net_.timeOuts(NetCall::WaitReadable), socketTimeOutsBefore) << c.link;
  }
  EXPECT_EQ(tls_.sessions, static_cast<int>(std::size(cases)));
}

TEST_F(Download, TlsLargeBodies) {
  const TlsTestServer* tls = tlsServer();
  if (tls == nullptr) GTEST_SKIP() << skipWhy_;
  const std::string expected = patternBytes(300000);
  for (const std::string path : {"/big/300000/r", "/bigclose/300000/r"}) {
    EXPECT_EQ(download(tls->url("localhost", path)), 1) << path;
    EXPECT_TRUE(file() == expected) << path << ": " << file().size() << " bytes";
  }
  EXPECT_LE(fs_.largestWrite(), 65 * 1024);
}

TEST_F(Download, HttpsLinkWithoutPortGoesTo443WithAHostLineWithoutPort) {
  const TlsTestServer* tls = tlsServer();
  if (tls == nullptr) GTEST_SKIP() << skipWhy_;
  // Nothing listens on 443 here: the connection is taken to the test server.
  net_.redirectPort(443, tls->port("localhost"));
  size_t downloads = 0;
  for (const std::string link :
       {"https://localhost/cl/m?id=1", "https://localhost:/cl/m?id=1", "https://localhost:443/cl/m?id=1"}) {
    dir_.write(kFile, kOld);
    EXPECT_EQ(download(link), 1) << link;
    EXPECT_EQ(net_.connectPorts(), std::vector<uint16_t>(++downloads, 443)) << link;
    EXPECT_EQ(file(), requestFor("cl/m?id=1", "localhost")) << link;
  }
}

// The same without a server (it runs on every system): the port asked for.
TEST_F(Download, HttpsLinkWithoutPortConnectsTo443) {
  net_.failFrom(NetCall::Connect);
  const std::string links[] = {"https://127.0.0.1/r", "https://127.0.0.1:/r", "HTTPS://127.0.0.1",
                               "Https://u@127.0.0.1"};
  size_t downloads = 0;
  for (const std::string& link : links) {
    EXPECT_EQ(download(link), 0) << link;
    EXPECT_EQ(net_.connectPorts(), std::vector<uint16_t>(++downloads, 443)) << link;
  }
  EXPECT_EQ(tls_.handshakes, 0);
  EXPECT_EQ(file(), kOld);
}

TEST_F(Download, TlsFailuresAreFailedDownloads) {
  const TlsTestServer* tls = tlsServer();
  if (tls == nullptr) GTEST_SKIP() << skipWhy_;
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
  EXPECT_EQ(fs_.calls(FsCall::Open), 0);
  // The request went out only to the verified server with the 404.
  EXPECT_EQ(tls_.sessions, 1);
}

TEST_F(Download, TlsStreamCutShortOrBroken) {
  const TlsTestServer* tls = tlsServer();
  if (tls == nullptr) GTEST_SKIP() << skipWhy_;
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
  const TlsTestServer* tls = tlsServer();
  if (tls == nullptr) GTEST_SKIP() << skipWhy_;
  const std::string echo = requestFor("partial/r", "localhost:" + std::to_string(tls->port("localhost")));
  FakeClock clock;
  // The handshake and the reply come over real waits; once the whole echo
  // is in, a wait in vain passes its whole time on the fake clock.
  net_.timeOutOn(clock, [&] { return tls_.received.find(echo) == std::string::npos; });
  EXPECT_EQ(download(tls->url("localhost", "/partial/r")), 0);
  EXPECT_EQ(clock.elapsed(), 10000);
  EXPECT_EQ(file(), echo);
}

TEST_F(Download, TlsHandshakeThatStallsTimesOutAfterTenSeconds) {
  const TlsTestServer* tls = tlsServer();
  if (tls == nullptr) GTEST_SKIP() << skipWhy_;
  // The server takes the hello and answers nothing: the wait for its answer
  // passes its whole time on the fake clock at once.
  FakeClock clock;
  net_.timeOutOn(clock);
  EXPECT_EQ(download(tls->url("stall", "/cl/r")), 0);
  EXPECT_EQ(clock.elapsed(), 10000);
  EXPECT_EQ(net_.timeOuts(NetCall::WaitReadable), 1);
  EXPECT_EQ(tls_.handshakes, 1);
  EXPECT_EQ(tls_.sessions, 0);
  EXPECT_EQ(file(), kOld);
}

// What the stand-ins of the next test saw.
struct HandshakeSeen {
  static inline std::vector<int64_t> handshakeLimits, readWaits;
  static inline bool firstReceive = true;
  static inline platform::TlsCalls tls{};
};

TEST_F(Download, TlsHandshakeTimeCountsAgainstTheFirstData) {
  const TlsTestServer* tls = tlsServer();
  if (tls == nullptr) GTEST_SKIP() << skipWhy_;
  FakeClock clock;
  // Real waits, each bounded: one that finds nothing in 20 real seconds
  // passes its whole time on the fake clock, so nothing can wait for ever.
  net_.timeOutOn(clock, [] { return true; });
  HandshakeSeen::handshakeLimits.clear();
  HandshakeSeen::readWaits.clear();
  HandshakeSeen::firstReceive = true;
  // Over TlsFaults' counting stand-ins: the handshake takes 4 s of the
  // clock; the first read finds nothing yet.
  ScopedCalls<platform::TlsCalls> calls;
  HandshakeSeen::tls = calls.saved();
  calls->handshake = [](platform::SocketHandle s, const std::string& host, int64_t timeoutMs) {
    HandshakeSeen::handshakeLimits.push_back(timeoutMs);
    FakeClock::current()->advance(4000);
    return HandshakeSeen::tls.handshake(s, host, timeoutMs);
  };
  calls->receive = [](platform::TlsSession session, void* buffer, int64_t count) -> int64_t {
    if (HandshakeSeen::firstReceive) {
      HandshakeSeen::firstReceive = false;
      return platform::kNothingWaiting;
    }
    return HandshakeSeen::tls.receive(session, buffer, count);
  };
  calls->waitReadable = [](platform::TlsSession session, int64_t ms) {
    HandshakeSeen::readWaits.push_back(ms);
    return HandshakeSeen::tls.waitReadable(session, ms);
  };
  EXPECT_EQ(download(tls->url("localhost", "/cl/r")), 1);
  EXPECT_EQ(HandshakeSeen::handshakeLimits, std::vector<int64_t>{10000});
  ASSERT_FALSE(HandshakeSeen::readWaits.empty());
  EXPECT_EQ(HandshakeSeen::readWaits.front(), 6000);
}

TEST_F(Download, TlsHandshakeThatFails) {
  const TlsTestServer* tls = tlsServer();
  if (tls == nullptr) GTEST_SKIP() << skipWhy_;
  tls_.failNth(TlsFaults::Call::Handshake, 2);
  const std::string link = tls->url("localhost", "/big/5000/r");
  for (const int result : {1, 0, 1}) {
    dir_.write(kFile, kOld);
    EXPECT_EQ(download(link), result);
    EXPECT_EQ(file(), result ? patternBytes(5000) : kOld);
  }
  EXPECT_EQ(tls_.sessions, 2);
}

TEST_F(Download, TlsReadThatBreaks) {
  const TlsTestServer* tls = tlsServer();
  if (tls == nullptr) GTEST_SKIP() << skipWhy_;
  const std::string link = tls->url("localhost", "/big/5000/r");
  // The first read brings the head: nothing is touched.
  tls_.failNth(TlsFaults::Call::Receive, 1);
  EXPECT_EQ(download(link), 0);
  EXPECT_EQ(file(), kOld);
  // A later one breaks the body: the file keeps what came.
  tls_.failNth(TlsFaults::Call::Receive, 3);
  EXPECT_EQ(download(link), 0);
  const std::string kept = file();
  EXPECT_GT(kept.size(), 0u);
  EXPECT_LT(kept.size(), 5000u);
  EXPECT_EQ(kept, patternBytes(kept.size()));
}

TEST_F(Download, TlsWritesThatFailOrTakeLittle) {
  const TlsTestServer* tls = tlsServer();
  if (tls == nullptr) GTEST_SKIP() << skipWhy_;
  // The first write fails and is tried again; the rest go 7 bytes at a time.
  tls_.failNth(TlsFaults::Call::Send, 1);
  tls_.sendLimit = 7;
  const std::string path = "cl/partial/writes?over=tls";
  EXPECT_EQ(download(tls->url("localhost", "/" + path)), 1);
  EXPECT_EQ(file(), requestFor(path, "localhost:" + std::to_string(tls->port("localhost"))));
  EXPECT_GT(tls_.counted(), 10);

  // Writes that always fail give up after 10 s of the clock. The handshake
  // waits are real, each bounded: one that finds nothing in 20 real seconds
  // passes its whole time on the fake clock.
  FakeClock clock;
  net_.timeOutOn(clock, [] { return true; });
  ScopedCalls<platform::TlsCalls> calls;
  calls->send = [](platform::TlsSession, const void*, int64_t) -> int64_t {
    ++TlsFaults::current().sends;
    return -1;
  };
  dir_.write(kFile, kOld);
  const int sendsBefore = tls_.sends;
  EXPECT_EQ(download(tls->url("localhost", "/cl/r")), 0);
  EXPECT_EQ(clock.elapsed(), 10000);
  EXPECT_EQ(tls_.sends - sendsBefore, 200);
  EXPECT_EQ(file(), kOld);
}

// --- The socket layer's start and stop ---------------------------------------

TEST(Network, StopShutsDownOnlyWhatStarted) {
  NetFaults net;
  net.failNth(NetCall::Startup, 1);
  EXPECT_FALSE(startNetwork());
  stopNetwork();
  EXPECT_EQ(net.calls(NetCall::Cleanup), 0);

  EXPECT_TRUE(startNetwork());
  EXPECT_TRUE(startNetwork());  // already started: not started again
  stopNetwork();
  EXPECT_EQ(net.calls(NetCall::Startup), 2);
  EXPECT_EQ(net.calls(NetCall::Cleanup), 1);
  stopNetwork();
  EXPECT_EQ(net.calls(NetCall::Cleanup), 1);
}

}  // namespace
