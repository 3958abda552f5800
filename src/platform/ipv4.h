#pragma once
// What counts as a dotted IPv4 host, in one place for the download (which
// then connects without a name lookup) and for both TLS services (which then
// send no SNI and check the certificate's IP address entries): four decimal
// numbers of one to three digits, each 0..255, separated by dots, nothing
// before or after. Anything else is a name.
#include <cstddef>
#include <string_view>

namespace platform {

inline bool dottedIpv4(std::string_view host, unsigned char (&address)[4]) {
  size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (at >= host.size() || host[at] != '.') return false;
      ++at;
    }
    unsigned value = 0;
    size_t digits = 0;
    for (; at < host.size() && host[at] >= '0' && host[at] <= '9' && digits < 4; ++at, ++digits)
      value = value * 10 + static_cast<unsigned>(host[at] - '0');
    if (digits == 0 || digits > 3 || value > 255) return false;
    address[part] = static_cast<unsigned char>(value);
  }
  return at == host.size();
}

}  // namespace platform
