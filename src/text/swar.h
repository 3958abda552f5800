#pragma once
// Eight bytes at a time in plain C++ ("SIMD within a register"): the scans of
// long page lines in text.cpp and line_file.cpp test a whole 64-bit word for
// the bytes they look for instead of one byte per step. No intrinsics, so it
// builds the same with every compiler and on every platform.
#include <bit>
#include <cstdint>
#include <cstring>

namespace swar {

constexpr uint64_t kEveryByte = 0x0101010101010101ULL;
constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;

// The byte b in all eight places of a word.
constexpr uint64_t broadcast(unsigned char b) { return kEveryByte * b; }

// Eight bytes from any address (memcpy: no alignment or aliasing trouble).
inline uint64_t load(const char* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// 0x80 in exactly those bytes of v that are zero (exact: no false positives
// from borrows, unlike the shorter (v - 0x01..) & ~v form).
constexpr uint64_t zeroBytes(uint64_t v) { return ~(((v & kLow7) + kLow7) | v | kLow7); }

// Index, in memory order, of the first byte flagged in a non-zero mask.
constexpr unsigned firstFlagged(uint64_t mask) {
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<unsigned>(std::countr_zero(mask)) / 8;
  } else {
    return static_cast<unsigned>(std::countl_zero(mask)) / 8;
  }
}

// The mask without its first flagged byte (in memory order).
constexpr uint64_t withoutFirstFlagged(uint64_t mask) {
  if constexpr (std::endian::native == std::endian::little) {
    return mask & (mask - 1);
  } else {
    return mask & ~(uint64_t{0x80} << (56 - 8 * firstFlagged(mask)));
  }
}

}  // namespace swar
