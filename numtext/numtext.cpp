// The fast path: floats at up to 7 decimals, in 64-bit integer arithmetic.
//
// A float is m * 2^q with m < 2^24. It is never within 5e-17 (relative) of a
// halfway point at up to 7 decimals unless it lies exactly on one, so rounding
// to 17 digits first cannot move it across a tie: rounding the exact value to
// N places with ties away from zero gives the same text. The integers of 10^17
// and more, where the 17-digit cut shows, go to the exact path.
#include <bit>
#include <cstring>

#include "numtext/numtext.h"
#include "numtext/numtext_internal.h"

// Digits are stored as little-endian words.
static_assert(std::endian::native == std::endian::little);

namespace {

constexpr int kFastDecimals = 7;
constexpr std::uint32_t kPow10[kFastDecimals + 1] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
// Writes v's digits ending just before `end`; returns where they start.
char* DigitsBackward32(std::uint32_t v, char* end) {
  while (v >= 100) {
    std::uint32_t pair = (v % 100) * 2;
    v /= 100;
    end -= 2;
    std::memcpy(end, kDigitPairs + pair, 2);
  }
  if (v >= 10) {
    end -= 2;
    std::memcpy(end, kDigitPairs + v * 2, 2);
  } else {
    *--end = static_cast<char>('0' + v);
  }
  return end;
}

std::size_t Zeros(char* out, bool negative, int decimals) {
  char* p = out;
  if (negative) *p++ = '-';
  *p++ = '0';
  *p++ = '.';
  std::memset(p, '0', static_cast<std::size_t>(decimals));
  return static_cast<std::size_t>(p + decimals - out);
}

// The text of `scaled` / 10^decimals.
std::size_t Layout(bool negative, std::uint64_t scaled, int decimals, char* out) {
  char digits[24];
  char* end = digits + sizeof digits;
  char* start = DigitsBackward(scaled, end);
  while (end - start <= decimals) *--start = '0';  // at least "0" before the point
  char* p = out;
  if (negative) *p++ = '-';
  auto whole = static_cast<std::size_t>(end - start - decimals);
  std::memcpy(p, start, whole);
  p += whole;
  *p++ = '.';
  std::memcpy(p, start + whole, static_cast<std::size_t>(decimals));
  return static_cast<std::size_t>(p + decimals - out);
}

// Writes the low `width` digits of v, zeros in front, ending just before `end`.
void FixedDigits32(std::uint32_t v, int width, char* end) {
  for (; width >= 2; width -= 2) {
    end -= 2;
    std::memcpy(end, kDigitPairs + (v % 100) * 2, 2);
    v /= 100;
  }
  if (width) *--end = static_cast<char>('0' + v % 10);
}

// The digits of `whole` without leading zeros ("0" for 0); returns the end.
// Below 10000, which is nearly every coordinate, the digit count decides no
// branch: four digits are stored and the pointer moves by the count. Up to
// three bytes beyond the end are scratch that the caller overwrites, so this
// is done only when `scratch` says the caller will.
[[gnu::always_inline]] inline char* PutWhole(char* p, std::uint32_t whole, bool scratch) {
  if (scratch && whole < 10000) {
    const int n = 1 + (whole >= 10) + (whole >= 100) + (whole >= 1000);
    const std::uint32_t digits = FourDigits(whole) >> (8 * (4 - n));
    std::memcpy(p, &digits, 4);
    return p + n;
  }
  char* end = p + DigitCount32(whole);
  FixedDigits32(whole, static_cast<int>(end - p), end);
  return end;
}

// The text of `scaled` / 10^Decimals when it fits 32 bits, as almost every
// coordinate does: the digits go straight to their places, with divisions by
// constants only and no branch on the sign.
template <int Decimals>
[[gnu::always_inline]] inline std::size_t Layout32(bool negative, std::uint32_t scaled, char* out) {
  constexpr std::uint32_t unit = kPow10[Decimals];
  const std::uint32_t whole = scaled / unit, fraction = scaled - whole * unit;
  char* p = out;
  *p = '-';
  p += negative;
  p = PutWhole(p, whole, Decimals >= 2);  // "." and two digits cover the scratch
  *p++ = '.';
  if constexpr (Decimals == 4) {
    const std::uint32_t digits = FourDigits(fraction);
    std::memcpy(p, &digits, 4);
  } else if constexpr (Decimals == 5) {
    const std::uint32_t first = fraction / 10000;
    const std::uint32_t digits = FourDigits(fraction - first * 10000);
    *p = static_cast<char>('0' + first);
    std::memcpy(p + 1, &digits, 4);
  } else {
    FixedDigits32(fraction, Decimals, p + Decimals);
  }
  return static_cast<std::size_t>(p + Decimals - out);
}

// m * 2^q with m < 2^24, not zero; returns 0 when the exact path must answer.
template <int Decimals>
[[gnu::always_inline]] inline std::size_t FormatDyadic(bool negative, std::uint32_t m, int q, char* out) {
  if (q >= 0) {
    if (q > 33) return 0;
    std::uint64_t whole = static_cast<std::uint64_t>(m) << q;
    if (whole >= 100000000000000000ull) return 0;  // 10^17: the 17-digit cut shows
    std::size_t n = Layout(negative, whole, 0, out);  // "whole."
    std::memset(out + n, '0', Decimals);
    return n + Decimals;
  }
  const int s = -q;
  const std::uint64_t t = std::uint64_t{m} * kPow10[Decimals];  // < 2^48
  if (s > 48) return Zeros(out, negative, Decimals);  // below half a unit of the last place
  // Half a unit or more rounds up, so ties go away from zero.
  const std::uint64_t scaled = ((t >> (s - 1)) + 1) >> 1;
  if (scaled <= 0xffffffffu) return Layout32<Decimals>(negative, static_cast<std::uint32_t>(scaled), out);
  return Layout(negative, scaled, Decimals, out);
}

}  // namespace

