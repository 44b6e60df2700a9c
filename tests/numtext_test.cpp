#include "numtext/numtext.h"
#include "numtext/numtext_internal.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

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

struct FloatCase { float value; int decimals; const char* text; };

// Every float goes through all three entry points, which must agree.
TEST(FormatFixed, FloatsThroughEveryEntryPoint) {
  const FloatCase cases[] = {
      {0.0f, 4, "0.0000"}, {-0.0f, 5, "0.00000"}, {0.5f, 4, "0.5000"}, {-0.5f, 4, "-0.5000"},
      {0.1f, 4, "0.1000"}, {123.456f, 4, "123.4560"}, {16777216.0f, 4, "16777216.0000"},
      // Ties go away from zero; one float step either side goes to the nearer text.
      {0.03125f, 4, "0.0313"}, {-0.03125f, 4, "-0.0313"}, {1.03125f, 4, "1.0313"},
      {0.015625f, 5, "0.01563"}, {-0.015625f, 5, "-0.01563"}, {0.078125f, 5, "0.07813"},
      {0.046875f, 5, "0.04688"}, {0.25f, 1, "0.3"}, {-0.25f, 1, "-0.3"}, {2.5f, 0, "2.5"},
      {1.5f / 1024, 7, "0.0014648"}, {std::nextafter(0.03125f, 0.0f), 4, "0.0312"},
      {std::nextafter(0.03125f, 1.0f), 4, "0.0313"},
      // A negative value that rounds to zero keeps its sign; zero itself has none.
      {-0.00001f, 4, "-0.0000"}, {-0.00004f, 4, "-0.0000"}, {0.00004f, 4, "0.0000"},
      {-0.00006f, 4, "-0.0001"}, {-0x1p-149f, 5, "-0.00000"}, {0x1p-149f, 5, "0.00000"},
      {0x1.fffffcp-127f, 7, "0.0000000"},
      // A carry lengthens the integer part.
      {9.99995f, 4, "10.0000"}, {99.99996f, 4, "100.0000"}, {-999.99995f, 3, "-1000.000"},
      {0.99999f, 4, "1.0000"}, {0.99994f, 4, "0.9999"}, {0.000051f, 4, "0.0001"},
      {0.0000496f, 4, "0.0000"},
      // From 10^17 on only 17 significant digits show, rounded on the 18th.
      {1e17f, 4, "99999998430674944.0000"},
      {std::nextafter(1e17f, 1e18f), 4, "100000007020609540.0000"},
      {0x1p61f, 2, "2305843009213694000.00"}, {0x1.000002p61f, 2, "2305843284091600900.00"},
      {-1e30f, 4, "-1000000015047466200000000000000.0000"},
      {1e20f, 4, "100000002004087730000.0000"},
      {FLT_MAX, 4, "340282346638528860000000000000000000000.0000"},
  };
  for (const FloatCase& c : cases) {
    const std::string fast = Fast(std::bit_cast<std::uint32_t>(c.value), c.decimals);
    EXPECT_EQ(fast, c.text) << c.value;
    EXPECT_EQ(Exact(std::bit_cast<std::uint64_t>(double{c.value}), c.decimals), fast) << c.value;
    EXPECT_EQ(Public(c.value, c.decimals), fast) << c.value;
  }
}

TEST(FormatFixed, DoublesBeyondFloats) {
  const struct { double value; int decimals; std::string text; } cases[] = {
      {0x1p-1074, 4, "0.0000"},
      {0x1p-1074, 322, "0." + std::string(322, '0')},
      {-0x1p-1074, 330, "-0." + std::string(323, '0') + "4940656"},
      {0.1, 20, "0.10000000000000001000"},
      {1.0 / 3, 30, "0.333333333333333310000000000000"},
      {2.675, 2, "2.67"},
      {2.0000000000000004, 15, "2.000000000000000"},
      // Just below a tie, but its 17 digits are the tie: the double rounding is intended.
      {9.647805, 5, "9.64781"},
      {0.30000000000000004, 1, "0.3"},
      {1.0, 1000, "1." + std::string(1000, '0')},
      {DBL_MAX, 4, "17976931348623157" + std::string(292, '0') + ".0000"},
      {-DBL_MAX, 1, "-17976931348623157" + std::string(292, '0') + ".0"},
  };
  for (const auto& c : cases) EXPECT_EQ(Public(c.value, c.decimals), c.text) << c.value;
}

