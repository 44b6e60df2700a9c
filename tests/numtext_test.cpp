#include "numtext/numtext.h"
#include "numtext/numtext_internal.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace {

std::uint32_t BitsOf(float f) {
  std::uint32_t b;
  std::memcpy(&b, &f, 4);
  return b;
}
std::uint64_t BitsOf(double d) {
  std::uint64_t b;
  std::memcpy(&b, &d, 8);
  return b;
}
float FloatFrom(std::uint32_t b) {
  float f;
  std::memcpy(&f, &b, 4);
  return f;
}

std::string Fast(std::uint32_t bits, int decimals) {
  char buf[FormatFixedBufferSize(40)];
  return std::string(buf, FormatFixedFloatBits(bits, decimals, buf));
}
std::string Exact(std::uint64_t bits, int decimals) {
  std::string buf(FormatFixedBufferSize(decimals), '\0');
  buf.resize(FormatFixedExact(bits, decimals, buf.data()));
  return buf;
}
std::string Public(double value, int decimals) {
  std::string buf(FormatFixedBufferSize(decimals), '\0');
  buf.resize(FormatFixed(value, decimals, buf.data()));
  return buf;
}
// The float through every entry point; they must agree.
std::string Text(float value, int decimals) {
  std::string viaBits = Fast(BitsOf(value), decimals);
  EXPECT_EQ(Exact(BitsOf(static_cast<double>(value)), decimals), viaBits) << value;
  EXPECT_EQ(Public(static_cast<double>(value), decimals), viaBits) << value;
  return viaBits;
}
std::string Glibc(double value, int decimals) {
  char buf[2000];
  int n = std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  return std::string(buf, static_cast<std::size_t>(n));
}

TEST(FormatFixed, WorkedValues) {
  EXPECT_EQ(Text(0.0f, 4), "0.0000");
  EXPECT_EQ(Text(-0.0f, 4), "0.0000");
  EXPECT_EQ(Text(0.5f, 4), "0.5000");
  EXPECT_EQ(Text(-0.5f, 4), "-0.5000");
  EXPECT_EQ(Text(0.015625f, 5), "0.01563");
  EXPECT_EQ(Text(0.03125f, 4), "0.0313");
  EXPECT_EQ(Text(-0.03125f, 4), "-0.0313");
  EXPECT_EQ(Text(1.03125f, 4), "1.0313");
  EXPECT_EQ(Text(0.078125f, 5), "0.07813");
  EXPECT_EQ(Text(0.046875f, 5), "0.04688");
  EXPECT_EQ(Text(0.1f, 4), "0.1000");
  EXPECT_EQ(Text(-0.00001f, 4), "-0.0000");
  EXPECT_EQ(Text(-0.00006f, 4), "-0.0001");
  EXPECT_EQ(Text(9.99995f, 4), "10.0000");
  EXPECT_EQ(Text(123.456f, 4), "123.4560");
  EXPECT_EQ(Text(1e20f, 4), "100000002004087730000.0000");
  EXPECT_EQ(Text(FLT_MAX, 4), "340282346638528860000000000000000000000.0000");
}

TEST(FormatFixed, RoundsTiesAwayFromZero) {
  EXPECT_EQ(Text(-0.015625f, 5), "-0.01563");
  EXPECT_EQ(Text(2.5f, 1 - 1), "2.5");  // decimals below 1 act as 1
  EXPECT_EQ(Text(0.25f, 1), "0.3");
  EXPECT_EQ(Text(-0.25f, 1), "-0.3");
  EXPECT_EQ(Text(1.5f / 1024, 7), "0.0014648");  // 0.00146484375
  // One float step either side of a tie rounds to the nearer text.
  EXPECT_EQ(Text(std::nextafter(0.03125f, 0.0f), 4), "0.0312");
  EXPECT_EQ(Text(std::nextafter(0.03125f, 1.0f), 4), "0.0313");
}

