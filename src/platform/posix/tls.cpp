#include "platform/tls.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <climits>
#include <mutex>

#include "platform/clock.h"
#include "platform/ipv4.h"

namespace platform {
namespace {

// One context for the process: the system's trust store (SSL_CERT_FILE and
// SSL_CERT_DIR as every OpenSSL program reads them) is loaded once, at the
// first handshake, not again for every download.
SSL_CTX* clientContext() {
  static std::mutex mutex;
  static SSL_CTX* context = nullptr;
  const std::lock_guard<std::mutex> lock(mutex);
  if (context != nullptr) return context;
  SSL_CTX* made = SSL_CTX_new(TLS_client_method());
  if (made == nullptr) return nullptr;
  // A connection's end without close_notify reads as the end of the stream:
  // the response's framing decides whether the body is whole.
  SSL_CTX_set_options(made, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
  SSL_CTX_set_mode(made, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  // Whole records per read from the socket, not the header and body apart.
  SSL_CTX_set_read_ahead(made, 1);
  SSL_CTX_set_verify(made, SSL_VERIFY_PEER, nullptr);
  if (SSL_CTX_set_min_proto_version(made, TLS1_2_VERSION) != 1 ||
      SSL_CTX_set_default_verify_paths(made) != 1) {
    SSL_CTX_free(made);
    ERR_clear_error();
    return nullptr;
  }
  context = made;
  return context;
}

struct Session {
  SocketHandle socket = kNoSocket;
  SSL* ssl = nullptr;
  bool socketEnded = false;  // the socket layer reported the connection's end
  bool broken = false;       // a fatal error: no close_notify may follow
  bool wantsWrite = false;   // the last read needs the socket writable first
  bool wantsRead = false;    // the last write needs the socket readable first
};

// --- The record layer's bytes go through the socket service ------------------

int bioWrite(BIO* bio, const char* data, int length) {
  auto* session = static_cast<Session*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  const int64_t sent = netCalls().send(session->socket, data, length);
  if (sent > 0) return static_cast<int>(sent);
  if (sent == 0) BIO_set_retry_write(bio);
  return -1;
}

int bioRead(BIO* bio, char* buffer, int length) {
  auto* session = static_cast<Session*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  const int64_t got = netCalls().receive(session->socket, buffer, length);
  if (got > 0) return static_cast<int>(got);
  if (got == kNothingWaiting) {
    BIO_set_retry_read(bio);
    return -1;
  }
  if (got == 0) {
    session->socketEnded = true;
    return 0;
  }
  return -1;
}

long bioControl(BIO* bio, int command, long, void*) {
  switch (command) {
    case BIO_CTRL_FLUSH:
      return 1;
    case BIO_CTRL_EOF:
      return static_cast<Session*>(BIO_get_data(bio))->socketEnded ? 1 : 0;
    default:
      return 0;
  }
}

BIO_METHOD* netBioMethod() {
  static BIO_METHOD* const method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "platform socket");
    if (m != nullptr) {
      BIO_meth_set_write(m, bioWrite);
      BIO_meth_set_read(m, bioRead);
      BIO_meth_set_ctrl(m, bioControl);
    }
    return m;
  }();
  return method;
}

void freeSession(Session* session) {
  if (session->ssl != nullptr) SSL_free(session->ssl);  // frees the BIO too
  delete session;
  ERR_clear_error();
}

// Host check: the name against the DNS entries (and no SNI for an address),
// or the address against the certificate's IP address entries.
bool setHost(SSL* ssl, const std::string& host) {
  X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
  unsigned char address[4];
  if (dottedIpv4(host, address)) return X509_VERIFY_PARAM_set1_ip(param, address, sizeof address) == 1;
  X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  return SSL_set_tlsext_host_name(ssl, host.c_str()) == 1 && SSL_set1_host(ssl, host.c_str()) == 1;
}

TlsSession handshake(SocketHandle socket, const std::string& host, int64_t timeoutMs) {
  const ClockCalls& clock = clockCalls();
  const int64_t start = clock.milliseconds();
  SSL_CTX* context = clientContext();
  BIO_METHOD* method = netBioMethod();
  // A host with a NUL byte would be checked as a shorter name.
  if (context == nullptr || method == nullptr || host.empty() || host.find('\0') != std::string::npos)
    return kNoTlsSession;

  auto* session = new Session();
  session->socket = socket;
  session->ssl = SSL_new(context);
  BIO* bio = session->ssl != nullptr ? BIO_new(method) : nullptr;
  if (bio == nullptr) {
    freeSession(session);
    return kNoTlsSession;
  }
  BIO_set_data(bio, session);
  BIO_set_init(bio, 1);
  SSL_set_bio(session->ssl, bio, bio);
  if (!setHost(session->ssl, host)) {
    freeSession(session);
    return kNoTlsSession;
  }

  for (;;) {
    ERR_clear_error();
    const int result = SSL_connect(session->ssl);
    // The chain and the host were checked inside (SSL_VERIFY_PEER): any
    // verification error has failed the handshake already.
    if (result == 1) break;
    const int error = SSL_get_error(session->ssl, result);
    const int64_t left = timeoutMs - (clock.milliseconds() - start);
    WaitResult ready = WaitResult::Failed;
    if (left > 0 && error == SSL_ERROR_WANT_READ) ready = netCalls().waitReadable(socket, left);
    if (left > 0 && error == SSL_ERROR_WANT_WRITE) ready = netCalls().waitWritable(socket, left);
    if (ready != WaitResult::Ready) {
      freeSession(session);
      return kNoTlsSession;
    }
  }
  if (SSL_get_verify_result(session->ssl) != X509_V_OK ||
      SSL_get0_peer_certificate(session->ssl) == nullptr) {
    freeSession(session);
    return kNoTlsSession;
  }
  return reinterpret_cast<TlsSession>(session);
}

// The handle is the session's address (tls.h keeps handles as integers).
Session* sessionOf(TlsSession handle) {
  return reinterpret_cast<Session*>(handle);  // NOLINT(performance-no-int-to-ptr)
}

bool streamDone(const Session* session) {
  return session->broken || (SSL_get_shutdown(session->ssl) & SSL_RECEIVED_SHUTDOWN) != 0;
}

WaitResult waitReadable(TlsSession handle, int64_t milliseconds) {
  Session* session = sessionOf(handle);
  // Decrypted bytes held already, or an end that the next read reports.
  if (SSL_pending(session->ssl) > 0 || streamDone(session)) return WaitResult::Ready;
  // Bytes held but not yet decrypted: a whole record is as good as bytes
  // waiting; part of one is not, the rest must come from the socket.
  if (SSL_has_pending(session->ssl)) {
    ERR_clear_error();
    unsigned char byte = 0;
    size_t peeked = 0;
    if (SSL_peek_ex(session->ssl, &byte, 1, &peeked) == 1) return WaitResult::Ready;
    const int error = SSL_get_error(session->ssl, 0);
    ERR_clear_error();
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) return WaitResult::Ready;
  }
  return session->wantsWrite ? netCalls().waitWritable(session->socket, milliseconds)
                             : netCalls().waitReadable(session->socket, milliseconds);
}

WaitResult waitWritable(TlsSession handle, int64_t milliseconds) {
  Session* session = sessionOf(handle);
  if (session->broken) return WaitResult::Ready;  // the next send reports it
  return session->wantsRead ? netCalls().waitReadable(session->socket, milliseconds)
                            : netCalls().waitWritable(session->socket, milliseconds);
}

int64_t sendBytes(TlsSession handle, const void* bytes, int64_t count) {
  Session* session = sessionOf(handle);
  if (session->broken) return -1;
  if (count <= 0) return 0;
  ERR_clear_error();
  size_t written = 0;
  const size_t asked = static_cast<size_t>(std::min<int64_t>(count, INT_MAX));
  session->wantsRead = false;
  if (SSL_write_ex(session->ssl, bytes, asked, &written) == 1) return static_cast<int64_t>(written);
  switch (SSL_get_error(session->ssl, 0)) {
    case SSL_ERROR_WANT_WRITE:
      return 0;
    case SSL_ERROR_WANT_READ:
      session->wantsRead = true;
      return 0;
    default:
      session->broken = true;
      ERR_clear_error();
      return -1;
  }
}

int64_t receiveBytes(TlsSession handle, void* buffer, int64_t count) {
  Session* session = sessionOf(handle);
  if (session->broken) return -1;
  if (count <= 0) return 0;
  ERR_clear_error();
  size_t got = 0;
  const size_t asked = static_cast<size_t>(std::min<int64_t>(count, INT_MAX));
  session->wantsWrite = false;
  if (SSL_read_ex(session->ssl, buffer, asked, &got) == 1) return static_cast<int64_t>(got);
  switch (SSL_get_error(session->ssl, 0)) {
    case SSL_ERROR_ZERO_RETURN:
      return 0;  // close_notify, or the connection's end
    case SSL_ERROR_WANT_READ:
      return kNothingWaiting;
    case SSL_ERROR_WANT_WRITE:
      session->wantsWrite = true;
      return kNothingWaiting;
    default:
      session->broken = true;  // a fatal alert, a bad record, a broken socket
      ERR_clear_error();
      return -1;
  }
}

void closeSession(TlsSession handle) {
  Session* session = sessionOf(handle);
  if (session == nullptr) return;
  // close_notify if the socket takes it now; its answer is not waited for.
  if (!session->broken && !session->socketEnded) {
    ERR_clear_error();
    SSL_shutdown(session->ssl);
  }
  freeSession(session);
}

}  // namespace

template <>
const TlsCalls CallTable<TlsCalls>::kPlatform{handshake,    waitReadable, waitWritable,
                                              sendBytes,    receiveBytes, closeSession};

}  // namespace platform