TEST(FormatFixed, NonFiniteMarkersKeepTheirSignAndPad) {
  const struct { std::uint64_t bits; int decimals; const char* text; } cases[] = {
      // Float patterns, as the document writer passes them.
      {0x7f800000u, 4, "1.#INF"}, {0x7f800000u, 5, "1.#INF0"}, {0xff800000u, 1, "-1.#INF"},
      {0x7f800000u, 8, "1.#INF0000"}, {0xffc00000u, 4, "-1.#IND"}, {0xffc00000u, 5, "-1.#IND0"},
      {0x7fc00000u, 4, "1.#QNAN"}, {0x7fc00001u, 5, "1.#QNAN"}, {0xffc00001u, 4, "-1.#QNAN"},
      {0x7f800001u, 4, "1.#SNAN"}, {0xffbfffffu, 5, "-1.#SNAN"}, {0x7fc00000u, 1, "1.#QNAN"},
      // Double patterns, built from bits so no FPU load quietens a signalling NaN.
      {0x7ff0000000000001u, 4, "1.#SNAN"}, {0xfff8000000000000u, 4, "-1.#IND"},
      {0x7ff8000000000000u, 4, "1.#QNAN"}, {0xfff8000000000001u, 4, "-1.#QNAN"},
      {0xfff0000000000000u, 5, "-1.#INF0"},
  };
  char buf[64];
  for (const auto& c : cases) {
    if (c.bits >> 32) {
      EXPECT_EQ(Exact(c.bits, c.decimals), c.text) << std::hex << c.bits;
      EXPECT_EQ(std::string(buf, FormatFixedBits(c.bits, c.decimals, buf)), c.text);
    } else {
      EXPECT_EQ(Fast(static_cast<std::uint32_t>(c.bits), c.decimals), c.text) << std::hex << c.bits;
    }
  }
}

TEST(FormatFixed, BufferSizeBoundsEveryResult) {
  const std::uint64_t extremes[] = {std::bit_cast<std::uint64_t>(DBL_MAX), std::bit_cast<std::uint64_t>(-DBL_MAX),
                                    1, 0x8000000000000001u, 0xfff8000000000001u,
                                    std::bit_cast<std::uint64_t>(-999.99999999)};
  for (int decimals : {1, 4, 17, 100}) {
    for (std::uint64_t bits : extremes) {
      std::string buf(FormatFixedBufferSize(decimals) + 64, '\x7f');
      EXPECT_LE(FormatFixedBits(bits, decimals, buf.data()), FormatFixedBufferSize(decimals));
      EXPECT_EQ(buf.find_first_not_of('\x7f', FormatFixedBufferSize(decimals)), std::string::npos);
    }
    for (std::uint32_t bits : {0x7f7fffffu, 0xff7fffffu, 0x80000001u, 0xffc00001u}) {
      std::string buf(FormatFixedFloatBufferSize(decimals) + 64, '\x7f');
      EXPECT_LE(FormatFixedFloatBits(bits, decimals, buf.data()), FormatFixedFloatBufferSize(decimals));
      EXPECT_EQ(buf.find_first_not_of('\x7f', FormatFixedFloatBufferSize(decimals)), std::string::npos);
    }
  }
}