TEST(FormatFixed, ZeroHasNoSignButNegativeRoundingToZeroKeepsIt) {
  EXPECT_EQ(Text(-0.0f, 5), "0.00000");
  EXPECT_EQ(Exact(BitsOf(-0.0), 12), "0.000000000000");
  EXPECT_EQ(Text(-0.00004f, 4), "-0.0000");
  EXPECT_EQ(Text(0.00004f, 4), "0.0000");
  EXPECT_EQ(Text(FloatFrom(0x80000001u), 5), "-0.00000");  // smallest denormal
  EXPECT_EQ(Text(FloatFrom(0x00000001u), 5), "0.00000");
  EXPECT_EQ(Text(FloatFrom(0x007fffffu), 7), "0.0000000");
}

TEST(FormatFixed, CarryLengthensIntegerPart) {
  EXPECT_EQ(Text(99.99996f, 4), "100.0000");
  EXPECT_EQ(Text(-999.99995f, 3), "-1000.000");
  EXPECT_EQ(Text(0.99999f, 4), "1.0000");  // 0.99998998...
  EXPECT_EQ(Text(0.99994f, 4), "0.9999");  // 0.99993997...
  EXPECT_EQ(Text(0.000051f, 4), "0.0001");
  EXPECT_EQ(Text(0.0000496f, 4), "0.0000");
}

TEST(FormatFixed, ShowsOnly17SignificantDigitsFrom1e17) {
  EXPECT_EQ(Text(1e17f, 4), "99999998430674944.0000");  // below 10^17: every digit
  // 100000007020609536: the 18th digit rounds the 17th up.
  EXPECT_EQ(Text(std::nextafter(1e17f, 1e18f), 4), "100000007020609540.0000");
  EXPECT_EQ(Text(FloatFrom(0x5e000000u), 2), "2305843009213694000.00");  // 2^61 = 2305843009213693952
  EXPECT_EQ(Text(FloatFrom(0x5e000001u), 2), "2305843284091600900.00");  // ...600896: 18th digit 9
  EXPECT_EQ(Text(-1e30f, 4), "-1000000015047466200000000000000.0000");  // 1000000015047466219876688855040
  EXPECT_EQ(Text(16777216.0f, 4), "16777216.0000");
}

TEST(FormatFixed, DoublesBeyondFloatsGoThroughTheExactPath) {
  std::string max = Public(DBL_MAX, 4);
  EXPECT_EQ(max.size(), 309u + 5u);
  EXPECT_EQ(max.substr(0, 18), "179769313486231570");
  EXPECT_EQ(max.substr(17, 292), std::string(292, '0'));
  EXPECT_EQ(Public(-DBL_MAX, 1).size(), 1u + 309u + 2u);
  EXPECT_EQ(Public(4.9406564584124654e-324, 4), "0.0000");
  EXPECT_EQ(Public(-4.9406564584124654e-324, 330), "-0." + std::string(323, '0') + "4940656");
  EXPECT_EQ(Public(4.9406564584124654e-324, 322), "0." + std::string(322, '0'));
  EXPECT_EQ(Public(0.1, 20), "0.10000000000000001000");  // 0.1000000000000000055511...
  EXPECT_EQ(Public(1.0 / 3, 30), "0.333333333333333310000000000000");  // 17 digits, then zeros
  EXPECT_EQ(Public(2.675, 2), "2.67");  // 2.67499999999999982236431605997495353221893310546875
  EXPECT_EQ(Public(2.0000000000000004, 15), "2.000000000000000");  // 2.000000000000000444
  // Just below a tie, but its 17 digits are the tie: the double rounding is intended.
  EXPECT_EQ(Public(9.647805, 5), "9.64781");  // 9.64780499999999999971578...
  EXPECT_EQ(Public(0.30000000000000004, 1), "0.3");
  EXPECT_EQ(Public(1e300, 1).substr(0, 20), "10000000000000001000");  // 1000000000000000052504...
}