// 64-bit values are split once by 10^8, so a 32-bit build divides in 32 bits.
char* DigitsBackward(std::uint64_t v, char* end) {
  if (v <= 0xffffffffu) return DigitsBackward32(static_cast<std::uint32_t>(v), end);
  while (v > 0xffffffffu) {
    auto low = static_cast<std::uint32_t>(v % 100000000u);
    v /= 100000000u;
    char* start = DigitsBackward32(low, end);
    while (start > end - 8) *--start = '0';
    end -= 8;
  }
  return DigitsBackward32(static_cast<std::uint32_t>(v), end);
}

std::size_t FormatWideUnsigned(std::uint32_t value, char* out) {
  const int n = DigitCount32(value);
  DigitsBackward32(value, out + n);
  return static_cast<std::size_t>(n);
}

std::size_t FormatMarker(std::uint64_t bits, int decimals, char* out) {
  const std::uint64_t payload = bits & ((std::uint64_t{1} << 52) - 1);
  const char* marker = payload == 0                          ? "1#INF"
                       : bits == 0xFFF8000000000000ull       ? "1#IND"
                       : payload >> 51                       ? "1#QNAN"
                                                             : "1#SNAN";
  char* p = out;
  if (bits >> 63) *p++ = '-';
  *p++ = marker[0];
  *p++ = '.';
  int written = 0;
  for (const char* c = marker + 1; *c; ++c, ++written) *p++ = *c;
  for (; written < decimals; ++written) *p++ = '0';
  return static_cast<std::size_t>(p - out);
}

std::uint64_t WidenFloatBits(std::uint32_t bits) {
  const std::uint64_t sign = static_cast<std::uint64_t>(bits >> 31) << 63;
  const std::uint32_t biased = (bits >> 23) & 0xff;
  std::uint64_t mantissa = bits & 0x7fffff;
  if (biased == 0xff) return sign | (std::uint64_t{0x7ff} << 52) | (mantissa << 29);
  if (biased == 0) {
    if (mantissa == 0) return sign;
    int exponent = -126;  // a denormal becomes a normal double
    while (!(mantissa & 0x800000)) {
      mantissa <<= 1;
      --exponent;
    }
    return sign | (static_cast<std::uint64_t>(exponent + 1023) << 52) | ((mantissa & 0x7fffff) << 29);
  }
  return sign | (static_cast<std::uint64_t>(biased - 127 + 1023) << 52) | (mantissa << 29);
}

namespace {

// The whole fast path for one count of decimals, so that the document's 4
// and 5 decide nothing at run time.
template <int Decimals>
std::size_t FormatFloatBits(std::uint32_t bits, char* out) {
  if constexpr (Decimals == 4 || Decimals == 5) {
    const FixedShortText text = FixedFloatShortText<Decimals>(bits);
    if (text.length) {
      std::memcpy(out, &text.first, 8);
      std::memcpy(out + 8, &text.second, 8);
      return text.length;
    }
  }
  const std::uint32_t biased = (bits >> 23) & 0xff;
  const std::uint32_t mantissa = bits & 0x7fffff;
  if (biased != 0xff) {
    if ((bits << 1) == 0) return Zeros(out, false, Decimals);
    const std::uint32_t m = biased ? mantissa | 0x800000 : mantissa;
    const int q = biased ? static_cast<int>(biased) - 150 : -149;
    if (std::size_t n = FormatDyadic<Decimals>(bits >> 31, m, q, out)) return n;
  }
  return FormatFixedExact(WidenFloatBits(bits), Decimals, out);
}

}  // namespace

std::size_t FormatFixedFloatBits(std::uint32_t bits, int decimals, char* out) {
  // The document's own counts first, ahead of any table jump.
  if (decimals == 4) return FormatFloatBits<4>(bits, out);
  if (decimals == 5) return FormatFloatBits<5>(bits, out);
  switch (decimals < 1 ? 1 : decimals) {
    case 1: return FormatFloatBits<1>(bits, out);
    case 2: return FormatFloatBits<2>(bits, out);
    case 3: return FormatFloatBits<3>(bits, out);
    case 6: return FormatFloatBits<6>(bits, out);
    case 7: return FormatFloatBits<7>(bits, out);
  }
  return FormatFixedExact(WidenFloatBits(bits), decimals, out);
}

std::size_t FormatFixed(double value, int decimals, char* out) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  // The converter formats floats through FormatFixedFloatBits; a double
  // comes here only from other callers, so it takes the exact path.
  return FormatFixedExact(bits, decimals, out);
}
