#pragma once
// The loopback TLS test server that ctest starts for the whole run
// (tests/support/tls_server.py, through tls_server.sh): where its listeners
// are, and its test CA made trusted for this test process only.
//
//   const TlsTestServer* server = TlsTestServer::find(why);
//   if (!server) GTEST_SKIP() << why;
//   downloadToFile(server->url("localhost", "/cl/x").c_str(), "temp.html");
//
// The program itself trusts nothing but the system's store: on Linux the test
// points SSL_CERT_FILE at the test CA, which every OpenSSL program honours.
#include <cstdint>
#include <map>
#include <string>

class TlsTestServer {
 public:
  // The server named by WYPRAWY_TLS_SERVER_DIR (ctest always sets it), with
  // its CA trusted. nullptr when the variable is unset or the server cannot
  // be used; `why` then says so (the test skips with it).
  static const TlsTestServer* find(std::string& why);

  // Port of a listener ("localhost", "ip", "expired", "othername",
  // "selfsigned", "untrusted", "plain", "stall", "alert", "tls11"); 0 when
  // the server has no such listener.
  uint16_t port(const std::string& listener) const;
  // "https://" + host + ":" + port + path; host is "localhost" by default,
  // "127.0.0.1" for the listener "ip".
  std::string url(const std::string& listener, const std::string& path) const;
  // The folder with ca.pem, ca.der and ports.txt.
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
  std::map<std::string, uint16_t> ports_;
};
