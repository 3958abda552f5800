// The call tables and the seams over them: tables that come back by
// themselves, the fake clock and the socket faults.
#include "support/call_tables.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/net.h"
#include "support/fake_clock.h"
#include "support/http_server.h"
#include "support/net_faults.h"
#include "support/unit_main.h"

namespace {

using platform::WaitResult;
using std::chrono::steady_clock;

bool failingFlush(platform::FileHandle) { return false; }
int64_t frozenMilliseconds() { return 7; }
void noCleanup() {}

bool allPlatformOwn() {
  return sameCalls(platform::fsCalls(), platform::platformFsCalls()) &&
         sameCalls(platform::netCalls(), platform::platformNetCalls()) &&
         sameCalls(platform::clockCalls(), platform::platformClockCalls());
}

TEST(CallTables, EveryTestStartsOnThePlatformsOwnFunctions) { EXPECT_TRUE(allPlatformOwn()); }

TEST(CallTables, ScopedCallsPutTheTableBackInTheOrderTheyEnd) {
  {
    ScopedCalls<platform::FsCalls> outer;
    outer->flush = &failingFlush;
    EXPECT_EQ(platform::fsCalls().flush, &failingFlush);
    {
      ScopedCalls<platform::FsCalls> inner;
      EXPECT_EQ(inner.saved().flush, &failingFlush);
      inner->flush = platform::platformFsCalls().flush;
      (*inner).close = nullptr;
      EXPECT_EQ(platform::fsCalls().close, nullptr);
    }
    // The table as the outer scope left it.
    EXPECT_EQ(platform::fsCalls().flush, &failingFlush);
    EXPECT_EQ(platform::fsCalls().close, platform::platformFsCalls().close);
  }
  EXPECT_TRUE(allPlatformOwn());
}

TEST(CallTables, RestoreAllPutsEveryTableBackAndNamesTheChangedOnes) {
  EXPECT_EQ(restoreAllCalls(), std::vector<std::string>{});
  platform::fsCalls().flush = &failingFlush;
  platform::netCalls().cleanup = &noCleanup;
  platform::clockCalls().milliseconds = &frozenMilliseconds;
  EXPECT_EQ(restoreAllCalls(), (std::vector<std::string>{"fs", "net", "clock"}));
  EXPECT_TRUE(allPlatformOwn());
  platform::clockCalls().milliseconds = &frozenMilliseconds;
  EXPECT_EQ(restoreAllCalls(), std::vector<std::string>{"clock"});
  EXPECT_EQ(restoreAllCalls(), std::vector<std::string>{});
}

// What the unit test run does after each test.
TEST(CallTables, ATableLeftChangedFailsTheTestAndIsPutBack) {
  EXPECT_NONFATAL_FAILURE(
      {
        platform::netCalls().cleanup = &noCleanup;
        checkCallTablesRestored();
      },
      "left the net call table changed");
  EXPECT_TRUE(allPlatformOwn());
  checkCallTablesRestored();  // nothing changed: no failure
}

TEST(FakeClock, MovesOnlyBySleepAndAdvance) {
  {
    FakeClock clock;
    EXPECT_EQ(platform::clockCalls().milliseconds(), 1000);
    platform::clockCalls().sleep(50);
    platform::clockCalls().sleep(0);
    platform::clockCalls().sleep(-5);  // no time at all
    EXPECT_EQ(clock.now(), 1050);
    clock.advance(25);
    EXPECT_EQ(platform::clockCalls().milliseconds(), 1075);
    EXPECT_EQ(clock.elapsed(), 75);
    EXPECT_EQ(clock.sleeps(), 3);
    EXPECT_EQ(clock.slept(), 50);
    EXPECT_EQ(FakeClock::current(), &clock);
  }
  EXPECT_EQ(FakeClock::current(), nullptr);
  EXPECT_TRUE(allPlatformOwn());
}

// A socket of the live table connected to a loopback server that takes the
// request and never answers.
class Socket : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.running());
    ASSERT_TRUE(platform::netCalls().startup());
    started_ = true;
  }
  void TearDown() override {
    if (socket_ != platform::kNoSocket) platform::netCalls().close(socket_);
    if (started_) platform::netCalls().cleanup();
  }
  bool connect() {
    socket_ = platform::netCalls().openTcp();
    return socket_ != platform::kNoSocket &&
           platform::netCalls().connect(socket_, 0x7F000001, server_.port());
  }
  void sendRequest() {
    const std::string request = "GET / HTTP/1.1\r\n\r\n";
    ASSERT_EQ(platform::netCalls().send(socket_, request.data(), static_cast<int64_t>(request.size())),
              static_cast<int64_t>(request.size()));
  }

  HttpTestServer server_{CannedReply::neverAnswer()};
  platform::SocketHandle socket_ = platform::kNoSocket;
  bool started_ = false;
};

