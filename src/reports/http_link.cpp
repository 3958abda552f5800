#include "reports/http_link.h"

#include "platform/ipv4.h"

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isHttps(std::string_view scheme) {
  static constexpr std::string_view kHttps = "https";
  if (scheme.size() != kHttps.size()) return false;
  for (size_t i = 0; i < kHttps.size(); ++i) {
    char c = scheme[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kHttps[i]) return false;
  }
  return true;
}

}  // namespace

bool splitLink(std::string_view link, LinkParts& parts) {
  const size_t schemeEnd = link.find("://");
  if (schemeEnd == std::string_view::npos) return false;
  // The link goes into the request byte for byte, so a CR or LF in it would
  // end the request line and add headers of the link's own.
  if (link.find_first_of("\r\n") != std::string_view::npos) return false;
  const std::string_view rest = link.substr(schemeEnd + 3);

  const size_t slash = rest.find('/');
  std::string_view authority = rest.substr(0, slash);
  const std::string_view target =
      slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);

  // User name and password are dropped: no authorization is ever sent.
  const size_t at = authority.find('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1);

  const size_t colon = authority.find(':');
  const std::string_view host = authority.substr(0, colon);
  if (host.empty()) return false;

  const bool tls = isHttps(link.substr(0, schemeEnd));
  uint32_t port = tls ? 443 : 80;
  if (colon != std::string_view::npos && colon + 1 < authority.size()) {
    std::string_view text = authority.substr(colon + 1);
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    // No leading digits gives port 0, to which no connection can be made.
    port = 0;
    for (; !text.empty() && isDigit(text.front()); text.remove_prefix(1)) {
      port = port * 10 + static_cast<uint32_t>(text.front() - '0');
      if (port > 65535) return false;
    }
  }

  parts.host.assign(host);
  parts.port = static_cast<uint16_t>(port);
  parts.targetPath.assign(target);
  parts.tls = tls;
  return true;
}

uint16_t defaultPort(const LinkParts& parts) { return parts.tls ? 443 : 80; }

std::string buildRequest(const LinkParts& parts) {
  const std::string port = std::to_string(parts.port);
  std::string request;
  request.reserve(parts.targetPath.size() + parts.host.size() + port.size() + 64);
  request += "GET /";
  request += parts.targetPath;
  request += " HTTP/1.1\r\nAccept: */*\r\nHost: ";
  request += parts.host;
  if (parts.port != defaultPort(parts)) {
    request += ':';
    request += port;
  }
  request += "\r\nConnection: close\r\n\r\n";
  return request;
}

bool parseDottedIpv4(std::string_view host, uint32_t& address) {
  unsigned char bytes[4];
  if (!platform::dottedIpv4(host, bytes)) return false;
  address = uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | uint32_t{bytes[3]};
  return true;
}
