// Pieces shared by the fast and the exact paths, and by the shortest float
// text (shortest.cpp, its own object, so that a program that writes no mesh
// links none of the library's float text).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

inline constexpr std::uint32_t kPow10Digits[10] = {1,      10,      100,      1000,      10000,
                                                   100000, 1000000, 10000000, 100000000, 1000000000};

inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline int DigitCount32(std::uint32_t v) {
  int n = 1;
  while (n < 10 && v >= kPow10Digits[n]) ++n;
  return n;
}

// v < 100: its two digits as bytes, first digit first.
inline std::uint32_t Pair(std::uint32_t v) {
  std::uint16_t pair;
  std::memcpy(&pair, kDigitPairs + 2 * v, 2);
  return pair;
}

// v < 10000 as four digits, zeros in front, first digit in the lowest byte.
inline std::uint32_t FourDigits(std::uint32_t v) {
  const std::uint32_t hi = v / 100;
  return Pair(hi) | Pair(v - 100 * hi) << 16;
}

// Writes v's digits ending just before `end`; returns where they start.
char* DigitsBackward(std::uint64_t v, char* end);

// The text of an infinity or NaN (biased exponent all ones) from its double
// bits: the marker laid out like digits, "0"-padded to `decimals`.
std::size_t FormatMarker(std::uint64_t bits, int decimals, char* out);

// The double bits a float widens to, computed on the bits alone.
std::uint64_t WidenFloatBits(std::uint32_t bits);
