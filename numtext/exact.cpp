// The exact path: big-integer arithmetic on the value's bits, then the
// rounding steps applied to the decimal digits one by one.
#include <bit>
#include <cstring>

#include "numtext/numtext.h"
#include "numtext/numtext_internal.h"

namespace {

// Enough 32-bit limbs for m * 5^1074 (about 2550 bits) and for m << 971.
constexpr int kLimbs = 84;

struct BigInt {
  std::uint32_t limb[kLimbs];  // least significant first
  int size;
};

void MulSmall(BigInt* x, std::uint32_t factor) {
  std::uint64_t carry = 0;
  for (int i = 0; i < x->size; ++i) {
    std::uint64_t t = static_cast<std::uint64_t>(x->limb[i]) * factor + carry;
    x->limb[i] = static_cast<std::uint32_t>(t);
    carry = t >> 32;
  }
  if (carry) x->limb[x->size++] = static_cast<std::uint32_t>(carry);
}

// Divides by `divisor` in place and returns the remainder.
std::uint32_t DivSmall(BigInt* x, std::uint32_t divisor) {
  std::uint64_t rem = 0;
  for (int i = x->size - 1; i >= 0; --i) {
    std::uint64_t t = (rem << 32) | x->limb[i];
    x->limb[i] = static_cast<std::uint32_t>(t / divisor);
    rem = t % divisor;
  }
  while (x->size > 0 && x->limb[x->size - 1] == 0) --x->size;
  return static_cast<std::uint32_t>(rem);
}

void FromU64(BigInt* x, std::uint64_t v) {
  x->limb[0] = static_cast<std::uint32_t>(v);
  x->limb[1] = static_cast<std::uint32_t>(v >> 32);
  x->size = x->limb[1] ? 2 : (x->limb[0] ? 1 : 0);
}

void MulPow(BigInt* x, std::uint32_t base, std::uint32_t chunkFactor, int chunkPower, int power) {
  for (; power >= chunkPower; power -= chunkPower) MulSmall(x, chunkFactor);
  std::uint32_t rest = 1;
  while (power-- > 0) rest *= base;
  MulSmall(x, rest);
}

void MulPow2(BigInt* x, int power) { MulPow(x, 2, 1u << 31, 31, power); }
void MulPow5(BigInt* x, int power) { MulPow(x, 5, 1220703125u, 13, power); }  // 5^13

bool Less(const BigInt& a, const BigInt& b) {
  if (a.size != b.size) return a.size < b.size;
  for (int i = a.size - 1; i >= 0; --i)
    if (a.limb[i] != b.limb[i]) return a.limb[i] < b.limb[i];
  return false;
}

// Decimal digits of x, most significant first, no leading zeros; x is consumed.
int ToDecimal(BigInt* x, char* digits) {
  char reversed[kLimbs * 10];
  int n = 0;
  while (x->size > 0) {
    std::uint32_t chunk = DivSmall(x, 1000000000u);
    for (int i = 0; i < 9; ++i, chunk /= 10) reversed[n++] = static_cast<char>('0' + chunk % 10);
  }
  while (n > 0 && reversed[n - 1] == '0') --n;
  for (int i = 0; i < n; ++i) digits[i] = reversed[n - 1 - i];
  return n;
}

// Adds one to the decimal number in digits[0..n); returns true when the
// carry runs out of the digits (they are then all zero).
bool Increment(char* digits, int n) {
  for (int i = n - 1; i >= 0; --i) {
    if (digits[i] != '9') {
      ++digits[i];
      return false;
    }
    digits[i] = '0';
  }
  return true;
}

std::size_t Zeros(char* out, bool negative, int decimals) {
  char* p = out;
  if (negative) *p++ = '-';
  *p++ = '0';
  *p++ = '.';
  std::memset(p, '0', static_cast<std::size_t>(decimals));
  return static_cast<std::size_t>(p + decimals - out);
}

}  // namespace

std::size_t FormatFixedExact(std::uint64_t bits, int decimals, char* out) {
  if (decimals < 1) decimals = 1;
  const bool negative = bits >> 63;
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  const std::uint64_t fraction = bits & ((1ull << 52) - 1);
  if (biased == 0x7ff) return FormatMarker(bits, decimals, out);
  if (biased == 0 && fraction == 0) return Zeros(out, false, decimals);  // no sign on zero

  // value = m * 2^q exactly; m is made odd so that no more digits are built
  // than the value has (a widened float has 29 trailing zero bits).
  std::uint64_t m = biased ? fraction | (1ull << 52) : fraction;
  const int zeros = std::countr_zero(m);
  m >>= zeros;
  const int q = (biased ? biased - 1075 : -1074) + zeros;

  // A magnitude below a tenth of the last place prints as zeros whatever its
  // digits (even when the 17-digit rounding carries it up to that tenth), so
  // the long digit strings of tiny values are never needed:
  // m * 2^q < 10^-(N+1)  <=>  m * 10^(N+1) < 2^-q, which never holds once
  // 10^(N+1) passes 2^1074.
  if (q < 0 && decimals < 330) {
    BigInt scaled, bound;
    FromU64(&scaled, m);
    MulPow2(&scaled, decimals + 1);
    MulPow5(&scaled, decimals + 1);
    FromU64(&bound, 1);
    MulPow2(&bound, -q);
    if (Less(scaled, bound)) return Zeros(out, negative, decimals);
  }

  // All decimal digits of the exact value: B = m * 2^q, or m * 5^-q with the
  // point -q places from the right.
  BigInt b;
  FromU64(&b, m);
  int pointFromRight = 0;
  if (q >= 0) {
    MulPow2(&b, q);
  } else {
    MulPow5(&b, -q);
    pointFromRight = -q;
  }
  char s[kLimbs * 10];
  const int length = ToDecimal(&b, s);
  int e = length - pointFromRight;  // value = 0.s * 10^e

  // 17 significant digits, rounded half up on the 18th.
  char d[18];
  int n = length < 17 ? length : 17;
  std::memcpy(d, s, static_cast<std::size_t>(n));
  if (length > 17 && s[17] >= '5' && Increment(d, 17)) {
    d[0] = '1';
    ++e;
  }
  while (n > 1 && d[n - 1] == '0') --n;

  // The cut: k digits of D lie before it.
  const int k = e + decimals;
  if (k < 0) return Zeros(out, negative, decimals);
  // The kept digits are built a little way into `out`, leaving room in front
  // for a carry's new leading digit, then moved into their place.
  char* digits = out + 3;
  for (int i = 0; i < k; ++i) digits[i] = i < n ? d[i] : '0';
  int keptCount = k;
  const char next = k < n ? d[k] : '0';
  if (next >= '5' && Increment(digits, k)) {
    *--digits = '1';
    ++keptCount;
    ++e;
  }

  char* p = out + (negative ? 1 : 0);
  if (e > 0) {  // digits only move left here
    std::memmove(p, digits, static_cast<std::size_t>(e));
    p[e] = '.';
    std::memmove(p + e + 1, digits + e, static_cast<std::size_t>(decimals));
    p += e + 1 + decimals;
  } else {
    const int lead = -e < decimals ? -e : decimals;
    std::memmove(p + 2 + lead, digits, static_cast<std::size_t>(keptCount));
    p[0] = '0';
    p[1] = '.';
    std::memset(p + 2, '0', static_cast<std::size_t>(lead));
    p += 2 + lead + keptCount;
  }
  if (negative) out[0] = '-';
  return static_cast<std::size_t>(p - out);
}
