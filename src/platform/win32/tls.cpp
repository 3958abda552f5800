#include "platform/tls.h"

// SChannel through SSPI. The handshake asks for no automatic validation: the
// chain and the host are checked here, before the session is handed out, with
// the system's chain engine and the SSL policy, and the chain's own error
// status is read as well (a partial chain can pass the policy). The IPv4
// address of a dotted host is compared with the certificate's IP address
// entries here too, since not every policy implementation matches them.
#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
// Order matters: winsock2 before windows, the SSPI and certificate headers
// after them.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <subauth.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>
// clang-format on

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/ipv4.h"

namespace platform {
namespace {

// A TLS record is at most 5 header bytes and 2^14 + 2048 bytes of payload;
// the server's handshake flight (its certificate chain) may span several.
constexpr size_t kRecordHeaderBytes = 5;
constexpr size_t kMaxIncomingBytes = 64 * 1024;
constexpr unsigned char kAlertRecord = 0x15;

constexpr DWORD kRequestFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;

// Versions below TLS 1.2, refused after the handshake whatever the
// credentials asked for (a system may ignore what they ask).
// SECURITY_FLAG_IGNORE_CERT_CN_INVALID of wininet.h: the SSL policy leaves
// the name to the caller.
constexpr DWORD kPolicyIgnoresName = 0x00001000;

constexpr DWORD kTooOldProtocols = SP_PROT_PCT1_CLIENT | SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT |
                                   SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;

int64_t nowMs() { return clockCalls().milliseconds(); }

// Milliseconds left until `deadline`, never below 0.
int64_t leftUntil(int64_t deadline) { return std::max<int64_t>(deadline - nowMs(), 0); }

// The link's bytes are Windows-1250, as every text of the program.
bool widen(const std::string& text, std::wstring& wide) {
  if (text.empty() || text.size() > 0x7FFFFFFF) return false;
  const int n =
      MultiByteToWideChar(1250, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return false;
  wide.assign(static_cast<size_t>(n), L'\0');
  return MultiByteToWideChar(1250, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                             wide.data(), n) == n;
}

// TLS 1.2 and 1.3 where the system has them. SCH_CREDENTIALS (with the older
// versions disabled) is how newer systems offer 1.3; older ones know only
// SCHANNEL_CRED, where asking for 1.3 fails on a system without it, so the
// last step asks for 1.2 alone.
bool acquireCredentials(CredHandle& credentials) {
  const DWORD flags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
  wchar_t package[] = UNISP_NAME_W;
  TimeStamp expiry;

  TLS_PARAMETERS parameters{};
  parameters.grbitDisabledProtocols = ~static_cast<DWORD>(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT);
  SCH_CREDENTIALS modern{};
  modern.dwVersion = SCH_CREDENTIALS_VERSION;
  modern.dwFlags = flags;
  modern.cTlsParameters = 1;
  modern.pTlsParameters = &parameters;
  if (AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &modern, nullptr, nullptr,
                                &credentials, &expiry) == SEC_E_OK)
    return true;

  for (const DWORD protocols :
       {DWORD{SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT}, DWORD{SP_PROT_TLS1_2_CLIENT}}) {
    SCHANNEL_CRED legacy{};
    legacy.dwVersion = SCHANNEL_CRED_VERSION;
    legacy.grbitEnabledProtocols = protocols;
    legacy.dwFlags = flags;
    if (AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &legacy, nullptr, nullptr,
                                  &credentials, &expiry) == SEC_E_OK)
      return true;
  }
  return false;
}

// True when one of the certificate's IP address entries is `address`.
bool certificateHasIpAddress(PCCERT_CONTEXT certificate, const unsigned char address[4]) {
  const CERT_INFO* info = certificate->pCertInfo;
  const CERT_EXTENSION* extension =
      CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
  if (extension == nullptr) return false;
  CERT_ALT_NAME_INFO* names = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, X509_ALTERNATE_NAME,
                           extension->Value.pbData, extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr,
                           &names, &size))
    return false;
  bool found = false;
  for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
    found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == 4 &&
            memcmp(entry.IPAddress.pbData, address, 4) == 0;
  }
  LocalFree(names);
  return found;
}

