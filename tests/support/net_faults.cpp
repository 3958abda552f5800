#include "support/net_faults.h"

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "support/fake_clock.h"

namespace {

NetFaults* active = nullptr;

using platform::SocketHandle;
using platform::WaitResult;

[[noreturn]] void misuse(const char* what) {
  std::fprintf(stderr, "NetFaults: %s\n", what);
  std::abort();
}

bool standStartup() { return active->failing(NetCall::Startup) ? false : active->previous().startup(); }
void standCleanup() {
  active->failing(NetCall::Cleanup);
  active->previous().cleanup();
}
SocketHandle standOpenTcp() {
  if (active->failing(NetCall::OpenTcp)) return platform::kNoSocket;
  const SocketHandle socket = active->previous().openTcp();
  if (socket != platform::kNoSocket) active->opened(socket);
  return socket;
}
bool standLookupHost(const std::string& name, uint32_t& address) {
  return active->failing(NetCall::LookupHost) ? false : active->lookUp(name, address);
}
bool standConnect(SocketHandle socket, uint32_t address, uint16_t port) {
  const uint16_t to = active->connectPort(port);
  return active->failing(NetCall::Connect) ? false : active->previous().connect(socket, address, to);
}
WaitResult standWaitReadable(SocketHandle socket, int64_t milliseconds) {
  return active->wait(NetCall::WaitReadable, socket, milliseconds);
}
WaitResult standWaitWritable(SocketHandle socket, int64_t milliseconds) {
  return active->wait(NetCall::WaitWritable, socket, milliseconds);
}
int64_t standSend(SocketHandle socket, const void* bytes, int64_t count) {
  return active->failing(NetCall::Send) ? -1
                                        : active->previous().send(socket, bytes, active->sendLimit(count));
}
int64_t standReceive(SocketHandle socket, void* buffer, int64_t count) {
  if (active->failing(NetCall::Receive)) return -1;
  const int64_t limit = active->receiveLimit(count);
  if (limit < 0) return -1;
  const int64_t got = active->previous().receive(socket, buffer, limit);
  if (got > 0) active->received(got);
  return got;
}
void standClose(SocketHandle socket) {
  active->failing(NetCall::Close);
  active->closed();
  active->previous().close(socket);
}

}  // namespace

NetFaults::NetFaults() {
  if (active) misuse("only one may exist at a time");
  active = this;
  *table_ = {&standStartup,      &standCleanup,      &standOpenTcp, &standLookupHost, &standConnect,
             &standWaitReadable, &standWaitWritable, &standSend,    &standReceive,    &standClose};
}

NetFaults::~NetFaults() { active = nullptr; }

void NetFaults::failNth(NetCall call, int n) {
  if (call == NetCall::Cleanup || call == NetCall::Close) misuse("cleanup and close cannot fail");
  const int at = counts_[static_cast<int>(call)] + n;
  rules_[static_cast<int>(call)].push_back({at, at});
}

void NetFaults::failFrom(NetCall call, int n) {
  if (call == NetCall::Cleanup || call == NetCall::Close) misuse("cleanup and close cannot fail");
  rules_[static_cast<int>(call)].push_back({counts_[static_cast<int>(call)] + n, INT_MAX});
}

int NetFaults::calls(NetCall call) const { return counts_[static_cast<int>(call)]; }

int NetFaults::timeOuts(NetCall wait) const { return timeOuts_[static_cast<int>(wait)]; }

void NetFaults::redirectPort(uint16_t from, uint16_t to) { redirects_[from] = to; }

void NetFaults::answerLookups(std::map<std::string, uint32_t> hosts) {
  answersLookups_ = true;
  hosts_ = std::move(hosts);
}

void NetFaults::limitSends(int64_t bytes) { sendLimit_ = bytes < 1 ? 1 : bytes; }

void NetFaults::breakAfterReceiving(int64_t bytes) { breakAfter_ = bytes < 0 ? 0 : bytes; }

void NetFaults::onOpen(std::function<void(platform::SocketHandle)> opened) { onOpen_ = std::move(opened); }

void NetFaults::timeOutOn(FakeClock& clock, std::function<bool()> peerBusy) {
  clock_ = &clock;
  peerBusy_ = std::move(peerBusy);
}

bool NetFaults::failing(NetCall call) {
  const int number = ++counts_[static_cast<int>(call)];
  for (const Rule& rule : rules_[static_cast<int>(call)]) {
    if (number >= rule.first && number <= rule.last) return true;
  }
  return false;
}

WaitResult NetFaults::wait(NetCall kind, SocketHandle socket, int64_t milliseconds) {
  if (failing(kind)) return WaitResult::Failed;
  const auto realWait = kind == NetCall::WaitReadable ? previous().waitReadable : previous().waitWritable;
  WaitResult result;
  if (clock_ == nullptr) {
    result = realWait(socket, milliseconds);
  } else {
    if (FakeClock::current() != clock_) misuse("the FakeClock given to timeOutOn is gone");
    result = realWait(socket, 0);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (result == WaitResult::TimedOut && peerBusy_ && peerBusy_() &&
           std::chrono::steady_clock::now() < giveUp) {
      result = realWait(socket, 10);
    }
    if (result == WaitResult::TimedOut) clock_->advance(milliseconds);
  }
  if (result == WaitResult::TimedOut) ++timeOuts_[static_cast<int>(kind)];
  return result;
}

void NetFaults::opened(SocketHandle socket) {
  ++socketsOpen_;
  if (onOpen_) onOpen_(socket);
}

uint16_t NetFaults::connectPort(uint16_t port) {
  connectPorts_.push_back(port);
  const auto to = redirects_.find(port);
  return to == redirects_.end() ? port : to->second;
}

bool NetFaults::lookUp(const std::string& name, uint32_t& address) {
  if (!answersLookups_) return previous().lookupHost(name, address);
  const auto found = hosts_.find(name);
  if (found == hosts_.end()) return false;
  address = found->second;
  return true;
}

int64_t NetFaults::sendLimit(int64_t count) const {
  return sendLimit_ >= 0 && count > sendLimit_ ? sendLimit_ : count;
}

int64_t NetFaults::receiveLimit(int64_t count) const {
  if (breakAfter_ < 0) return count;
  const int64_t left = breakAfter_ - bytesReceived_;
  if (left <= 0) return -1;
  return count > left ? left : count;
}
