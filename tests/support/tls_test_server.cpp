#include "support/tls_test_server.h"

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// Makes the test CA trusted for this process only.
bool trustTestCa(const std::string& dir, std::string& why) {
#ifdef _WIN32
  // TODO(tls-win): add ca.der to the Root store of the tests' private Wine
  // prefix (or a chain engine of the test). Until then nothing is trusted.
  (void)dir;
  why = "the test CA cannot be trusted on this system yet";
  return false;
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