// The server's certificate chain against the system's trust store, for a
// server (its extended key usage), and the host against the certificate.
// `timeoutMs` bounds the fetching of missing issuers.
bool verifyServer(CtxtHandle& context, const std::wstring& host, const unsigned char* ipv4,
                  int64_t timeoutMs) {
  PCCERT_CONTEXT certificate = nullptr;
  if (QueryContextAttributesW(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK ||
      certificate == nullptr)
    return false;

  char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
  char* usages[] = {serverAuth};
  CERT_CHAIN_PARA chainPara{};
  chainPara.cbSize = sizeof chainPara;
  chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
  chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  chainPara.dwUrlRetrievalTimeout = static_cast<DWORD>(std::clamp<int64_t>(timeoutMs, 1, 0x7FFFFFFF));
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  bool trusted = CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara,
                                         0, nullptr, &chain) &&
                 chain != nullptr && chain->TrustStatus.dwErrorStatus == CERT_TRUST_NO_ERROR;

  if (trusted) {
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    // A dotted host is matched against the IP address entries below; the
    // policy still checks everything else.
    ssl.fdwChecks = ipv4 != nullptr ? kPolicyIgnoresName : 0;
    std::wstring name = host;
    ssl.pwszServerName = name.data();
    CERT_CHAIN_POLICY_PARA policyPara{};
    policyPara.cbSize = sizeof policyPara;
    policyPara.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS policyStatus{};
    policyStatus.cbSize = sizeof policyStatus;
    trusted = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policyPara, &policyStatus) &&
              policyStatus.dwError == 0;
  }
  if (trusted && ipv4 != nullptr) trusted = certificateHasIpAddress(certificate, ipv4);

  if (chain != nullptr) CertFreeCertificateChain(chain);
  CertFreeCertificateContext(certificate);
  return trusted;
}

class Session {
 public:
  explicit Session(SocketHandle socket) : socket_(socket), incoming_(new char[kMaxIncomingBytes]) {}
  ~Session() {
    if (haveContext_) DeleteSecurityContext(&context_);
    if (haveCredentials_) FreeCredentialsHandle(&credentials_);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool handshake(const std::string& host, int64_t timeoutMs);
  WaitResult waitReadable(int64_t milliseconds);
  WaitResult waitWritable(int64_t milliseconds);
  int64_t send(const void* bytes, int64_t count);
  int64_t receive(void* buffer, int64_t count);
  void shutdown();

 private:
  enum class Step { Produced, NeedMore, Ended, Failed };

  bool handshakeLoop(int64_t deadline);
  Step continueHandshake();
  Step decryptOne();
  Step readMore();
  bool flush();
  void queueToken(SecBuffer& token);
  void keepExtra(const SecBuffer* extra);

  SocketHandle socket_;
  CredHandle credentials_{};
  CtxtHandle context_{};
  bool haveCredentials_ = false;
  bool haveContext_ = false;
  std::wstring target_;  // SNI and the handshake's target; empty for a dotted host
  SecPkgContext_StreamSizes sizes_{};
  DWORD protocol_ = 0;
  bool handshaking_ = true;  // tokens go through InitializeSecurityContext
  bool ended_ = false;       // close_notify or the connection's end
  bool broken_ = false;
  std::unique_ptr<char[]> incoming_;  // encrypted bytes not used yet
  size_t incomingBytes_ = 0;
  std::string plain_;  // decrypted bytes not handed out yet
  size_t plainStart_ = 0;
  std::string outgoing_;  // encrypted bytes not sent yet
  size_t outgoingStart_ = 0;
};

void Session::queueToken(SecBuffer& token) {
  if (token.pvBuffer == nullptr) return;
  outgoing_.append(static_cast<const char*>(token.pvBuffer), token.cbBuffer);
  FreeContextBuffer(token.pvBuffer);
  token.pvBuffer = nullptr;
}

// What a call left unused is the tail of the input: it moves to the front.
void Session::keepExtra(const SecBuffer* extra) {
  const size_t keep = extra != nullptr ? std::min<size_t>(extra->cbBuffer, incomingBytes_) : 0;
  memmove(incoming_.get(), incoming_.get() + incomingBytes_ - keep, keep);
  incomingBytes_ = keep;
}

// Sends what is queued without waiting; false on a broken connection.
bool Session::flush() {
  while (outgoingStart_ < outgoing_.size()) {
    const int64_t n = netCalls().send(socket_, outgoing_.data() + outgoingStart_,
                                      static_cast<int64_t>(outgoing_.size() - outgoingStart_));
    if (n < 0) {
      broken_ = true;
      return false;
    }
    if (n == 0) return true;
    outgoingStart_ += static_cast<size_t>(n);
  }
  outgoing_.clear();
  outgoingStart_ = 0;
  return true;
}

// Encrypted bytes from the socket into the free room, without waiting.
Session::Step Session::readMore() {
  if (incomingBytes_ >= kMaxIncomingBytes) return Step::Failed;
  const int64_t n = netCalls().receive(socket_, incoming_.get() + incomingBytes_,
                                       static_cast<int64_t>(kMaxIncomingBytes - incomingBytes_));
  if (n == kNothingWaiting) return Step::NeedMore;
  if (n == 0) return Step::Ended;
  if (n < 0 || n > static_cast<int64_t>(kMaxIncomingBytes - incomingBytes_)) return Step::Failed;
  incomingBytes_ += static_cast<size_t>(n);
  return Step::Produced;
}

// One InitializeSecurityContext over the bytes received: Produced when the
// handshake (or a message after it) is complete.
Session::Step Session::continueHandshake() {
  SecBuffer in[2] = {{static_cast<unsigned long>(incomingBytes_), SECBUFFER_TOKEN, incoming_.get()},
                     {0, SECBUFFER_EMPTY, nullptr}};
  SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
  SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
  SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
  unsigned long attributes = 0;
  wchar_t* target = target_.empty() ? nullptr : target_.data();
  const size_t before = incomingBytes_;
  const SECURITY_STATUS status =
      InitializeSecurityContextW(&credentials_, &context_, target, kRequestFlags, 0, 0, &inDesc, 0, nullptr,
                                 &outDesc, &attributes, nullptr);
  queueToken(out[0]);
  if (status == SEC_E_INCOMPLETE_MESSAGE) return Step::NeedMore;
  if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) return Step::Failed;
  keepExtra(in[1].BufferType == SECBUFFER_EXTRA ? &in[1] : nullptr);
  // Bytes left over are the next message: on with them while they go down.
  if (status == SEC_I_CONTINUE_NEEDED)
    return incomingBytes_ == 0 || incomingBytes_ == before ? Step::NeedMore : continueHandshake();
  handshaking_ = false;
  return Step::Produced;
}

