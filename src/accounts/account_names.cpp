#include "accounts/account_names.h"

#include <array>
#include <string>

namespace {

std::string lowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool isDeviceName(std::string_view name) {
  // Windows treats "con", "con.txt" and "con .txt" alike: the part before the
  // first dot, without trailing blanks, is what counts.
  std::string base = lowerAscii(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static constexpr std::array<std::string_view, 4> plain = {"con", "prn", "aux", "nul"};
  for (std::string_view device : plain) {
    if (base == device) return true;
  }
  if (base.size() == 4 && (base.rfind("com", 0) == 0 || base.rfind("lpt", 0) == 0)) {
    return base[3] >= '1' && base[3] <= '9';
  }
  return false;
}

}  // namespace

bool isUsableAccountFileName(std::string_view name) {
  for (unsigned char c : name) {
    if (c < 32 || c == 127) return false;
    switch (c) {
      case '/': case '\\': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
        return false;
      default:
        break;
    }
  }
  if (isDeviceName(name)) return false;
  return lowerAscii(name) != "konta";
}
