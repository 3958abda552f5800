#include "text/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

constexpr int64_t kMin64 = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax64 = std::numeric_limits<int64_t>::max();

// "SZCZĘŚCIE: " as the page has it (UTF-8), 13 bytes; and in lower case.
const std::string kLuckUpper =
    "SZCZ\xC4\x98\xC5\x9A"
    "CIE: ";
const std::string kLuckLower =
    "szcz\xC4\x99\xC5\x9B"
    "cie: ";

struct FindCase {
  std::string text, pattern;
  int64_t start, expected;
};

TEST(FindText, PositionsAndClamping) {
  const FindCase cases[] = {
      {"abcabc", "bc", 1, 2},
      {"abcabc", "bc", 2, 2},  // an occurrence starting exactly at start counts
      {"abcabc", "bc", 3, 5},
      {"abcabc", "bc", 0, 2},  // below 1 counts as 1
      {"abcabc", "bc", -4, 2},
      {"abcabc", "bc", kMin64, 2},
      {"abcabc", "bc", 6, 0},  // would run past the end
      {"abcabc", "bc", 7, 0},  // beyond the last byte
      {"abcabc", "bc", kMax64, 0},
      {"abcabc", "c", 6, 6},  // last byte
      {"abcabc", "abcabc", 1, 1},
      {"abcabc", "abcabcd", 1, 0},  // longer than the text
      {"abcab", "abc", 2, 0},       // only a cut-off occurrence is left
      {"aaab", "aab", 1, 2},        // first byte matches early, rest only later
      {"", "a", 1, 0},
      {"", "", 1, 0},
      {"abc", "", 1, 0},
      {"abc", "", 0, 0},
      {"abc", "", -1, 0},
      {"abc", "", 9, 0},
      {"aAa", "A", 1, 2},
      {"x" + kLuckUpper + "7", kLuckUpper, 1, 2},
      {"x" + kLuckLower + "7", kLuckUpper, 1, 0},  // case-sensitive, also beyond ASCII
      {"x" + kLuckUpper + "7", "7", 1, 15},        // UTF-8 letters take two positions each
  };
  for (const auto& c : cases) {
    EXPECT_EQ(findText(c.text, c.pattern, c.start), c.expected)
        << "text '" << c.text << "' pattern '" << c.pattern << "' start " << c.start;
  }
}

// The search steps exactly as written down: every position from start on,
// in order, compared byte by byte.
int64_t findByDefinition(const std::string& text, const std::string& pattern, int64_t start) {
  if (text.empty() || pattern.empty()) return 0;
  if (start < 1) start = 1;
  for (int64_t p = start; p <= textLength(text); ++p) {
    if (text.compare(static_cast<size_t>(p - 1), pattern.size(), pattern) == 0) return p;
  }
  return 0;
}

TEST(FindText, AgreesWithTheStepByStepSearch) {
  // Texts over a two-letter alphabet give many near misses; lengths up to 40
  // cross the word boundaries of the eight-at-a-time scan at every offset.
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
  for (int round = 0; round < 3000; ++round) {
    std::string text(next() % 41, 'a');
    for (char& c : text) c = next() % 3 == 0 ? 'b' : 'a';
    std::string pattern(1 + next() % 6, 'a');
    for (char& c : pattern) c = next() % 3 == 0 ? 'b' : 'a';
    for (int64_t start = -1; start <= textLength(text) + 1; ++start) {
      ASSERT_EQ(findText(text, pattern, start), findByDefinition(text, pattern, start))
          << "text '" << text << "' pattern '" << pattern << "' start " << start;
    }
    int64_t count = 0;
    std::string replaced;
    for (int64_t p = 1; p <= textLength(text);) {
      if (findByDefinition(text, pattern, p) == p) {
        ++count;
        replaced += "<>";
        p += textLength(pattern);
      } else {
        replaced += text[static_cast<size_t>(p - 1)];
        ++p;
      }
    }
    ASSERT_EQ(countText(text, pattern), count) << "text '" << text << "' pattern '" << pattern << "'";
    ASSERT_EQ(replaceText(text, pattern, "<>"), replaced)
        << "text '" << text << "' pattern '" << pattern << "'";
  }
}

