#pragma once
// Byte-text operations with 1-based positions. A text is a byte string in no
// particular encoding; position 0 means "not found". Every operation clamps
// out-of-range positions and lengths instead of failing, because the report
// scanner relies on exactly these edges.
#include <cstdint>
#include <string>
#include <string_view>

int64_t textLength(std::string_view text);
bool textEquals(std::string_view a, std::string_view b);
int64_t findText(std::string_view text, std::string_view pattern, int64_t start);
int64_t countText(std::string_view text, std::string_view pattern);
std::string midText(std::string_view text, int64_t start, int64_t length);
std::string midTextToEnd(std::string_view text, int64_t start);
std::string leftText(std::string_view text, int64_t n);
std::string rightText(std::string_view text, int64_t n);
// midText and midTextToEnd without the copy: views into `text`, valid as
// long as the text they were cut from. For scans of long page lines.
std::string_view midView(std::string_view text, int64_t start, int64_t length);
std::string_view midViewToEnd(std::string_view text, int64_t start);
std::string replaceText(std::string_view text, std::string_view find, std::string_view replacement);
int64_t parseInteger(std::string_view text);
// Whether parseInteger finds a number in `text`: at least one digit after
// the blanks, sign and base mark it skips.
bool holdsInteger(std::string_view text);
std::string formatInteger(int64_t value);
