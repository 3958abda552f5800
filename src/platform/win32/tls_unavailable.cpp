// Stand-in for the Windows build until win32/tls.cpp (SChannel) is there:
// every handshake fails, so an https link is a failed download and never one
// fetched without verification. CMake builds this file only while
// win32/tls.cpp does not exist.
#include "platform/tls.h"

namespace platform {
namespace {

TlsSession handshake(SocketHandle, const std::string&, int64_t) { return kNoTlsSession; }
WaitResult waitReadable(TlsSession, int64_t) { return WaitResult::Failed; }
WaitResult waitWritable(TlsSession, int64_t) { return WaitResult::Failed; }
int64_t sendBytes(TlsSession, const void*, int64_t) { return -1; }
int64_t receiveBytes(TlsSession, void*, int64_t) { return -1; }
void closeSession(TlsSession) {}

const TlsCalls kPlatform{handshake, waitReadable, waitWritable, sendBytes, receiveBytes, closeSession};
TlsCalls live = kPlatform;

}  // namespace

TlsCalls& tlsCalls() { return live; }
const TlsCalls& platformTlsCalls() { return kPlatform; }

}  // namespace platform
