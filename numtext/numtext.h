// Fixed-point number text for the document's real numbers.
//
// FormatFixed writes `value` with exactly `decimals` fraction digits into
// `out` and returns the number of bytes written (no NUL is added). It cannot
// fail. The text is: an optional "-", the integer part without leading zeros
// ("0" when it is zero), ".", then the fraction digits. Rounding follows the
// document format, not printf: the value is first rounded half up to 17
// significant digits, then half up (away from zero) at the cut. Zero never
// carries a sign; a negative value that rounds to zero keeps its "-".
// Infinities and NaNs become the markers 1#INF, 1#IND, 1#QNAN and 1#SNAN,
// laid out like digits ("1.#INF", padded with "0" to `decimals`).
// `decimals` below 1 are treated as 1.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// Bytes `out` must hold for any double at the given count of decimals.
constexpr std::size_t FormatFixedBufferSize(int decimals) {
  return 320u + static_cast<std::size_t>(decimals < 1 ? 1 : decimals);
}

// Bytes `out` must hold for any widened float: at most 39 integer digits.
constexpr std::size_t FormatFixedFloatBufferSize(int decimals) {
  return 48u + static_cast<std::size_t>(decimals < 1 ? 1 : decimals);
}

std::size_t FormatFixed(double value, int decimals, char* out);

// The same text for the double that the float with these bits widens to.
// The converter passes floats this way so that no value ever passes through
// a floating-point register (x87 quietens signalling NaNs on load). `out`
// needs FormatFixedFloatBufferSize(decimals) bytes.
std::size_t FormatFixedFloatBits(std::uint32_t bits, int decimals, char* out);

// The common case of FormatFixedFloatBits at 4 or 5 decimals, inline for
// the document writer: a finite float from 2^-25 up to below 10000 (at 4
// decimals) or 1000 (at 5), whose text is at most 10 bytes. The text comes
// back in two words, to be stored as they are (first at the lower address;
// the bytes past `length` are scratch); `length` is 0 for any other value.
// The whole part's digits and the fraction's are made four at a time, side
// by side, with no branch on their count, and the words stay in registers,
// so a caller that stores them twice (the writer keeps recent numbers) reads
// nothing back.
struct FixedShortText {
  std::uint64_t first, second;
  std::uint32_t length;
};
template <int Decimals>
[[gnu::always_inline]] inline FixedShortText FixedFloatShortText(std::uint32_t bits);

// The decimal digits of `value` without leading zeros ("0" for 0), for the
// document's whole numbers; returns their count (at most 10). `out` holds 10
// bytes, any of which may be written (8 at once for fewer digits). Only
// 32-bit divisions by constants, which a 32-bit build does without a helper
// call. Inline, as writers put several a line; values of 10^8 and more take
// FormatWideUnsigned, out of line.
[[gnu::always_inline]] inline std::size_t FormatUnsigned(std::uint32_t value, char* out);
std::size_t FormatWideUnsigned(std::uint32_t value, char* out);

// FormatUnsigned's text of a value below 10^4, for callers that know their
// numbers are that small; `out` holds 4 bytes, all of which are written.
[[gnu::always_inline]] inline std::size_t FormatSmallUnsigned(std::uint32_t value, char* out);

// The shortest text that reads back as the same float, exactly as
// std::to_chars writes it without a format, except that zero never carries a
// sign; the mesh formats' numbers. At most kShortestFloatMax bytes. Values
// that are exact with few fraction digits, as maps drawn on a grid have, are
// written here, at several times the library's speed; the rest go to it.
constexpr std::size_t kShortestFloatMax = 32;
std::size_t FormatShortestFloat(std::uint32_t bits, char* out);

// FormatShortestFloat's text, inline for the mesh writers, of the values
// maps drawn on a grid have: exact with at most four fraction digits (so a
// multiple of 1/16) and below 10000, not zero. Their exact text is the
// shortest, so it is the fixed text at 4 decimals without its trailing
// zeros, or without its point when it has no fraction. Two words, as
// FixedFloatShortText gives them; `length` is 0 for any other value.
[[gnu::always_inline]] inline FixedShortText ShortestFloatShortText(std::uint32_t bits);

// The slow, obviously correct path: exact big-integer arithmetic on the
// value's bits, following the rounding steps literally. The fast paths above
// are checked against it.
std::size_t FormatFixedExact(std::uint64_t bits, int decimals, char* out);

// ---- Inline definitions.

// The digits of 0 to 99 as byte pairs (0 to 9, not yet text), tens first.
inline constexpr struct DigitPairBytes {
  std::uint16_t pair[100];
  constexpr DigitPairBytes() : pair{} {
    for (int i = 0; i < 100; ++i) pair[i] = static_cast<std::uint16_t>(i / 10 | i % 10 << 8);
  }
} kDigitPairBytes{};

// v < 10^4 as four decimal digits, one a byte (0 to 9, not yet text), the
// first in the lowest byte: by 100 with a multiply and a shift (exact in this
// range), then a pair from the table for each half.
[[gnu::always_inline]] inline std::uint32_t FourDigitBytes(std::uint32_t v) {
  const std::uint32_t hundreds = v * 5243 >> 19;
  return kDigitPairBytes.pair[hundreds] | std::uint32_t{kDigitPairBytes.pair[v - hundreds * 100]} << 16;
}

// v < 10^4 as text without the zeros in front ("0" for 0), the first byte
// lowest, and its length.
struct FourDigitText {
  std::uint32_t text, length;
};
[[gnu::always_inline]] inline FourDigitText FourDigitTextOf(std::uint32_t v) {
  const std::uint32_t digits = FourDigitBytes(v);
  const auto zeros = static_cast<std::uint32_t>(std::countr_zero(digits | 1u << 24)) >> 3;
  return {(digits | 0x30303030u) >> (8 * zeros), 4 - zeros};
}

