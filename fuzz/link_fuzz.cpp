// Link splitter and request builder: any bytes as a link split without a
// crash; a link that splits gives back its parts byte for byte, a request
// of exactly the template around them, and a dotted host that reads the same
// after being written out again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "reports/http_link.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string link(reinterpret_cast<const char*>(data), size);
  LinkParts parts;
  if (!splitLink(link, parts)) return 0;

  const size_t scheme = link.find("://");
  require(scheme != std::string::npos);
  require(!parts.host.empty());
  require(parts.host.find('/') == std::string::npos && parts.host.find(':') == std::string::npos);
  // The host sits between "://" (or the userinfo's "@") and the authority's end.
  require(link.find(parts.host, scheme + 3) != std::string::npos);
  if (!parts.targetPath.empty()) require(endsWith(link, "/" + parts.targetPath));
  // Nothing of the target path is in the authority: the authority has no "/".
  const size_t slash = link.find('/', scheme + 3);
  if (slash == std::string::npos)
    require(parts.targetPath.empty());
  else
    require(parts.targetPath == link.substr(slash + 1));

  // TLS exactly when the scheme is "https" in some letter case.
  std::string schemeText = link.substr(0, scheme);
  for (char& c : schemeText)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  require(parts.tls == (schemeText == "https"));

  const std::string request = buildRequest(parts);
  const uint16_t unnamed = parts.tls ? 443 : 80;
  const std::string hostLine = parts.host + (parts.port == unnamed ? "" : ":" + std::to_string(parts.port));
  require(request == "GET /" + parts.targetPath + " HTTP/1.1\r\nAccept: */*\r\nHost: " + hostLine +
                         "\r\nConnection: close\r\n\r\n");

  uint32_t address = 0;
  if (parseDottedIpv4(parts.host, address)) {
    const std::string written = std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 255) +
                                "." + std::to_string((address >> 8) & 255) + "." +
                                std::to_string(address & 255);
    uint32_t again = 0;
    require(parseDottedIpv4(written, again) && again == address);
  }
  return 0;
}