TEST(FormatFixed, NonFiniteMarkersKeepTheirSignAndPad) {
  struct Case { std::uint32_t bits; int decimals; const char* text; };
  const Case cases[] = {
      {0x7f800000u, 4, "1.#INF"},   {0x7f800000u, 5, "1.#INF0"},  {0xff800000u, 1, "-1.#INF"},
      {0x7f800000u, 8, "1.#INF0000"}, {0xffc00000u, 4, "-1.#IND"}, {0xffc00000u, 5, "-1.#IND0"},
      {0x7fc00000u, 4, "1.#QNAN"},  {0x7fc00001u, 5, "1.#QNAN"},  {0xffc00001u, 4, "-1.#QNAN"},
      {0x7f800001u, 4, "1.#SNAN"},  {0xffbfffffu, 5, "-1.#SNAN"}, {0x7fc00000u, 1, "1.#QNAN"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Fast(c.bits, c.decimals), c.text) << std::hex << c.bits;
  }
  // The same through the double entry points, built from bits so no FPU
  // load can quieten a signalling NaN.
  EXPECT_EQ(Exact(0x7ff0000000000001ull, 4), "1.#SNAN");
  EXPECT_EQ(Exact(0xfff8000000000000ull, 4), "-1.#IND");
  EXPECT_EQ(Exact(0x7ff8000000000000ull, 4), "1.#QNAN");
  EXPECT_EQ(Exact(0xfff8000000000001ull, 4), "-1.#QNAN");
  char buf[64];
  EXPECT_EQ(std::string(buf, FormatFixedBits(0xfff0000000000000ull, 5, buf)), "-1.#INF0");
}

TEST(FormatFixed, BufferSizeBoundsEveryResult) {
  const std::uint64_t extremes[] = {BitsOf(DBL_MAX), BitsOf(-DBL_MAX), 1, 0x8000000000000001ull,
                                    BitsOf(-999.99999999), 0xfff8000000000001ull};
  for (int decimals : {1, 4, 17, 100}) {
    for (std::uint64_t bits : extremes) {
      std::string buf(FormatFixedBufferSize(decimals) + 64, '\x7f');
      std::size_t n = FormatFixedBits(bits, decimals, buf.data());
      EXPECT_LE(n, FormatFixedBufferSize(decimals));
      EXPECT_EQ(buf.find_first_not_of('\x7f', FormatFixedBufferSize(decimals)), std::string::npos);
    }
    for (std::uint32_t bits : {0x7f7fffffu, 0xff7fffffu, 0x80000001u, 0xffc00001u}) {
      std::string buf(FormatFixedFloatBufferSize(decimals) + 64, '\x7f');
      std::size_t n = FormatFixedFloatBits(bits, decimals, buf.data());
      EXPECT_LE(n, FormatFixedFloatBufferSize(decimals));
      EXPECT_EQ(buf.find_first_not_of('\x7f', FormatFixedFloatBufferSize(decimals)), std::string::npos);
    }
  }
}

// The exact path's digits against the C library, where the two rules agree:
// no exact tie and few enough digits before the cut that the 17-digit
// rounding cannot matter. The C library rounds ties to even; floats that are
// ties are skipped.
TEST(FormatFixed, ExactPathMatchesCorrectRoundingAwayFromTies) {
  std::mt19937_64 rng(20261207);
  for (int i = 0; i < 200000; ++i) {
    std::uint32_t bits = static_cast<std::uint32_t>(rng());
    float f = FloatFrom(bits);
    if (!std::isfinite(f) || std::fabs(f) >= 1e17f || f == 0) continue;
    int decimals = 4 + static_cast<int>(rng() % 2);
    double scaled = std::fabs(static_cast<double>(f)) * std::pow(10.0, decimals);
    if (scaled - std::floor(scaled) == 0.5) continue;  // exact tie; scaling by 10^4..5 is exact for these
    std::string mine = Exact(BitsOf(static_cast<double>(f)), decimals);
    std::string libc = Glibc(static_cast<double>(f), decimals);
    ASSERT_EQ(mine, libc) << std::hex << bits;
  }
  std::uniform_real_distribution<double> magnitude(-3, 6);
  for (int i = 0; i < 100000; ++i) {
    double d = std::pow(10.0, magnitude(rng)) * (rng() & 1 ? -1 : 1);
    ASSERT_EQ(Exact(BitsOf(d), 4), Glibc(d, 4)) << d;
  }
}

