#include "text/text.h"
int64_t textLength(std::string_view text) { return static_cast<int64_t>(text.size()); }
bool textEquals(std::string_view a, std::string_view b) { return a == b; }
int64_t findText(std::string_view, std::string_view, int64_t) { return 0; }
int64_t countText(std::string_view, std::string_view) { return 0; }
std::string midText(std::string_view, int64_t, int64_t) { return {}; }
std::string midTextToEnd(std::string_view, int64_t) { return {}; }
std::string leftText(std::string_view, int64_t) { return {}; }
std::string rightText(std::string_view, int64_t) { return {}; }
std::string replaceText(std::string_view t, std::string_view, std::string_view) { return std::string(t); }
int64_t parseInteger(std::string_view) { return 0; }
std::string formatInteger(int64_t v) { return std::to_string(v); }