bool Session::handshakeLoop(int64_t deadline) {
  for (;;) {
    if (!flush()) return false;
    if (outgoingStart_ < outgoing_.size()) {
      if (netCalls().waitWritable(socket_, leftUntil(deadline)) != WaitResult::Ready || nowMs() >= deadline)
        return false;
      continue;
    }
    if (!handshaking_) return true;
    Step step = incomingBytes_ == 0 ? Step::NeedMore : continueHandshake();
    if (step == Step::Failed) return false;
    // A token the handshake made goes out before any wait for the answer.
    if (step == Step::Produced || outgoingStart_ < outgoing_.size()) continue;
    step = readMore();
    if (step == Step::Failed || step == Step::Ended) return false;
    if (step == Step::NeedMore && netCalls().waitReadable(socket_, leftUntil(deadline)) != WaitResult::Ready)
      return false;
    if (nowMs() >= deadline) return false;
  }
}

bool Session::handshake(const std::string& host, int64_t timeoutMs) {
  const int64_t deadline = nowMs() + std::max<int64_t>(timeoutMs, 0);
  // A NUL byte would cut the name that is checked.
  std::wstring wideHost;
  if (host.find('\0') != std::string::npos || !widen(host, wideHost)) return false;
  unsigned char ipv4[4];
  const bool dotted = dottedIpv4(host, ipv4);
  if (!dotted) target_ = wideHost;

  // Whatever mode the socket was left in, the session never waits inside a
  // socket call: waits go through the socket service with the time left.
  u_long nonBlocking = 1;
  if (ioctlsocket(static_cast<SOCKET>(socket_), FIONBIO, &nonBlocking) != 0) return false;

  if (!acquireCredentials(credentials_)) return false;
  haveCredentials_ = true;

  SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
  SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
  unsigned long attributes = 0;
  wchar_t* target = target_.empty() ? nullptr : target_.data();
  const SECURITY_STATUS first =
      InitializeSecurityContextW(&credentials_, nullptr, target, kRequestFlags, 0, 0, nullptr, 0, &context_,
                                 &outDesc, &attributes, nullptr);
  if (first != SEC_I_CONTINUE_NEEDED) {
    if (out[0].pvBuffer != nullptr) FreeContextBuffer(out[0].pvBuffer);
    if (first == SEC_E_OK) DeleteSecurityContext(&context_);
    return false;
  }
  haveContext_ = true;
  queueToken(out[0]);
  if (!handshakeLoop(deadline)) return false;

  SecPkgContext_ConnectionInfo connection{};
  if (QueryContextAttributesW(&context_, SECPKG_ATTR_CONNECTION_INFO, &connection) != SEC_E_OK ||
      (connection.dwProtocol & kTooOldProtocols) != 0)
    return false;
  protocol_ = connection.dwProtocol;
  if (QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK) return false;
  if (!verifyServer(context_, wideHost, dotted ? ipv4 : nullptr, leftUntil(deadline))) return false;
  return nowMs() < deadline;
}