// The fast path against the exact path: ties and their neighbours in a wide
// range, then a few million arbitrary bit patterns.
TEST(FormatFixed, FastPathMatchesExactOnTiesAndNeighbours) {
  for (int decimals : {4, 5}) {
    const int denominator = decimals == 4 ? 32 : 64;
    for (int n = -4096; n < 4096; ++n) {
      for (int odd = 1; odd < denominator; odd += 2) {
        float tie = static_cast<float>(n) + static_cast<float>(odd) / static_cast<float>(denominator);
        for (float f : {tie, std::nextafter(tie, -1e9f), std::nextafter(tie, 1e9f)}) {
          std::uint32_t bits = BitsOf(f);
          ASSERT_EQ(Fast(bits, decimals), Exact(BitsOf(static_cast<double>(f)), decimals))
              << std::hex << bits;
        }
      }
    }
  }
}

// The fast path changes how it lays out digits where the integer part gains
// a digit and where the scaled value outgrows 32 bits (near 429496.7296 at
// 4 decimals, 42949.67296 at 5): every float close to those points, both signs.
TEST(FormatFixed, FastPathMatchesExactWhereItsLayoutChanges) {
  const float points[] = {1, 10, 100, 1000, 10000, 100000, 42949.67296f, 429496.7296f, 4294967.296f};
  for (float point : points) {
    for (int decimals = 1; decimals <= 7; ++decimals) {
      std::uint32_t centre = BitsOf(point);
      for (std::uint32_t bits = centre - 3000; bits != centre + 3000; ++bits) {
        for (std::uint32_t sign : {0u, 0x80000000u}) {
          ASSERT_EQ(Fast(bits | sign, decimals), Exact(WidenFloatBits(bits | sign), decimals))
              << std::hex << (bits | sign) << " at " << decimals;
        }
      }
    }
  }
}

TEST(FormatFixed, FastPathMatchesExactOnRandomFloats) {
  std::mt19937 rng(7);
  for (int i = 0; i < 3000000; ++i) {
    std::uint32_t bits = static_cast<std::uint32_t>(rng());
    int decimals = i % 8 < 6 ? 4 + i % 2 : 1 + static_cast<int>(rng() % 7);
    ASSERT_EQ(Fast(bits, decimals), Exact(WidenFloatBits(bits), decimals))
        << std::hex << bits << " at " << decimals;
  }
}

TEST(FormatFixed, WideningOnBitsMatchesTheHardwareAndKeepsNanPayloads) {
  std::mt19937 rng(11);
  for (int i = 0; i < 1000000; ++i) {
    auto bits = static_cast<std::uint32_t>(rng());
    if (i < 1 << 16) bits = (bits & 0x807fffffu) | (i % 2 ? 0 : 0x7f800000u);  // denormals, NaNs
    float f = FloatFrom(bits);
    if (std::isnan(f)) {
      std::uint64_t wide = WidenFloatBits(bits);
      ASSERT_EQ(wide >> 52, (bits >> 31) ? 0xfffu : 0x7ffu);
      ASSERT_EQ(wide & ((1ull << 52) - 1), static_cast<std::uint64_t>(bits & 0x7fffff) << 29);
    } else {
      ASSERT_EQ(WidenFloatBits(bits), BitsOf(static_cast<double>(f))) << std::hex << bits;
    }
  }
}

}  // namespace

TEST(FormatUnsigned, HasNoLeadingZerosAtEveryDigitCount) {
  char out[16];
  for (std::uint64_t p = 1; p <= 10000000000ull; p *= 10) {
    for (std::uint64_t v : {p - 1, p, p + 1, 2 * p - 1}) {
      if (v > 0xffffffffu) continue;
      auto n = FormatUnsigned(static_cast<std::uint32_t>(v), out);
      EXPECT_EQ(std::string(out, n), std::to_string(v)) << v;
    }
  }
  EXPECT_EQ(std::string(out, FormatUnsigned(0xffffffffu, out)), "4294967295");
}
