// The mesh formats' numbers: the shortest text that reads back as the same
// float. Its own object: only programs that write a mesh link it, and with
// it the library's float text.
#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>

#include "numtext/numtext.h"
#include "numtext/numtext_internal.h"

// A float m * 2^e (m odd) with e < 0 is exactly m * 5^d / 10^d, d = -e: d
// fraction digits, the last a 5. Any text of fewer significant digits lies
// at least 5 * 10^-d from it (1 from a whole number), so where that is more
// than half the float's spacing, 2^(E-24) for 2^E <= |value|, none reads back
// as the value: the exact text is the shortest, and as the nearest of its
// length it is the one std::to_chars picks. Between 0.001 and 100000 the
// fixed form is never longer than the scientific, which wins only ties.
std::size_t FormatShortestFloat(std::uint32_t bits, char* out) {
  constexpr int kMaxFraction = 10;
  constexpr std::uint64_t kPow5[kMaxFraction + 1] = {1, 5, 25, 125, 625, 3125, 15625, 78125, 390625, 1953125, 9765625};
  const std::uint32_t magnitude = bits & 0x7fffffffu;
  if (magnitude == 0) return *out = '0', 1;
  // 0x3a83126f is the least float above 0.001, 0x47c35000 is 100000.
  if (magnitude >= 0x3a83126fu && magnitude < 0x47c35000u) {
    const int biased = static_cast<int>(magnitude >> 23);
    const std::uint32_t m = (magnitude & 0x7fffffu) | 0x800000u;
    const int zeros = std::countr_zero(m), e = biased - 150 + zeros, d = e < 0 ? -e : 0;
    // 5 * 10^-d > 2^(E-24), as 5 * 2^(24-E) > 10^d; E is -10 to 16 here.
    if (d <= kMaxFraction && (d == 0 || (std::uint64_t{5} << (151 - biased)) > kPow5[d] << d)) {
      const std::uint64_t odd = m >> zeros, scaled = e < 0 ? odd * kPow5[d] : odd << e;
      // The digits end at `end`, with "0" before the point below 1: up to 8
      // made in one word, with no loop; more (at most 6 whole and 10 fraction
      // digits) one pair at a time. Each part is then moved as 16 bytes, which
      // `digits` and `out` have room for, rather than by a call.
      char digits[48] = {};
      char* end = digits + 24;
      char* start;
      if (scaled < 100000000 && d < 8) {
        const auto v = static_cast<std::uint32_t>(scaled), high = v / 10000;
        const int length = std::max(DigitCount32(v), d + 1);
        const std::uint64_t eight = FourDigits(high) | std::uint64_t{FourDigits(v - high * 10000)} << 32;
        const std::uint64_t word = eight >> (8 * (8 - length));  // its first `length` bytes
        std::memcpy(start = end - length, &word, 8);
      } else {
        start = DigitsBackward(scaled, end);
        while (end - start <= d) *--start = '0';
      }
      char* p = out;
      *p = '-';
      p += bits >> 31;
      const auto whole = static_cast<std::size_t>(end - start - d);
      std::memcpy(p, start, 16);
      p += whole;
      *p = '.';
      std::memcpy(p + 1, start + whole, 16);
      return static_cast<std::size_t>(p + (d ? d + 1 : 0) - out);
    }
  }
  return static_cast<std::size_t>(std::to_chars(out, out + kShortestFloatMax, std::bit_cast<float>(bits)).ptr - out);
}