// One record of the bytes received: Produced with its plain bytes in plain_
// (maybe none: an empty record, or a message after the handshake), NeedMore
// when the record is not whole yet.
Session::Step Session::decryptOne() {
  if (handshaking_) return continueHandshake();
  // DecryptMessage reads the record header unchecked: never hand it less.
  if (incomingBytes_ < kRecordHeaderBytes) return Step::NeedMore;
  const unsigned char recordType = static_cast<unsigned char>(incoming_[0]);
  SecBuffer buffers[4] = {{static_cast<unsigned long>(incomingBytes_), SECBUFFER_DATA, incoming_.get()},
                          {0, SECBUFFER_EMPTY, nullptr},
                          {0, SECBUFFER_EMPTY, nullptr},
                          {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
  const SECURITY_STATUS status = DecryptMessage(&context_, &desc, 0, nullptr);
  if (status == SEC_E_INCOMPLETE_MESSAGE) return Step::NeedMore;
  if (status == SEC_I_CONTEXT_EXPIRED) return Step::Ended;
  if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) return Step::Failed;
  const SecBuffer* data = nullptr;
  const SecBuffer* extra = nullptr;
  for (const SecBuffer& b : buffers) {
    if (b.BufferType == SECBUFFER_DATA && data == nullptr) data = &b;
    if (b.BufferType == SECBUFFER_EXTRA && extra == nullptr) extra = &b;
  }
  const size_t plainBytes = data != nullptr && data->pvBuffer != nullptr ? data->cbBuffer : 0;
  if (plainBytes > 0) plain_.append(static_cast<const char*>(data->pvBuffer), plainBytes);
  keepExtra(extra);
  if (status == SEC_I_RENEGOTIATE) {
    // TLS 1.3 reports the messages that follow its handshake (new session
    // tickets, key updates) so; they go back through the handshake call. A
    // renegotiation of an older version could bring another certificate
    // after the one verified: refused.
    if ((protocol_ & SP_PROT_TLS1_3_CLIENT) == 0) return Step::Failed;
    handshaking_ = true;
    return Step::Produced;
  }
  // A TLS 1.2 close_notify comes back as an empty record of the alert type
  // from some implementations, instead of SEC_I_CONTEXT_EXPIRED.
  if (plainBytes == 0 && recordType == kAlertRecord) return Step::Ended;
  return Step::Produced;
}

int64_t Session::receive(void* buffer, int64_t count) {
  for (;;) {
    if (plainStart_ < plain_.size()) {
      const size_t n =
          std::min<size_t>(static_cast<size_t>(std::max<int64_t>(count, 0)), plain_.size() - plainStart_);
      memcpy(buffer, plain_.data() + plainStart_, n);
      plainStart_ += n;
      if (plainStart_ == plain_.size()) {
        plain_.clear();
        plainStart_ = 0;
      }
      return static_cast<int64_t>(n);
    }
    if (broken_) return -1;
    if (ended_) return 0;
    if (!flush()) return -1;
    Step step = decryptOne();
    if (step == Step::NeedMore) {
      step = readMore();
      if (step == Step::NeedMore) return kNothingWaiting;
    }
    if (step == Step::Failed) broken_ = true;
    if (step == Step::Ended) ended_ = true;
  }
}

WaitResult Session::waitReadable(int64_t milliseconds) {
  const int64_t deadline = nowMs() + std::max<int64_t>(milliseconds, 0);
  // A whole record may already be held; what is still queued goes out
  // first, since the other side may be waiting for it.
  for (;;) {
    if (plainStart_ < plain_.size() || ended_ || broken_) return WaitResult::Ready;
    const Step step = decryptOne();
    if (step == Step::Produced) continue;
    if (step == Step::Failed) broken_ = true;
    if (step == Step::Ended) ended_ = true;
    if (step != Step::NeedMore) continue;
    if (!flush()) return WaitResult::Ready;
    if (outgoingStart_ == outgoing_.size()) break;
    const WaitResult ready = netCalls().waitWritable(socket_, leftUntil(deadline));
    if (ready != WaitResult::Ready) return ready;
  }
  return netCalls().waitReadable(socket_, leftUntil(deadline));
}

WaitResult Session::waitWritable(int64_t milliseconds) {
  const int64_t deadline = nowMs() + std::max<int64_t>(milliseconds, 0);
  for (;;) {
    if (broken_ || !flush()) return WaitResult::Ready;  // the next send reports the error
    const WaitResult ready = netCalls().waitWritable(socket_, leftUntil(deadline));
    if (ready != WaitResult::Ready || outgoingStart_ == outgoing_.size()) return ready;
  }
}

int64_t Session::send(const void* bytes, int64_t count) {
  if (broken_ || !flush()) return -1;
  if (outgoingStart_ < outgoing_.size() || count <= 0) return 0;
  const size_t take = std::min<size_t>(static_cast<size_t>(count), sizes_.cbMaximumMessage);
  std::vector<char> record(sizes_.cbHeader + take + sizes_.cbTrailer);
  memcpy(record.data() + sizes_.cbHeader, bytes, take);
  SecBuffer buffers[4] = {
      {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
      {static_cast<unsigned long>(take), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
      {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + take},
      {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
  if (EncryptMessage(&context_, 0, &desc, 0) != SEC_E_OK) {
    broken_ = true;
    return -1;
  }
  // The sizes as they are after the call: the trailer may be shorter than
  // announced.
  for (int i = 0; i < 3; ++i)
    outgoing_.append(static_cast<const char*>(buffers[i].pvBuffer), buffers[i].cbBuffer);
  if (!flush()) return -1;
  return static_cast<int64_t>(take);
}

// close_notify, sent if the socket takes it at once.
void Session::shutdown() {
  if (!haveContext_ || handshaking_ || broken_) return;
  DWORD type = SCHANNEL_SHUTDOWN;
  SecBuffer control[1] = {{sizeof type, SECBUFFER_TOKEN, &type}};
  SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, control};
  if (ApplyControlToken(&context_, &controlDesc) != SEC_E_OK) return;
  SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
  SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
  unsigned long attributes = 0;
  wchar_t* target = target_.empty() ? nullptr : target_.data();
  const SECURITY_STATUS status =
      InitializeSecurityContextW(&credentials_, &context_, target, kRequestFlags, 0, 0, nullptr, 0, nullptr,
                                 &outDesc, &attributes, nullptr);
  if (status == SEC_E_OK || status == SEC_I_CONTEXT_EXPIRED) {
    queueToken(out[0]);
    flush();
  } else if (out[0].pvBuffer != nullptr) {
    FreeContextBuffer(out[0].pvBuffer);
  }
}

Session* sessionOf(TlsSession session) { return reinterpret_cast<Session*>(session); }

TlsSession handshake(SocketHandle socket, const std::string& host, int64_t timeoutMs) {
  if (socket == kNoSocket) return kNoTlsSession;
  auto* session = new Session(socket);
  if (!session->handshake(host, timeoutMs)) {
    delete session;
    return kNoTlsSession;
  }
  return reinterpret_cast<TlsSession>(session);
}

WaitResult waitReadable(TlsSession session, int64_t milliseconds) {
  return sessionOf(session)->waitReadable(milliseconds);
}
WaitResult waitWritable(TlsSession session, int64_t milliseconds) {
  return sessionOf(session)->waitWritable(milliseconds);
}
int64_t sendBytes(TlsSession session, const void* bytes, int64_t count) {
  return sessionOf(session)->send(bytes, count);
}
int64_t receiveBytes(TlsSession session, void* buffer, int64_t count) {
  return sessionOf(session)->receive(buffer, count);
}
void closeSession(TlsSession session) {
  if (session == kNoTlsSession) return;
  sessionOf(session)->shutdown();
  delete sessionOf(session);
}

}  // namespace

template <>
const TlsCalls CallTable<TlsCalls>::kPlatform{handshake,    waitReadable, waitWritable,
                                              sendBytes,    receiveBytes, closeSession};

}  // namespace platform
