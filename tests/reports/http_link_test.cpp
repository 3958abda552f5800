#include "reports/http_link.h"

#include <gtest/gtest.h>

namespace {

std::string request(const std::string& path, const std::string& hostLine) {
  return "GET /" + path + " HTTP/1.1\r\nAccept: */*\r\nHost: " + hostLine + "\r\nConnection: close\r\n\r\n";
}

}  // namespace

TEST(SplitLink, PartsAndRequest) {
  struct Case {
    const char* link;
    const char* host;
    uint16_t port;
    const char* path;
    const char* hostLine;
  };
  const Case cases[] = {
      {"http://example.com/page.html", "example.com", 80, "page.html", "example.com"},
      // Any scheme but https is not examined: plain HTTP, port 80.
      {"HTTP://example.com/x", "example.com", 80, "x", "example.com"},
      {"httpss://example.com/x", "example.com", 80, "x", "example.com"},
      {"https ://example.com/x", "example.com", 80, "x", "example.com"},
      {" https://example.com/x", "example.com", 80, "x", "example.com"},
      {"http://h:443/x", "h", 443, "x", "h:443"},
      {"ftp://h:8080/a/b", "h", 8080, "a/b", "h:8080"},
      {"://h/x", "h", 80, "x", "h"},
      // Naming port 80 gives a Host line without a port.
      {"http://h:80/x", "h", 80, "x", "h"},
      {"http://h:0080/x", "h", 80, "x", "h"},
      {"http://h:65535/", "h", 65535, "", "h:65535"},
      // User name and password are skipped, up to and including the first "@".
      {"http://user:secret@h:81/p", "h", 81, "p", "h:81"},
      {"http://a@b@c/p", "b@c", 80, "p", "b@c"},
      // "@" and ":" after the first "/" belong to the target path.
      {"http://h/a:b@c:9", "h", 80, "a:b@c:9", "h"},
      {"http://u@h/p@q:1", "h", 80, "p@q:1", "h"},
      // Nothing after the host, or only a "/": empty target path.
      {"http://h", "h", 80, "", "h"},
      {"http://h/", "h", 80, "", "h"},
      {"http://h:8080", "h", 8080, "", "h:8080"},
      // Query, fragment and trailing blanks are sent unchanged.
      {"http://h/r.php?a=1&b=%20#frag  ", "h", 80, "r.php?a=1&b=%20#frag  ", "h"},
      {"http://h//double", "h", 80, "/double", "h"},
      // Port text: leading blanks, then its leading digits; none gives 0; empty gives 80.
      {"http://h:  8080/x", "h", 8080, "x", "h:8080"},
      {"http://h:81abc/x", "h", 81, "x", "h:81"},
      {"http://h:abc/x", "h", 0, "x", "h:0"},
      {"http://h: /x", "h", 0, "x", "h:0"},
      {"http://h:/x", "h", 80, "x", "h"},
      {"http://h:8:9/x", "h", 8, "x", "h:8"},
      // Nothing is trimmed or decoded.
      {"  http://H%41st/ ", "H%41st", 80, " ", "H%41st"},
      {"http://h?q=1/y", "h?q=1", 80, "y", "h?q=1"},
      {"http://\xb3\xf3"
       "d\xbc/\xea",
       "\xb3\xf3"
       "d\xbc",
       80, "\xea",
       "\xb3\xf3"
       "d\xbc"},
  };
  for (const Case& c : cases) {
    LinkParts parts;
    ASSERT_TRUE(splitLink(c.link, parts)) << c.link;
    EXPECT_EQ(parts.host, c.host) << c.link;
    EXPECT_EQ(parts.port, c.port) << c.link;
    EXPECT_EQ(parts.targetPath, c.path) << c.link;
    EXPECT_FALSE(parts.tls) << c.link;
    EXPECT_EQ(buildRequest(parts), request(c.path, c.hostLine)) << c.link;
  }
}

