#include "reports/download.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/net.h"
#include "support/fake_clock.h"
#include "support/fs_faults.h"
#include "support/http_server.h"
#include "support/net_faults.h"
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

// Every download runs over counting stand-ins of the socket and file tables
// (passing each call on to the platform's own unless a test says otherwise).
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
  }

  // Each download also says why its response failed, in `why_`.
  int download(const std::string& url) { return downloadToFile(url.c_str(), kFile, &why_); }
  std::string file() const { return dir_.read(kFile); }

  NetFaults net_;
  FsFaults fs_;
  TempCwd dir_;
  Failure why_ = Failure::None;
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
  EXPECT_EQ(net_.calls(NetCall::LookupHost), 0);  // a dotted IPv4 host is used without a lookup
}

TEST_F(Download, PortEightyGivesAHostLineWithoutPort) {
  HttpTestServer server(okPage("eighty"));
  ASSERT_TRUE(server.running());
  // No test may listen on port 80: a connection asked for there goes to the
  // test's server instead.
  net_.redirectPort(80, server.port());
  size_t downloads = 0;
  for (const std::string link : {"https://127.0.0.1/secure?x=1", "http://127.0.0.1:80/secure?x=1"}) {
    EXPECT_EQ(download(link), 1) << link;
    EXPECT_EQ(net_.connectPorts(), std::vector<uint16_t>(++downloads, 80)) << link;
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

TEST_F(Download, PiecesAreWrittenAsTheyCome) {
  HttpTestServer server(
      CannedReply()
          .send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n400\r\n" + std::string(1024, 'a'))
          .pause(30)
          .send("\r\n400\r\n" + std::string(1024, 'b') + "\r\n0\r\n\r\n"));
  EXPECT_EQ(download(server.url("/")), 1);
  EXPECT_EQ(file(), std::string(1024, 'a') + std::string(1024, 'b'));
  // Each read asks for at most 1024 bytes and goes to the file at once.
  EXPECT_GE(fs_.calls(FsCall::Write), 2);
  EXPECT_LE(fs_.largestWrite(), 1024);
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
