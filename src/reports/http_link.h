#pragma once
// The link of a report page cut into the parts of one HTTP GET, and the
// request built from them. Pure functions of text: no sockets here.
#include <cstdint>
#include <string>
#include <string_view>

struct LinkParts {
  std::string host;  // as written in the link: a name or a dotted IPv4 address
  uint16_t port = 80;
  std::string targetPath;  // sent after "GET /"; may be empty
  bool tls = false;        // the scheme is "https": fetched over TLS
};

// The port of a link that names none, and the one that gives a Host line
// without a port suffix: 443 over TLS, else 80.
uint16_t defaultPort(const LinkParts& parts);

// Splits a link byte for byte (nothing trimmed, decoded or escaped):
// "<scheme>://[userinfo@]host[:port][/targetPath]". A scheme that is "https"
// in any letter case sets `tls`; any other is not looked at. Userinfo is
// dropped. The port text is read as leading blanks, then its leading digits:
// none gives port 0, an empty text or no ":" gives the default port. False
// when there is no "://", the host is empty, the port is above 65535, or the
// link holds a CR or LF byte.
bool splitLink(std::string_view link, LinkParts& parts);

// "GET /<targetPath> HTTP/1.1" with the Accept, Host and Connection headers;
// the Host line carries ":<port>" only when the port is not the default one.
// The result is as long as it needs to be.
std::string buildRequest(const LinkParts& parts);

// A host written as four decimal numbers 0..255 separated by dots, as the
// address in host byte order (127.0.0.1 is 0x7F000001). False for anything
// else, which is then a name to look up.
bool parseDottedIpv4(std::string_view host, uint32_t& address);
