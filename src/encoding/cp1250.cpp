#include "encoding/cp1250.h"

#include <array>
#include <cstdint>

// Everything here is constexpr data and plain functions: the program's texts
// are converted while static objects are being built (model/texts.cpp), so the
// conversion must not depend on any other static object being ready.

namespace {

// Windows-1250, bytes 0x80..0xFF. The five bytes the code page leaves
// undefined (0x81, 0x83, 0x88, 0x90, 0x98) map to the C1 control with the same
// number, as Windows' MultiByteToWideChar maps them, so every byte survives a
// round trip. Bytes below 0x80 are ASCII.
constexpr std::array<char16_t, 128> kHighHalf = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,  // 0x98
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,  // 0xA0
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,  // 0xA8
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // 0xB0
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,  // 0xB8
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,  // 0xC0
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,  // 0xC8
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,  // 0xD0
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,  // 0xD8
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,  // 0xE0
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,  // 0xE8
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,  // 0xF0
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,  // 0xF8
};

constexpr char kUnknown = '?';
constexpr char32_t kInvalid = 0xFFFFFFFF;

constexpr char32_t toCodePoint(unsigned char byte) { return byte < 0x80 ? byte : kHighHalf[byte - 0x80]; }

// The Windows-1250 byte of a code point; false when the code page has none.
// 128 entries: a linear search costs less than building anything at start-up.
constexpr bool toByte(char32_t cp, char& byte) {
  if (cp < 0x80) {
    byte = static_cast<char>(cp);
    return true;
  }
  for (unsigned i = 0; i < kHighHalf.size(); ++i) {
    if (kHighHalf[i] == cp) {
      byte = static_cast<char>(0x80 + i);
      return true;
    }
  }
  return false;
}

static_assert(
    [] {
      for (unsigned b = 0; b < 256; ++b) {
        char back = 0;
        if (!toByte(toCodePoint(static_cast<unsigned char>(b)), back) ||
            static_cast<unsigned char>(back) != b) {
          return false;
        }
      }
      return true;
    }(),
    "every Windows-1250 byte must come back from its code point");

// One UTF-8 character from text[i]: the code point and how many bytes it
// took, or kInvalid for an ill-formed sequence, which then counts as the
// longest prefix that could have begun a valid one (at least one byte), so
// that a broken sequence becomes one '?' and the bytes after it are kept.
// Overlong forms, surrogates and values above U+10FFFF are ill-formed.
struct Decoded {
  char32_t cp;
  std::size_t length;
};

constexpr Decoded decodeUtf8(std::string_view text, std::size_t i) {
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) return {lead, 1};
  std::size_t need;
  char32_t cp;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return {kInvalid, 1};
  }
  std::size_t length = 1;
  for (std::size_t k = 0; k < need; ++k) {
    if (i + length >= text.size()) return {kInvalid, length};
    const unsigned char next = static_cast<unsigned char>(text[i + length]);
    const unsigned char lo = k == 0 ? low : 0x80;
    const unsigned char hi = k == 0 ? high : 0xBF;
    if (next < lo || next > hi) return {kInvalid, length};
    cp = (cp << 6) | (next & 0x3F);
    ++length;
  }
  return {cp, length};
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {  // Windows-1250 holds nothing beyond the first plane
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::string cp1250ToUtf8(std::string_view cp1250) {
  std::string out;
  out.reserve(cp1250.size() + cp1250.size() / 2);
  for (const char c : cp1250) appendUtf8(out, toCodePoint(static_cast<unsigned char>(c)));
  return out;
}

std::string utf8ToCp1250(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const Decoded d = decodeUtf8(utf8, i);
    char byte = kUnknown;
    if (d.cp != kInvalid && !toByte(d.cp, byte)) byte = kUnknown;
    out += byte;
    i += d.length;
  }
  return out;
}

std::u16string cp1250ToUtf16(std::string_view cp1250) {
  std::u16string out;
  out.reserve(cp1250.size());
  for (const char c : cp1250) out += static_cast<char16_t>(toCodePoint(static_cast<unsigned char>(c)));
  return out;
}

std::string utf16ToCp1250(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const char16_t unit = utf16[i];
    // A surrogate pair is one character beyond the code page: one '?'. A lone
    // surrogate is no character at all: '?' as well.
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      ++i;
      out += kUnknown;
      continue;
    }
    char byte = kUnknown;
    if (!toByte(unit, byte)) byte = kUnknown;
    out += byte;
  }
  return out;
}

bool utf8FitsCp1250(std::string_view utf8) {
  for (std::size_t i = 0; i < utf8.size();) {
    const Decoded d = decodeUtf8(utf8, i);
    char byte = 0;
    if (d.cp == kInvalid || !toByte(d.cp, byte)) return false;
    i += d.length;
  }
  return true;
}