// A signed short text: "-" where negative, the whole part's text, then the
// fraction's bytes ("." and digits, `fractionLength` of them), in two words
// as FixedShortText holds them.
[[gnu::always_inline]] inline FixedShortText JoinShortText(std::uint32_t negative, FourDigitText whole,
                                                         std::uint64_t fraction, std::uint32_t fractionLength) {
  const std::uint32_t head = whole.length + negative;
  const std::uint64_t lead = std::uint64_t{whole.text} << (8 * negative) | (negative ? 0x2Du : 0u);
  return {lead | fraction << (8 * head), fraction >> (64 - 8 * head), head + fractionLength};
}

// v < 10^8 as eight such digits.
[[gnu::always_inline]] inline std::uint64_t EightDigitBytes(std::uint32_t v) {
  const std::uint32_t high = v / 10000;
  return FourDigitBytes(high) | std::uint64_t{FourDigitBytes(v - high * 10000)} << 32;
}

template <int Decimals>
[[gnu::always_inline]] inline FixedShortText FixedFloatShortText(std::uint32_t bits) {
  static_assert(Decimals == 4 || Decimals == 5);
  // Exponents 102 to 149: the value is m * 2^-s with s from 1 to 48, so the
  // scaled value below is exact in 64 bits, as on the general fast path.
  const std::uint32_t biased = (bits >> 23) & 0xff;
  if (biased - 102u >= 48u) return {0, 0, 0};
  const std::uint32_t m = (bits & 0x7fffff) | 0x800000;
  const std::uint32_t s = 150 - biased;
  constexpr std::uint32_t kUnit = Decimals == 4 ? 10000u : 100000u;
  const std::uint64_t t = std::uint64_t{m} * kUnit;
  const std::uint64_t scaled = ((t >> (s - 1)) + 1) >> 1;  // half a unit or more rounds up
  if (scaled >= 100000000u) return {0, 0, 0};
  // The whole part (below 10^4 at 4 decimals, 10^3 at 5) as text without
  // the zeros in front, after the sign's byte where it is negative; then
  // "." and the fraction's digits, made beside it rather than moved around
  // the point after.
  const auto whole = static_cast<std::uint32_t>(scaled) / kUnit;
  const std::uint32_t part = static_cast<std::uint32_t>(scaled) - whole * kUnit;
  std::uint64_t fraction;
  if constexpr (Decimals == 4) {
    fraction = std::uint64_t{FourDigitBytes(part) | 0x30303030u} << 8;
  } else {
    const std::uint32_t first = part / 10000;
    fraction = (std::uint64_t{FourDigitBytes(part - first * 10000) | 0x30303030u} << 8 | (first | 0x30u)) << 8;
  }
  return JoinShortText(bits >> 31, FourDigitTextOf(whole), fraction | 0x2Eu, 1 + Decimals);
}

// A sixteenth's fraction as text, "." and its digits without trailing
// zeros ("" for none), one a byte, the first in the lowest; and its length.
inline constexpr struct SixteenthsText {
  std::uint64_t text[16];
  std::uint32_t length[16];
  constexpr SixteenthsText() : text{}, length{} {
    for (int i = 1; i < 16; ++i) {
      int digits = i * 625, n = 4;  // i/16 = 0.0625 i
      for (; digits % 10 == 0; digits /= 10) --n;
      text[i] = '.';
      for (int k = n; k > 0; --k, digits /= 10) text[i] |= std::uint64_t('0' + digits % 10) << (8 * k);
      length[i] = static_cast<std::uint32_t>(n + 1);
    }
  }
} kSixteenthsText{};

[[gnu::always_inline]] inline FixedShortText ShortestFloatShortText(std::uint32_t bits) {
  // Sixteen times the value, m * 2^-s, is a whole number from 1 to 159999
  // only with s from 6 to 23 and the bits shifted out all zero. Zero,
  // subnormals, Inf and NaN come out far outside.
  const std::uint32_t m = (bits & 0x7fffff) | 0x800000;
  const std::uint32_t s = 146 - ((bits >> 23) & 0xff);
  if (s - 6 >= 18 || (m & ((1u << s) - 1)) != 0) return {0, 0, 0};
  const std::uint32_t n = m >> s;
  if (n >= 160000) return {0, 0, 0};
  // The whole part's digits without the zeros in front but the last, after
  // the sign's byte where it is negative; then the fraction, from the table.
  return JoinShortText(bits >> 31, FourDigitTextOf(n >> 4), kSixteenthsText.text[n & 15], kSixteenthsText.length[n & 15]);
}

// Below 10^8, as every vertex and face number is, the digits are made in one
// word and the zeros in front shifted out: no loop and no branch on the
// count. The word is stored whole, within the caller's 10 bytes.
[[gnu::always_inline]] inline std::size_t FormatUnsigned(std::uint32_t value, char* out) {
  if (value >= 100000000u) return FormatWideUnsigned(value, out);
  const std::uint64_t digits = EightDigitBytes(value);
  const auto zeros = static_cast<unsigned>(std::countr_zero(digits | std::uint64_t{1} << 56)) / 8;
  const std::uint64_t text = (digits | 0x3030303030303030ull) >> (8 * zeros);
  std::memcpy(out, &text, 8);
  return 8 - zeros;
}

[[gnu::always_inline]] inline std::size_t FormatSmallUnsigned(std::uint32_t value, char* out) {
  const FourDigitText digits = FourDigitTextOf(value);
  std::memcpy(out, &digits.text, 4);
  return digits.length;
}