// The platform's own waits keep to real time whatever clock the live table
// holds: on a clock that never moves they still end.
TEST_F(Socket, PlatformWaitsKeepRealTimeUnderAFakeClock) {
  ASSERT_TRUE(connect());
  FakeClock clock;
  const platform::SocketHandle s = socket_;
  std::future<WaitResult> wait =
      std::async(std::launch::async, [s] { return platform::platformNetCalls().waitReadable(s, 30); });
  if (wait.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    ADD_FAILURE() << "a wait of 30 ms has not ended after 20 s: it keeps to the fake clock";
    clock.advance(int64_t{1} << 40);  // lets it end
  }
  EXPECT_EQ(wait.get(), WaitResult::TimedOut);
}

TEST_F(Socket, NthCallFailsAndTheCallsAreCounted) {
  NetFaults net;
  net.failNth(NetCall::OpenTcp, 2);
  net.failFrom(NetCall::Send, 2);
  const platform::SocketHandle first = platform::netCalls().openTcp();
  EXPECT_NE(first, platform::kNoSocket);
  EXPECT_EQ(platform::netCalls().openTcp(), platform::kNoSocket);
  EXPECT_EQ(net.socketsOpen(), 1);
  platform::netCalls().close(first);
  EXPECT_EQ(net.socketsOpen(), 0);
  ASSERT_TRUE(connect());
  EXPECT_EQ(net.calls(NetCall::OpenTcp), 3);
  EXPECT_EQ(net.calls(NetCall::Close), 1);
  EXPECT_EQ(net.connectPorts(), std::vector<uint16_t>{server_.port()});
  sendRequest();
  EXPECT_EQ(platform::netCalls().send(socket_, "x", 1), -1);
  EXPECT_EQ(platform::netCalls().send(socket_, "x", 1), -1);
  EXPECT_EQ(net.calls(NetCall::Send), 3);
  platform::netCalls().close(socket_);
  socket_ = platform::kNoSocket;
  EXPECT_EQ(net.socketsOpen(), 0);
}

TEST_F(Socket, LookupsAnswerFromTheTableAndPortsAreRedirected) {
  NetFaults net;
  net.answerLookups({{"game.invalid", 0x7F000001}});
  uint32_t address = 0;
  EXPECT_TRUE(platform::netCalls().lookupHost("game.invalid", address));
  EXPECT_EQ(address, 0x7F000001u);
  EXPECT_FALSE(platform::netCalls().lookupHost("localhost", address));
  net.redirectPort(80, server_.port());
  socket_ = platform::netCalls().openTcp();
  ASSERT_NE(socket_, platform::kNoSocket);
  EXPECT_TRUE(platform::netCalls().connect(socket_, address, 80));
  EXPECT_EQ(net.connectPorts(), std::vector<uint16_t>{80});
  sendRequest();
  ASSERT_TRUE(server_.running());
  const auto until = steady_clock::now() + std::chrono::seconds(20);
  while (server_.requests().empty() && steady_clock::now() < until) platform::clockCalls().sleep(5);
  EXPECT_EQ(server_.lastRequest(), "GET / HTTP/1.1\r\n\r\n");
}

