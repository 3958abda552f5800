#pragma once
// Stands in for the socket table (platform/net.h) while it lives, like
// FsFaults for the file system: every call is counted and passed on to the
// table as it was, unless a test asked for it to fail or to be bent; the
// destructor puts the previous table back.
//
//   NetFaults net;
//   net.failNth(NetCall::Send, 1);           // the next send fails
//   net.failFrom(NetCall::Connect);          // every connect from now on fails
//   net.redirectPort(80, server.port());     // a connection to port 80 goes to the test's server
//   ...run the code under test...
//   EXPECT_EQ(net.calls(NetCall::LookupHost), 1);
//   EXPECT_EQ(net.socketsOpen(), 0);         // every socket opened was closed
//
// A failed call does what the real one does on an error, and nothing else:
//   Startup -> false (nothing started, so no cleanup is owed);  OpenTcp ->
//   kNoSocket, no socket made;  LookupHost / Connect -> false;  WaitReadable
//   / WaitWritable -> WaitResult::Failed;  Send / Receive -> -1, nothing sent
//   or taken.  Cleanup and Close cannot fail; they are counted.
//
// Time-outs without real time: after timeOutOn(clock) a wait that finds the
// socket not ready does not wait; the whole time asked for passes on the
// FakeClock and the wait times out.
// Only one NetFaults may exist at a time (a second one aborts the test run).
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/net.h"
#include "support/call_tables.h"

class FakeClock;

enum class NetCall {
  Startup,
  Cleanup,
  OpenTcp,
  LookupHost,
  Connect,
  WaitReadable,
  WaitWritable,
  Send,
  Receive,
  Close
};

class NetFaults {
 public:
  NetFaults();
  ~NetFaults();
  NetFaults(const NetFaults&) = delete;
  NetFaults& operator=(const NetFaults&) = delete;

  // n counts from 1 and from the moment of this call: failNth(Send, 1) fails
  // the very next send. Later calls of that kind succeed again.
  void failNth(NetCall call, int n);
  // The nth call counted as above and every one after it fail.
  void failFrom(NetCall call, int n = 1);

  // Calls of that kind since this NetFaults was made, failed ones included.
  int calls(NetCall call) const;
  // Waits of that kind (WaitReadable, WaitWritable) that timed out.
  int timeOuts(NetCall wait) const;
  // Sockets that openTcp gave and close has not yet closed.
  int socketsOpen() const { return socketsOpen_; }
  // Bytes that receive gave, in all.
  int64_t bytesReceived() const { return bytesReceived_; }
  // The port of every connect, in order (before any redirection).
  const std::vector<uint16_t>& connectPorts() const { return connectPorts_; }

  // A connection asked for at port `from` is made to `to` instead (no test
  // may listen on port 80 or 443).
  void redirectPort(uint16_t from, uint16_t to);
  // From now on lookupHost answers from `hosts` alone, without asking the
  // system: a name not in it is not found.
  void answerLookups(std::map<std::string, uint32_t> hosts);
  // Each send hands over at most `bytes` bytes.
  void limitSends(int64_t bytes);
  // Once `bytes` bytes have come in all, the connection breaks: a receive
  // brings at most up to that point, every receive after it fails.
  void breakAfterReceiving(int64_t bytes);
  // Called with every socket openTcp gives (e.g. to make its buffers small).
  void onOpen(std::function<void(platform::SocketHandle)> opened);

  // From now on a wait that finds the socket not ready times out at once,
  // the time asked for passing on `clock` (which must outlive the waits).
  // `peerBusy`, when given, is asked first: while it says the other end
  // still has something to do (bytes on their way, a request not yet read)
  // the wait watches the real socket, for up to 20 real seconds.
  void timeOutOn(FakeClock& clock, std::function<bool()> peerBusy = {});

  // Used by the table's stand-ins; not for tests.
  bool failing(NetCall call);
  platform::WaitResult wait(NetCall kind, platform::SocketHandle socket, int64_t milliseconds);
  const platform::NetCalls& previous() const { return table_.saved(); }
  void opened(platform::SocketHandle socket);
  void closed() { --socketsOpen_; }
  uint16_t connectPort(uint16_t port);
  bool lookUp(const std::string& name, uint32_t& address);
  int64_t sendLimit(int64_t count) const;
  int64_t receiveLimit(int64_t count) const;  // -1: the connection has broken
  void received(int64_t bytes) { bytesReceived_ += bytes; }

 private:
  struct Rule {
    int first, last;  // call numbers, counted since construction
  };
  static constexpr int kKinds = static_cast<int>(NetCall::Close) + 1;
  ScopedCalls<platform::NetCalls> table_;
  std::array<int, kKinds> counts_{};
  std::array<int, kKinds> timeOuts_{};
  std::array<std::vector<Rule>, kKinds> rules_;
  int socketsOpen_ = 0;
  int64_t bytesReceived_ = 0;
  std::vector<uint16_t> connectPorts_;
  std::map<uint16_t, uint16_t> redirects_;
  bool answersLookups_ = false;
  std::map<std::string, uint32_t> hosts_;
  int64_t sendLimit_ = -1;   // -1: none
  int64_t breakAfter_ = -1;  // -1: never
  std::function<void(platform::SocketHandle)> onOpen_;
  FakeClock* clock_ = nullptr;
  std::function<bool()> peerBusy_;
};