TEST(SplitLink, HttpsLinks) {
  struct Case {
    const char* link;
    const char* host;
    uint16_t port;
    const char* path;
    const char* hostLine;
  };
  const Case cases[] = {
      // The scheme in any letter case; port 443 when none is named, and
      // then no port in the Host line.
      {"https://example.com/x", "example.com", 443, "x", "example.com"},
      {"HTTPS://example.com/x", "example.com", 443, "x", "example.com"},
      {"hTtPs://example.com", "example.com", 443, "", "example.com"},
      {"https://h:/x", "h", 443, "x", "h"},
      {"https://h:443/x", "h", 443, "x", "h"},
      {"https://h:0443/x", "h", 443, "x", "h"},
      // Any other port as for http, 80 included.
      {"https://h:8443/x", "h", 8443, "x", "h:8443"},
      {"https://h:80/x", "h", 80, "x", "h:80"},
      {"https://h:  81x/x", "h", 81, "x", "h:81"},
      {"https://h:abc/x", "h", 0, "x", "h:0"},
      // The rest of the link as for http.
      {"https://user:pw@10.0.0.1/r.php?id=1#f ", "10.0.0.1", 443, "r.php?id=1#f ", "10.0.0.1"},
      {"https://h/a:b@c:9", "h", 443, "a:b@c:9", "h"},
  };
  for (const Case& c : cases) {
    LinkParts parts;
    ASSERT_TRUE(splitLink(c.link, parts)) << c.link;
    EXPECT_TRUE(parts.tls) << c.link;
    EXPECT_EQ(parts.host, c.host) << c.link;
    EXPECT_EQ(parts.port, c.port) << c.link;
    EXPECT_EQ(parts.targetPath, c.path) << c.link;
    EXPECT_EQ(buildRequest(parts), request(c.path, c.hostLine)) << c.link;
  }
  // An https link is refused for the same faults as any other.
  LinkParts parts;
  for (const char* link : {"https://", "https:///x", "https://h:65536/x", "https://h/\r\nX: y"})
    EXPECT_FALSE(splitLink(link, parts)) << link;
}

TEST(SplitLink, RefusedLinks) {
  const char* const links[] = {
      "",
      "example.com/page",
      "http:/example.com/page",
      "http://",
      "http:///page",
      "http://:8080/page",
      "http://user@/page",
      "http://user@:81",
      // Above the range of a port.
      "http://h:65536/",
      "http://h:99999999999999999999999/",
      // A line end would close the request line early and let the link
      // smuggle headers of its own into the request.
      "http://h/page\r\nCookie: x",
      "http://h/page\nX: y",
      "http://h\r/page",
  };
  for (const char* link : links) {
    LinkParts parts;
    parts.host = "unchanged";
    EXPECT_FALSE(splitLink(link, parts)) << link;
    EXPECT_EQ(parts.host, "unchanged") << link;
  }
}

TEST(BuildRequest, FitsAnyLengthOfLink) {
  // Far beyond the 1024-byte buffer of the request's first design.
  LinkParts parts;
  parts.host = std::string(3000, 'h');
  parts.port = 8080;
  parts.targetPath = std::string(100000, 'p');
  const std::string expected = request(parts.targetPath, parts.host + ":8080");
  EXPECT_EQ(buildRequest(parts), expected);
}

TEST(ParseDottedIpv4, NumbersAndNames) {
  struct Case {
    const char* host;
    bool dotted;
    uint32_t address;
  };
  const Case cases[] = {
      {"127.0.0.1", true, 0x7F000001},
      {"0.0.0.0", true, 0},
      {"255.255.255.255", true, 0xFFFFFFFF},
      {"10.20.30.40", true, 0x0A141E28},
      {"001.002.003.004", true, 0x01020304},
      {"256.0.0.1", false, 0},
      {"1.2.3", false, 0},
      {"1.2.3.4.5", false, 0},
      {"1.2.3.4 ", false, 0},
      {" 1.2.3.4", false, 0},
      {"1..3.4", false, 0},
      {"1.2.3.", false, 0},
      {"1.2.3.0004", false, 0},
      {"localhost", false, 0},
      {"1.2.3.4a", false, 0},
      {"", false, 0},
  };
  for (const Case& c : cases) {
    uint32_t address = 12345;
    EXPECT_EQ(parseDottedIpv4(c.host, address), c.dotted) << c.host;
    EXPECT_EQ(address, c.dotted ? c.address : 12345u) << c.host;
  }
}