TEST(FindText, FindsAcrossALongLine) {
  // A page line of several megabytes, the marker near its end and a near miss
  // (same first byte, different rest) everywhere before it.
  std::string line;
  for (int i = 0; i < 400000; ++i) line += "<b>SZCZ</b>";
  const int64_t markerAt = textLength(line) + 1;
  line += kLuckUpper + "5";
  EXPECT_EQ(findText(line, kLuckUpper, 1), markerAt);
  EXPECT_EQ(findText(line, kLuckUpper, markerAt), markerAt);
  EXPECT_EQ(findText(line, kLuckUpper, markerAt + 1), 0);
  EXPECT_EQ(countText(line, "<b>"), 400000);
}

TEST(TextLength, CountsBytes) {
  EXPECT_EQ(textLength(""), 0);
  EXPECT_EQ(textLength("abc"), 3);
  EXPECT_EQ(textLength(kLuckUpper), 13);
}

struct CountCase {
  std::string text, pattern;
  int64_t expected;
};

TEST(CountText, CountsWithoutOverlap) {
  const CountCase cases[] = {
      {"aaaa", "aa", 2}, {"aaa", "aa", 1}, {"aaaaa", "aa", 2}, {"abab", "ab", 2},
      {"aXa", "a", 2},   {"abc", "x", 0},  {"ab", "abc", 0},   {"abc", "", 0},
      {"", "a", 0},      {"", "", 0},      {"aAa", "A", 1},    {"abc", "abc", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(countText(c.text, c.pattern), c.expected)
        << "text '" << c.text << "' pattern '" << c.pattern << "'";
  }
}

struct MidCase {
  int64_t start, length;
  std::string expected;
};

TEST(MidText, ClampsStartAndLength) {
  const std::string text = "abcdef";
  const MidCase cases[] = {
      {2, 3, "bcd"}, {0, 3, "abc"},    {-5, 2, "ab"},         {kMin64, 2, "ab"},   {5, 10, "ef"},
      {6, 1, "f"},   {7, 1, ""},       {kMax64, 1, ""},       {2, -1, ""},         {2, kMin64, ""},
      {1, 0, ""},    {1, 6, "abcdef"}, {1, kMax64, "abcdef"}, {3, kMax64, "cdef"}, {kMin64, kMax64, "abcdef"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(midText(text, c.start, c.length), c.expected) << "start " << c.start << " length " << c.length;
    EXPECT_EQ(midView(text, c.start, c.length), c.expected) << "start " << c.start << " length " << c.length;
  }
  EXPECT_EQ(midText("", 1, 1), "");
  EXPECT_EQ(midText("", 0, 0), "");
}

TEST(MidText, ViewPointsIntoTheText) {
  const std::string text = "abcdef";
  EXPECT_EQ(midView(text, 3, 2).data(), text.data() + 2);
  EXPECT_EQ(midViewToEnd(text, 4).data(), text.data() + 3);
}

TEST(MidTextToEnd, IsMidTextWithTheRestAsLength) {
  const std::string text = "abcdef";
  const MidCase cases[] = {
      {4, 0, "def"},         {1, 0, "abcdef"}, {0, 0, "abcdef"}, {-3, 0, "abcdef"},
      {kMin64, 0, "abcdef"}, {6, 0, "f"},      {7, 0, ""},       {kMax64, 0, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(midTextToEnd(text, c.start), c.expected) << "start " << c.start;
    EXPECT_EQ(midViewToEnd(text, c.start), c.expected) << "start " << c.start;
  }
  // The definition, checked where the sum cannot overflow.
  for (int64_t start = -8; start <= 9; ++start) {
    EXPECT_EQ(midTextToEnd(text, start), midText(text, start, textLength(text) - start + 1)) << start;
  }
  EXPECT_EQ(midTextToEnd("", 1), "");
}

struct SideCase {
  int64_t n;
  std::string left, right;
};

TEST(LeftRightText, TakeBytesFromEachEnd) {
  const SideCase cases[] = {
      {0, "", ""},     {-1, "", ""},      {-2, "", ""},      {kMin64, "", ""},  {1, "a", "c"},
      {2, "ab", "bc"}, {3, "abc", "abc"}, {5, "abc", "abc"}, {9, "abc", "abc"}, {kMax64, "abc", "abc"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(leftText("abc", c.n), c.left) << "n " << c.n;
    EXPECT_EQ(rightText("abc", c.n), c.right) << "n " << c.n;
  }
  EXPECT_EQ(leftText("", 3), "");
  EXPECT_EQ(rightText("", 3), "");
}

struct ReplaceCase {
  std::string text, find, replacement, expected;
};

TEST(ReplaceText, OnePassWithoutOverlap) {
  const ReplaceCase cases[] = {
      {"a    b", "  ", " ", "a  b"},  // four blanks -> two
      {"a   b", "  ", " ", "a  b"},   // three blanks -> two as well
      {"abc", "", "x", "abc"},        // empty find: unchanged
      {"", "a", "x", ""},
      {"aa", "a", "aa", "aaaa"},   // the replacement is not scanned again
      {"aaa", "aa", "b", "ba"},    // no overlap
      {"a,b,,c", ",", "", "abc"},  // replace by nothing
      {"Aa", "a", "x", "Ax"},      // case-sensitive
      {"abc", "abc", "", ""},
      {"xabcx", "abc", "<>", "x<>x"},
      {"abab", "abc", "!", "abab"},  // no occurrence
      {"\xC4\x98\xC4\x98", "\xC4\x98", "E", "EE"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(replaceText(c.text, c.find, c.replacement), c.expected)
        << "text '" << c.text << "' find '" << c.find << "'";
  }
}

TEST(TextEquals, ExactBytes) {
  EXPECT_TRUE(textEquals("", ""));
  EXPECT_TRUE(textEquals("abc", "abc"));
  EXPECT_FALSE(textEquals("a", "A"));
  EXPECT_FALSE(textEquals("ab", "abc"));
  EXPECT_FALSE(textEquals("abc", "ab"));
  EXPECT_FALSE(textEquals("", "a"));
  EXPECT_FALSE(textEquals("a ", "a"));  // nothing is trimmed
  EXPECT_TRUE(textEquals(kLuckUpper, kLuckUpper));
  EXPECT_FALSE(textEquals(kLuckUpper, kLuckLower));
}

struct ParseCase {
  std::string text;
  int64_t expected;
};

TEST(ParseInteger, LenientReading) {
  const ParseCase cases[] = {
      {" 42abc", 42},
      {"\t-7", -7},
      {"+12", 12},
      {"$ff", 255},
      {"$FF", 255},
      {"$fF", 255},
      {"%101", 5},
      {"-$10", -16},
      {"+%11", 3},
      {"75%", 75},
      {"12.5", 12},
      {"- 5", 0},  // no blank is skipped after the sign
      {"+ 5", 0},
      {"$", 0},
      {"%", 0},
      {"-", 0},
      {"abc", 0},
      {"", 0},
      {"\n5", 0},  // only blanks and tabs are skipped
      {"\r5", 0},
      {"\xA0"
       "5",
       0},
      {"5\n", 5},
      {" \t \t9", 9},
      {"--5", 0},  // one sign at most
      {"+-5", 0},
      {"-+5", 0},
      {"$-1", 0},
      {"$fg", 15},
      {"$10z", 16},
      {"%102", 2},  // 2 is not a binary digit
      {"%2", 0},
      {"0x10", 0},
      {"007", 7},
      {"-0", 0},
      {"12 34", 12},
      {"255", 255},
      {"300", 300},  // narrowing is the caller's business
      {"9223372036854775807", kMax64},
      {"9223372036854775808", kMin64},  // wraps
      {"-9223372036854775808", kMin64},
      {"99999999999999999999", 7766279631452241919},  // 20 digits: the low 64 bits
      {"18446744073709551615", -1},
      {"18446744073709551616", 0},
      {"$FFFFFFFFFFFFFFFF", -1},
      {"$10000000000000000", 0},
      {"$8000000000000000", kMin64},
      {"-$8000000000000000", kMin64},
      {"%1111111111111111111111111111111111111111111111111111111111111111", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parseInteger(c.text), c.expected) << "text '" << c.text << "'";
  }
}

TEST(FormatInteger, PlainDecimal) {
  const ParseCase cases[] = {
      {"0", 0},
      {"255", 255},
      {"-1", -1},
      {"10", 10},
      {"-2147483648", std::numeric_limits<int32_t>::min()},
      {"2147483647", std::numeric_limits<int32_t>::max()},
      {"-9223372036854775808", kMin64},
      {"9223372036854775807", kMax64},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(formatInteger(c.expected), c.text);
    EXPECT_EQ(parseInteger(formatInteger(c.expected)), c.expected);
  }
}

}  // namespace
