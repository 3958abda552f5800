#include "encoding/cp1250.h"

#include <gtest/gtest.h>

#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::string allBytes() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  return bytes;
}

TEST(Cp1250, EveryByteSurvivesBothRoundTrips) {
  const std::string bytes = allBytes();
  const std::string utf8 = cp1250ToUtf8(bytes);
  EXPECT_EQ(utf8ToCp1250(utf8), bytes);
  EXPECT_TRUE(utf8FitsCp1250(utf8));
  const std::u16string utf16 = cp1250ToUtf16(bytes);
  ASSERT_EQ(utf16.size(), 256u);
  EXPECT_EQ(utf16ToCp1250(utf16), bytes);
  for (int b = 0; b < 0x80; ++b) EXPECT_EQ(utf16[b], b) << "ASCII byte " << b;
  // No two bytes share a character.
  for (int a = 0x80; a < 256; ++a) {
    for (int b = a + 1; b < 256; ++b) EXPECT_NE(utf16[a], utf16[b]) << a << " " << b;
  }
}

struct LetterCase {
  std::string utf8;
  std::string cp1250;
  std::u16string utf16;
};

TEST(Cp1250, PolishLettersAndTheOddBytes) {
  const LetterCase cases[] = {
      {"ąćęłńóśźż", "\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF", u"ąćęłńóśźż"},
      {"ĄĆĘŁŃÓŚŹŻ", "\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF", u"ĄĆĘŁŃÓŚŹŻ"},
      {"Paweł.txt", "Pawe\xB3.txt", u"Paweł.txt"},
      {"€‚„…†‡‰Š‹", "\x80\x82\x84\x85\x86\x87\x89\x8A\x8B", u"€‚„…†‡‰Š‹"},
      {"ˇ˘˙˝˛ \xC2\xA0", "\xA1\xA2\xFF\xBD\xB2 \xA0", u"ˇ˘˙˝˛ \u00A0"},
      {"–—™", "\x96\x97\x99", u"–—™"},
      // The five bytes without a letter: the C1 controls of the same number.
      {"\xC2\x81\xC2\x83\xC2\x88\xC2\x90\xC2\x98", "\x81\x83\x88\x90\x98", u"\u0081\u0083\u0088\u0090\u0098"},
      {std::string("a\0b", 3), std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf8ToCp1250(c.utf8), c.cp1250) << c.utf8;
    EXPECT_EQ(cp1250ToUtf8(c.cp1250), c.utf8) << c.utf8;
    EXPECT_EQ(cp1250ToUtf16(c.cp1250), c.utf16) << c.utf8;
    EXPECT_EQ(utf16ToCp1250(c.utf16), c.cp1250) << c.utf8;
    EXPECT_TRUE(utf8FitsCp1250(c.utf8)) << c.utf8;
  }
}

struct LossyCase {
  std::string utf8;
  std::string cp1250;
};

TEST(Cp1250, WhatTheCodePageCannotHoldBecomesAQuestionMark) {
  const LossyCase cases[] = {
      {"ñ", "?"},  // Latin-1, but not in Windows-1250
      {"å", "?"},
      {"日本", "??"},
      {"a😀b", "a?b"},                // four bytes, one character, one '?'
      {"\xC2\x80", "?"},             // U+0080 has no byte: 0x80 is the euro sign
      {"\xFF", "?"},                 // never a UTF-8 byte
      {"a\xC3", "a?"},               // cut short at the end
      {"\xC3(", "?("},               // lead byte without its continuation
      {"\xE2\x82x", "?x"},           // a cut-off three-byte sequence is one '?'
      {"\x80", "?"},                 // lone continuation byte
      {"\xC0\xAF", "??"},            // overlong '/'
      {"\xE0\x80\xAF", "???"},       // overlong, three bytes
      {"\xED\xA0\x80", "???"},       // encoded surrogate
      {"\xF4\x90\x80\x80", "????"},  // above U+10FFFF
      {"\xF0\x9F\x98", "?"},         // cut-off four-byte sequence
      {"ł\xFFł", "\xB3?\xB3"},       // the bytes around a bad one are kept
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf8ToCp1250(c.utf8), c.cp1250) << c.utf8;
    EXPECT_FALSE(utf8FitsCp1250(c.utf8)) << c.utf8;
  }
  EXPECT_TRUE(utf8FitsCp1250(""));
  EXPECT_TRUE(utf8FitsCp1250("/home/user/wyprawy"));
  EXPECT_TRUE(utf8FitsCp1250("/home/paweł/wyprawy"));
  EXPECT_EQ(utf8ToCp1250(""), "");
}

TEST(Cp1250, Utf16BeyondTheCodePage) {
  EXPECT_EQ(utf16ToCp1250(u"ñ日"), "??");
  EXPECT_EQ(utf16ToCp1250(u"a😀b"), "a?b");  // a surrogate pair is one character
  EXPECT_EQ(utf16ToCp1250(std::u16string{u'a', 0xD800, u'b'}), "a?b");
  EXPECT_EQ(utf16ToCp1250(std::u16string{0xDC00}), "?");
  EXPECT_EQ(utf16ToCp1250(std::u16string{0xD800}), "?");
}

#ifdef _WIN32
// The table against the system's own conversion for code page 1250.
TEST(Cp1250, MatchesWindows) {
  const std::string bytes = allBytes();
  wchar_t wide[256];
  ASSERT_EQ(MultiByteToWideChar(1250, 0, bytes.data(), 256, wide, 256), 256);
  const std::u16string ours = cp1250ToUtf16(bytes);
  for (int b = 0; b < 256; ++b) EXPECT_EQ(static_cast<char16_t>(wide[b]), ours[b]) << "byte " << b;

  const std::u16string polish = u"Zażółć gęślą jaźń ñ";
  char narrow[64];
  const int n =
      WideCharToMultiByte(1250, WC_NO_BEST_FIT_CHARS, reinterpret_cast<const wchar_t*>(polish.c_str()),
                          static_cast<int>(polish.size()), narrow, sizeof narrow, nullptr, nullptr);
  EXPECT_EQ(utf16ToCp1250(polish), std::string(narrow, static_cast<size_t>(n)));
}
#endif

}  // namespace
