#include "support/tls_test_server.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifdef _WIN32
// wincrypt.h needs windows.h first.
// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on
#endif

namespace {

#ifdef _WIN32
// Wine's ntdll has this export; Windows' has not.
bool underWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The CA in the current user's Root store, which the system's chain engine
// trusts (and so the program, through it). Under Wine this is the tests' own
// prefix and the certificate goes in without a question. A real Windows
// would ask the user and keep it: there the test only looks whether someone
// trusted it already.
bool trustInRootStore(const std::vector<unsigned char>& der, std::string& why) {
  HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
  if (root == nullptr) {
    why = "the current user's Root certificate store cannot be opened";
    return false;
  }
  bool trusted = false;
  if (underWine()) {
    trusted =
        CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                         CERT_STORE_ADD_USE_EXISTING, nullptr) != FALSE;
    if (!trusted) why = "the test CA could not be added to the Root store of the Wine prefix";
  } else {
    PCCERT_CONTEXT ca =
        CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    PCCERT_CONTEXT found = ca == nullptr ? nullptr
                                         : CertFindCertificateInStore(root, X509_ASN_ENCODING, 0,
                                                                      CERT_FIND_EXISTING, ca, nullptr);
    trusted = found != nullptr;
    if (found != nullptr) CertFreeCertificateContext(found);
    if (ca != nullptr) CertFreeCertificateContext(ca);
    if (!trusted)
      why = "the test CA is not trusted: 'certutil -user -addstore Root ca.der' in the server's folder";
  }
  CertCloseStore(root, 0);
  return trusted;
}
#endif

// Makes the test CA trusted for this process only.
bool trustTestCa(const std::string& dir, std::string& why) {
#ifdef _WIN32
  std::ifstream file(dir + "/ca.der", std::ios::binary);
  const std::vector<unsigned char> der{std::istreambuf_iterator<char>(file),
                                       std::istreambuf_iterator<char>()};
  if (der.empty()) {
    why = "no ca.der in " + dir;
    return false;
  }
  return trustInRootStore(der, why);
#else
  // OpenSSL reads it when the trust store is first loaded, as in any program.
  const std::string ca = dir + "/ca.pem";
  if (setenv("SSL_CERT_FILE", ca.c_str(), 1) != 0) {
    why = "SSL_CERT_FILE could not be set";
    return false;
  }
  return true;
#endif
}

}  // namespace

const TlsTestServer* TlsTestServer::find(std::string& why) {
  // Read once for the whole run; every test gets the same answer.
  static std::string reason;
  static const TlsTestServer* const server = []() -> const TlsTestServer* {
    const char* dir = std::getenv("WYPRAWY_TLS_SERVER_DIR");
    if (dir == nullptr || *dir == '\0') {
      reason =
          "WYPRAWY_TLS_SERVER_DIR is not set: run under ctest, or start "
          "'tests/support/tls_server.sh start DIR' and set it to DIR";
      return nullptr;
    }
    static TlsTestServer found;
    found.dir_ = dir;
    std::ifstream ports(found.dir_ + "/ports.txt");
    std::string name;
    unsigned port = 0;
    while (ports >> name >> port) found.ports_[name] = static_cast<uint16_t>(port);
    if (found.port("localhost") == 0) {
      reason = "no TLS test server is listed in " + found.dir_ + "/ports.txt";
      return nullptr;
    }
    if (!trustTestCa(found.dir_, reason)) return nullptr;
    return &found;
  }();
  why = reason;
  return server;
}

uint16_t TlsTestServer::port(const std::string& listener) const {
  const auto it = ports_.find(listener);
  return it == ports_.end() ? 0 : it->second;
}

std::string TlsTestServer::url(const std::string& listener, const std::string& path) const {
  const std::string host = listener == "ip" ? "127.0.0.1" : "localhost";
  return "https://" + host + ":" + std::to_string(port(listener)) + path;
}