// The exact path against the C library where the two rules agree: no exact
// tie (the C library rounds those to even) and fewer than 17 digits before
// the cut.
TEST(FormatFixed, ExactPathMatchesCorrectRoundingAwayFromTies) {
  auto glibc = [](double value, int decimals) {
    char buf[400];
    return std::string(buf, static_cast<std::size_t>(std::snprintf(buf, sizeof buf, "%.*f", decimals, value)));
  };
  std::mt19937_64 rng(20261207);
  for (int i = 0; i < 200000; ++i) {
    float f = std::bit_cast<float>(static_cast<std::uint32_t>(rng()));
    if (!std::isfinite(f) || std::fabs(f) >= 1e17f || f == 0) continue;
    int decimals = 4 + static_cast<int>(rng() % 2);
    double scaled = std::fabs(double{f}) * std::pow(10.0, decimals);  // exact for these
    if (scaled - std::floor(scaled) == 0.5) continue;
    ASSERT_EQ(Exact(std::bit_cast<std::uint64_t>(double{f}), decimals), glibc(f, decimals)) << f;
  }
  std::uniform_real_distribution<double> magnitude(-3, 6);
  for (int i = 0; i < 100000; ++i) {
    double d = std::pow(10.0, magnitude(rng)) * (rng() & 1 ? -1 : 1);
    ASSERT_EQ(Exact(std::bit_cast<std::uint64_t>(d), 4), glibc(d, 4)) << d;
  }
}

void ExpectFastMatchesExact(std::uint32_t bits, int decimals) {
  ASSERT_EQ(Fast(bits, decimals), Exact(WidenFloatBits(bits), decimals)) << std::hex << bits << " at " << decimals;
}

// The fast path against the exact one: every tie at 4 and 5 decimals within
// ±4096 and its neighbours; every float near the points where the fast path
// changes its layout (a new integer digit, the scaled value outgrowing 32
// bits near 429496.7296 at 4 decimals and 42949.67296 at 5), both signs; then
// a few million arbitrary patterns.
TEST(FormatFixed, FastPathMatchesExact) {
  for (int decimals : {4, 5}) {
    const int denominator = decimals == 4 ? 32 : 64;
    for (int n = -4096; n < 4096; ++n) {
      for (int odd = 1; odd < denominator; odd += 2) {
        float tie = static_cast<float>(n) + static_cast<float>(odd) / static_cast<float>(denominator);
        for (float f : {tie, std::nextafter(tie, -1e9f), std::nextafter(tie, 1e9f)})
          ExpectFastMatchesExact(std::bit_cast<std::uint32_t>(f), decimals);
      }
    }
  }
  for (float point : {1.f, 10.f, 100.f, 1000.f, 10000.f, 100000.f, 42949.67296f, 429496.7296f, 4294967.296f}) {
    for (int decimals = 1; decimals <= 7; ++decimals) {
      const std::uint32_t centre = std::bit_cast<std::uint32_t>(point);
      for (std::uint32_t bits = centre - 3000; bits != centre + 3000; ++bits) {
        ExpectFastMatchesExact(bits, decimals);
        ExpectFastMatchesExact(bits | 0x80000000u, decimals);
      }
    }
  }
  std::mt19937 rng(7);
  for (int i = 0; i < 3000000; ++i)
    ExpectFastMatchesExact(static_cast<std::uint32_t>(rng()), i % 8 < 6 ? 4 + i % 2 : 1 + static_cast<int>(rng() % 7));
}

#ifdef BLOCKMQO_EXHAUSTIVE
// All 2^32 patterns at 4 and 5 decimals on every core: minutes, so only in a
// build configured with -DBLOCKMQO_EXHAUSTIVE=ON.
TEST(FormatFixed, FastPathMatchesExactOnEveryFloat) {
  const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::thread> pool;
  for (unsigned t = 0; t < threads; ++t) {
    pool.emplace_back([=] {
      for (std::uint64_t i = t; i < (1ull << 32) && !::testing::Test::HasFailure(); i += threads)
        for (int decimals : {4, 5}) ExpectFastMatchesExact(static_cast<std::uint32_t>(i), decimals);
    });
  }
  for (std::thread& t : pool) t.join();
}
#endif

TEST(FormatUnsigned, HasNoLeadingZerosAtEveryDigitCount) {
  char out[16];
  for (std::uint64_t p = 1; p <= 10000000000ull; p *= 10) {
    for (std::uint64_t v : {p - 1, p, p + 1, 2 * p - 1, std::uint64_t{0xffffffffu}}) {
      if (v <= 0xffffffffu) {
        EXPECT_EQ(std::string(out, FormatUnsigned(static_cast<std::uint32_t>(v), out)), std::to_string(v));
      }
    }
  }
}

}  // namespace