TEST_F(Socket, WaitsTimeOutOnTheFakeClockWithoutWaiting) {
  NetFaults net;
  ASSERT_TRUE(connect());
  sendRequest();
  FakeClock clock;
  net.timeOutOn(clock);
  const auto start = steady_clock::now();
  EXPECT_EQ(platform::netCalls().waitReadable(socket_, 600000), WaitResult::TimedOut);
  EXPECT_EQ(platform::netCalls().waitReadable(socket_, 0), WaitResult::TimedOut);
  // Ten real minutes asked for: none of them waited.
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(60));
  EXPECT_EQ(clock.elapsed(), 600000);
  EXPECT_EQ(net.timeOuts(NetCall::WaitReadable), 2);
  // A socket that can be written is ready at once, and no time passes.
  EXPECT_EQ(platform::netCalls().waitWritable(socket_, 10000), WaitResult::Ready);
  EXPECT_EQ(net.timeOuts(NetCall::WaitWritable), 0);
  EXPECT_EQ(clock.elapsed(), 600000);
  net.failNth(NetCall::WaitWritable, 1);
  EXPECT_EQ(platform::netCalls().waitWritable(socket_, 10000), WaitResult::Failed);
  EXPECT_EQ(net.calls(NetCall::WaitWritable), 2);
}

TEST(NetFaults, WhileThePeerIsBusyAWaitWatchesTheRealSocket) {
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n";
  HttpTestServer server(CannedReply().send(head).pause(100).send("0123456789").hold());
  ASSERT_TRUE(server.running());
  NetFaults net;
  ASSERT_TRUE(platform::netCalls().startup());
  const platform::SocketHandle s = platform::netCalls().openTcp();
  ASSERT_NE(s, platform::kNoSocket);
  ASSERT_TRUE(platform::netCalls().connect(s, 0x7F000001, server.port()));
  const std::string request = "GET / HTTP/1.1\r\n\r\n";
  EXPECT_EQ(platform::netCalls().send(s, request.data(), static_cast<int64_t>(request.size())),
            static_cast<int64_t>(request.size()));
  FakeClock clock;
  const int64_t whole = static_cast<int64_t>(head.size()) + 10;
  net.timeOutOn(clock, [&] { return net.bytesReceived() < whole; });
  // Each receive asks for 7 bytes; the connection breaks after the head and
  // four bytes of the body, which come after a pause.
  net.breakAfterReceiving(whole - 6);
  char buffer[64];
  std::string got;
  for (;;) {
    if (platform::netCalls().waitReadable(s, 1000) != WaitResult::Ready) break;
    const int64_t n = platform::netCalls().receive(s, buffer, 7);
    if (n == -1) break;
    if (n > 0) got.append(buffer, static_cast<size_t>(n));
  }
  // Nothing timed out while the bytes were on their way; the break came
  // where it was asked for.
  EXPECT_EQ(net.timeOuts(NetCall::WaitReadable), 0);
  EXPECT_EQ(clock.elapsed(), 0);
  EXPECT_EQ(got, head + "0123");
  EXPECT_EQ(net.bytesReceived(), whole - 6);
  platform::netCalls().close(s);
  platform::netCalls().cleanup();
}

TEST(NetFaults, SendsAreCutToTheLimit) {
  HttpTestServer server(CannedReply::neverAnswer());
  ASSERT_TRUE(server.running());
  NetFaults net;
  ASSERT_TRUE(platform::netCalls().startup());
  const platform::SocketHandle s = platform::netCalls().openTcp();
  ASSERT_TRUE(platform::netCalls().connect(s, 0x7F000001, server.port()));
  net.limitSends(4);
  EXPECT_EQ(platform::netCalls().send(s, "GET / HTTP/1.1\r\n\r\n", 18), 4);
  EXPECT_EQ(platform::netCalls().send(s, "xy", 2), 2);
  platform::netCalls().close(s);
  platform::netCalls().cleanup();
  EXPECT_EQ(net.socketsOpen(), 0);
}

}  // namespace
