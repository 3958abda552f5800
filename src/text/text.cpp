#include "text/text.h"

#include <charconv>
#include <cstddef>
#include <cstring>

#include "text/swar.h"

// Every operation here turns its 1-based position into a 0-based offset in
// exactly one place; the comment beside that place says how the zero,
// negative and too-large cases fall out. Positions and lengths are compared
// with the text's size before any arithmetic, so no sum can overflow.

namespace {

constexpr int64_t kNotFound = 0;

int64_t sizeOf(std::string_view text) { return static_cast<int64_t>(text.size()); }

// Searching. A plain memchr on the pattern's first byte crawls when that byte
// is common (every '<' of an HTML page for a marker that starts with '<'), so
// the scan tests eight candidate positions at a time: a position is worth a
// full comparison only when both the pattern's first and its last byte are in
// place (text/swar.h).

// 0-based offset of the first whole occurrence of a non-empty pattern that
// begins at or after `from` (from <= text.size()), or npos.
std::size_t findFrom(std::string_view text, std::string_view pattern, std::size_t from) {
  const std::size_t m = pattern.size();
  if (m > text.size() - from) return std::string_view::npos;
  const char* s = text.data();
  if (m == 1) {
    const void* hit = std::memchr(s + from, pattern[0], text.size() - from);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - s) : std::string_view::npos;
  }
  const std::size_t lastStart = text.size() - m;  // no occurrence begins behind it
  const uint64_t first = swar::broadcast(static_cast<unsigned char>(pattern.front()));
  const uint64_t last = swar::broadcast(static_cast<unsigned char>(pattern.back()));
  std::size_t i = from;
  // Eight starts i..i+7 per step; the second load ends at i+m+6 <= text end.
  for (; i <= lastStart && lastStart - i >= 7; i += 8) {
    uint64_t candidates =
        swar::zeroBytes(swar::load(s + i) ^ first) & swar::zeroBytes(swar::load(s + i + m - 1) ^ last);
    while (candidates != 0) {
      const std::size_t at = i + swar::firstFlagged(candidates);
      if (std::memcmp(s + at + 1, pattern.data() + 1, m - 2) == 0) return at;
      candidates = swar::withoutFirstFlagged(candidates);
    }
  }
  for (; i <= lastStart; ++i) {
    if (s[i] == pattern.front() && std::memcmp(s + i + 1, pattern.data() + 1, m - 1) == 0) return i;
  }
  return std::string_view::npos;
}

}  // namespace

int64_t textLength(std::string_view text) { return sizeOf(text); }

bool textEquals(std::string_view a, std::string_view b) { return a == b; }

int64_t findText(std::string_view text, std::string_view pattern, int64_t start) {
  if (text.empty() || pattern.empty()) return kNotFound;
  // 1-based start -> 0-based offset. Below 1 counts as 1 (offset 0); beyond
  // the last byte nothing can be found. An occurrence that would run past the
  // end is not one: string_view::find only reports whole occurrences.
  if (start > sizeOf(text)) return kNotFound;
  const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start - 1);
  const std::size_t at = findFrom(text, pattern, from);
  return at == std::string_view::npos ? kNotFound : static_cast<int64_t>(at) + 1;
}

int64_t countText(std::string_view text, std::string_view pattern) {
  if (text.empty() || pattern.empty()) return 0;
  int64_t count = 0;
  // 0-based throughout: the scan starts at the first byte and resumes behind
  // each occurrence, so occurrences never overlap.
  for (std::size_t at = findFrom(text, pattern, 0); at != std::string_view::npos;
       at = findFrom(text, pattern, at + pattern.size())) {
    ++count;
  }
  return count;
}

std::string_view midView(std::string_view text, int64_t start, int64_t length) {
  // 1-based start -> 0-based offset. A start below 1 counts as 1 (offset 0);
  // a start beyond the last byte and a length of 0 or below give the empty
  // text; a length reaching past the end stops at the end.
  if (length <= 0 || start > sizeOf(text)) return {};
  const int64_t offset = start < 1 ? 0 : start - 1;
  const int64_t available = sizeOf(text) - offset;
  const int64_t count = length < available ? length : available;
  return text.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(count));
}

std::string_view midViewToEnd(std::string_view text, int64_t start) {
  // The same as midView with length textLength - start + 1, written out so
  // that a very negative start cannot overflow that sum: a start of 1 or
  // below gives the whole text, a start beyond the last byte the empty text.
  if (start > sizeOf(text)) return {};
  const int64_t offset = start < 1 ? 0 : start - 1;
  return text.substr(static_cast<std::size_t>(offset));
}

std::string midText(std::string_view text, int64_t start, int64_t length) {
  return std::string(midView(text, start, length));
}

std::string midTextToEnd(std::string_view text, int64_t start) {
  return std::string(midViewToEnd(text, start));
}

std::string leftText(std::string_view text, int64_t n) {
  // The first n bytes are the bytes from position 1 on: midView clamps a
  // count of 0 or below to the empty text and a count past the end to all.
  return std::string(midView(text, 1, n));
}

std::string rightText(std::string_view text, int64_t n) {
  // Count -> 0-based offset of the first byte kept: n of 0 or below keeps
  // nothing, n of at least the length keeps everything.
  if (n <= 0) return {};
  if (n >= sizeOf(text)) return std::string(text);
  return std::string(text.substr(text.size() - static_cast<std::size_t>(n)));
}

std::string replaceText(std::string_view text, std::string_view find, std::string_view replacement) {
  if (find.empty()) return std::string(text);
  std::string result;
  result.reserve(text.size());
  // 0-based: one pass from the first byte; the replacement is appended and
  // never looked at again, and the scan resumes behind each occurrence.
  std::size_t done = 0;
  for (std::size_t at = findFrom(text, find, 0); at != std::string_view::npos;
       at = findFrom(text, find, done)) {
    result.append(text.substr(done, at - done));
    result.append(replacement);
    done = at + find.size();
  }
  result.append(text.substr(done));
  return result;
}

namespace {

// parseInteger's reading; `digits` tells how many digits it took.
int64_t readInteger(std::string_view text, std::size_t& digits) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;

  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }

  unsigned base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i < text.size() && text[i] == '%') {
    base = 2;
    ++i;
  }

  // Unsigned arithmetic wraps modulo 2^64, which is exactly the two's
  // complement wrap-around the numbers are read with; no overflow is UB.
  uint64_t value = 0;
  digits = 0;
  for (; i < text.size(); ++i, ++digits) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      break;
    }
    if (digit >= base) break;
    value = value * base + digit;
  }
  if (negative) value = 0 - value;
  return static_cast<int64_t>(value);  // modular since C++20
}

}  // namespace

int64_t parseInteger(std::string_view text) {
  std::size_t digits = 0;
  return readInteger(text, digits);
}

bool holdsInteger(std::string_view text) {
  std::size_t digits = 0;
  readInteger(text, digits);
  return digits > 0;
}

std::string formatInteger(int64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  return std::string(digits, end);
}
