#pragma once
// TLS service for https links, one implementation per platform: OpenSSL 3
// (posix/) and SChannel through SSPI (win32/). It runs over a connected
// socket of net.h and verifies the server's certificate chain against the
// system's trust store and the host (a name, or a dotted IPv4 address against
// the certificate's IP address entries). There is no way to turn that off.
// Every call goes through the table returned by tlsCalls(), so a test can
// make the Nth handshake, read or write fail.
#include <cstdint>
#include <string>

#include "platform/call_table.h"
#include "platform/net.h"

namespace platform {

using TlsSession = intptr_t;
constexpr TlsSession kNoTlsSession = 0;

struct TlsCalls {
  // Handshake over `socket` (connected, owned by the caller, which closes it
  // after closeSession) for `host` as written in the link: SNI with the name
  // (none for a dotted IPv4 host), TLS 1.2 at least, chain and host verified
  // before it returns. Done within `timeoutMs` of the clock service, or it
  // fails. kNoTlsSession on any failure.
  TlsSession (*handshake)(SocketHandle socket, const std::string& host, int64_t timeoutMs);
  // As NetCalls::waitReadable / waitWritable, for the session: decrypted
  // bytes already held count as readable.
  WaitResult (*waitReadable)(TlsSession session, int64_t milliseconds);
  WaitResult (*waitWritable)(TlsSession session, int64_t milliseconds);
  // As NetCalls::send: plain bytes taken (may be fewer than count; 0 when
  // none could be taken just now), -1 on error. Never blocks.
  int64_t (*send)(TlsSession session, const void* bytes, int64_t count);
  // As NetCalls::receive: decrypted bytes (at most count), 0 at the server's
  // close_notify or the connection's end, -1 on error or a fatal alert,
  // kNothingWaiting when none are there yet. Never blocks.
  int64_t (*receive)(TlsSession session, void* buffer, int64_t count);
  // Frees the session (sends close_notify when it can without waiting).
  void (*closeSession)(TlsSession session);
};

template <>
const TlsCalls CallTable<TlsCalls>::kPlatform;  // posix/tls.cpp, win32/tls.cpp
// The live table (tests replace entries through tests/support/call_tables.h).
inline TlsCalls& tlsCalls() { return CallTable<TlsCalls>::live(); }
// The platform's own functions.
inline const TlsCalls& platformTlsCalls() { return CallTable<TlsCalls>::platform(); }

}  // namespace platform
