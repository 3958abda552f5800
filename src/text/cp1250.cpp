#include "text/cp1250.h"
std::string cp1250ToUtf8(std::string_view s) { return std::string(s); }
std::string utf8ToCp1250(std::string_view s) { return std::string(s); }
std::u16string cp1250ToUtf16(std::string_view s) { return std::u16string(s.begin(), s.end()); }
std::string utf16ToCp1250(std::u16string_view s) { return std::string(s.begin(), s.end()); }
bool utf8FitsCp1250(std::string_view) { return true; }
