#include "numtext/numtext.h"
#include "numtext/numtext_internal.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

// Floats travel as bit patterns: an x87 load would quieten a signalling NaN.
constexpr std::uint32_t B(float f) { return std::bit_cast<std::uint32_t>(f); }

// The fast path's text; the bytes past the promised buffer size stay untouched.
std::string Fast(std::uint32_t bits, int decimals) {
  std::string buf(FormatFixedFloatBufferSize(decimals) + 8, '\x7f');
  const std::size_t n = FormatFixedFloatBits(bits, decimals, buf.data());
  const bool inside = buf.find_first_not_of('\x7f', FormatFixedFloatBufferSize(decimals)) == std::string::npos;
  return inside ? buf.substr(0, n) : "<overrun>";
}
std::string Exact(std::uint64_t bits, int decimals) {
  std::string buf(FormatFixedBufferSize(decimals), '\0');
  buf.resize(FormatFixedExact(bits, decimals, buf.data()));
  return buf;
}

TEST(FormatFixed, FloatsThroughBothPaths) {
  const struct { std::uint32_t bits; int decimals; std::string text; } cases[] = {
      {B(0.0f), 4, "0.0000"}, {B(-0.0f), 5, "0.00000"}, {B(-0.5f), 4, "-0.5000"}, {B(0.1f), 4, "0.1000"},
      {B(123.456f), 4, "123.4560"}, {B(16777216.0f), 4, "16777216.0000"}, {B(2.5f), 0, "2.5"},
      // Ties go away from zero; one float step either side goes to the nearer text.
      {B(0.03125f), 4, "0.0313"}, {B(-0.03125f), 4, "-0.0313"}, {B(1.03125f), 4, "1.0313"}, {B(0.25f), 1, "0.3"},
      {B(0.03125f) - 1, 4, "0.0312"}, {B(0.03125f) + 1, 4, "0.0313"}, {B(-0.015625f), 5, "-0.01563"},
      {B(0.078125f), 5, "0.07813"}, {B(1.5f / 1024), 7, "0.0014648"},
      // A negative value that rounds to zero keeps its sign; zero itself has none.
      {B(-0.00004f), 4, "-0.0000"}, {B(0.00004f), 4, "0.0000"}, {B(-0.00006f), 4, "-0.0001"},
      {0x80000001u, 5, "-0.00000"}, {0x00000001u, 5, "0.00000"}, {B(0x1.fffffcp-127f), 7, "0.0000000"},
      // Subnormals far enough out to show their digits.
      {0x00000001u, 50, "0." + std::string(44, '0') + "140130"}, {0x807fffffu, 50, "-0." + std::string(37, '0') + "1175494210692"},
      // A carry lengthens the integer part.
      {B(9.99995f), 4, "10.0000"}, {B(-999.99995f), 3, "-1000.000"}, {B(0.99994f), 4, "0.9999"},
      {B(0.000051f), 4, "0.0001"}, {B(0.0000496f), 4, "0.0000"},
      // From 10^17 on only 17 significant digits show, rounded on the 18th.
      {B(1e17f), 4, "99999998430674944.0000"}, {B(1e17f) + 1, 4, "100000007020609540.0000"},
      {B(0x1.000002p61f), 2, "2305843284091600900.00"}, {B(-1e30f), 4, "-1000000015047466200000000000000.0000"},
      {B(-FLT_MAX), 7, "-340282346638528860000000000000000000000.0000000"},
      // Infinities and NaNs: a marker laid out like digits, its sign kept.
      {0x7f800000u, 4, "1.#INF"}, {0x7f800000u, 8, "1.#INF0000"}, {0xff800000u, 1, "-1.#INF"},
      {0xffc00000u, 5, "-1.#IND0"}, {0x7fc00000u, 4, "1.#QNAN"}, {0xffc00001u, 5, "-1.#QNAN"},
      {0x7f800001u, 4, "1.#SNAN"}, {0xffbfffffu, 5, "-1.#SNAN"}};
  for (const auto& c : cases) {
    EXPECT_EQ(Fast(c.bits, c.decimals), c.text) << std::hex << c.bits;
    EXPECT_EQ(Exact(WidenFloatBits(c.bits), c.decimals), c.text) << std::hex << c.bits;
    char d[400];  // the double entry point, where a float register cannot change the value
    if (std::isfinite(std::bit_cast<float>(c.bits))) {
      EXPECT_EQ(std::string(d, FormatFixed(std::bit_cast<float>(c.bits), c.decimals, d)), c.text);
    }
  }
  // Far more decimals than a double has digits; the shortcut for tiny values
  // must not be taken where its bound outgrows the exact path's integers.
  EXPECT_EQ(Exact(1, 1000), "0." + std::string(323, '0') + "49406564584124654" + std::string(660, '0'));
}

// The exact path against the C library where the two rules agree: no exact
// tie (the C library rounds those to even) and fewer than 17 digits.
TEST(FormatFixed, ExactPathMatchesCorrectRoundingAwayFromTies) {
  std::mt19937 rng(20261207);
  for (int i = 0, decimals = 4; i < 100000; ++i, decimals = 9 - decimals) {
    const auto bits = static_cast<std::uint32_t>(rng());
    const double value = std::bit_cast<float>(bits), scaled = std::fabs(value) * std::pow(10.0, decimals);  // exact
    if (!std::isfinite(value) || std::fabs(value) >= 1e17 || value == 0 || scaled - std::floor(scaled) == 0.5) continue;
    char c[64];
    const auto n = static_cast<std::size_t>(std::snprintf(c, sizeof c, "%.*f", decimals, value));
    ASSERT_EQ(Exact(WidenFloatBits(bits), decimals), std::string(c, n)) << value;
  }
}

// Calls each(i) for i below 2^32 a stride apart: every `stride`th here, all
// of them on every core in a build configured with -DBLOCKMQO_EXHAUSTIVE=ON
// (minutes).
template <typename Each>
void OverFloats(std::uint64_t stride, const Each& each) {
  auto run = [&](std::uint64_t first, std::uint64_t step) {
    for (std::uint64_t i = first; i < (1ull << 32) && !::testing::Test::HasFailure(); i += step) each(i);
  };
#ifdef BLOCKMQO_EXHAUSTIVE
  (void)stride;
  // BLOCKMQO_SHARD=k/n: every nth from the kth, on one thread, for a share
  // of the run in a process of its own; under Wine a process's threads
  // spend most of their time waiting for its one heap.
  unsigned shard = 0, shards = 0;
  if (const char* s = std::getenv("BLOCKMQO_SHARD"); s && std::sscanf(s, "%u/%u", &shard, &shards) == 2 && shard < shards)
    return run(shard, shards);
  std::vector<std::thread> pool;
  const unsigned threads = std::thread::hardware_concurrency() + (std::thread::hardware_concurrency() == 0);
  for (unsigned t = 0; t < threads; ++t) pool.emplace_back(run, t, threads);
  for (std::thread& t : pool) t.join();
#else
  run(0, stride);
#endif
}

void ExpectFastMatchesExact(std::uint32_t bits, int decimals) {
  ASSERT_EQ(Fast(bits, decimals), Exact(WidenFloatBits(bits), decimals)) << std::hex << bits << " at " << decimals;
}

// The fast path against the exact one: every tie at 4 and 5 decimals within
// ±4096 and its neighbours, every float near the points where the fast path
// changes its layout (a new integer digit, the scaled value outgrowing 32
// bits near 429496.7296 at 4 decimals and 42949.67296 at 5), both signs, and
// float patterns a stride apart.
TEST(FormatFixed, FastPathMatchesExact) {
  for (const int decimals : {4, 5}) {
    for (int n = 1 - (8192 << decimals); n < 8192 << decimals; n += 2) {  // n / 2^(decimals + 1)
      const std::uint32_t tie = B(std::ldexp(static_cast<float>(n), -1 - decimals));
      for (std::uint32_t bits : {tie - 1, tie, tie + 1}) ExpectFastMatchesExact(bits, decimals);
    }
  }
  for (float point : {1.f, 10.f, 100.f, 1000.f, 10000.f, 100000.f, 42949.67296f, 429496.7296f, 4294967.296f})
    for (int decimals = 1; decimals <= 7; ++decimals)
      for (std::uint32_t bits = B(point) - 3000; bits != B(point) + 3000; ++bits)
        for (std::uint32_t sign : {0u, 0x80000000u}) ExpectFastMatchesExact(bits | sign, decimals);
  OverFloats(65537, [](std::uint64_t i) {
    for (int decimals : {4, 5}) ExpectFastMatchesExact(static_cast<std::uint32_t>(i), decimals);
  });
}

// The shortest float text is std::to_chars', but for zero's sign, within its
// buffer: on float patterns a stride apart, and on the grid values its own
// path takes (multiples of 2^-10 up to 100000 and a little past, both signs;
// every one below 1); and so is the writers' inline text where it gives one,
// as it does for every multiple of 1/16 below 10000 (and not for 10000).
TEST(FormatShortestFloat, IsTheLibrarysTextOnFloatsAndGridValues) {
  auto expect = [](std::uint32_t bits) {
    std::string mine(kShortestFloatMax + 8, '\x7f'), theirs(64, '\0');
    const std::size_t n = FormatShortestFloat(bits, mine.data());
    EXPECT_EQ(mine.find_first_not_of('\x7f', kShortestFloatMax), std::string::npos) << std::hex << bits;
    mine.resize(n);
    theirs.resize(static_cast<std::size_t>(
        std::to_chars(theirs.data(), theirs.data() + 64, bits << 1 ? std::bit_cast<float>(bits) : 0.0f).ptr - theirs.data()));
    EXPECT_EQ(mine, theirs) << std::hex << bits;
    const FixedShortText text = ShortestFloatShortText(bits);  // the writers' inline path
    char words[16];
    std::memcpy(words, &text.first, 8), std::memcpy(words + 8, &text.second, 8);
    if (text.length) {
      EXPECT_EQ(std::string(words, text.length), theirs) << std::hex << bits;
    }
  };
  auto grid = [&](std::uint64_t i) {
    for (std::uint32_t sign : {0u, 0x80000000u}) expect(B(static_cast<float>(i) / 1024) | sign);
  };
  for (std::uint64_t i = 0; i < 1024; ++i) grid(i);  // below 1, every one
  OverFloats(4099, [&](std::uint64_t i) {
    expect(static_cast<std::uint32_t>(i));
    if (i < 110000u << 10) grid(i);
  });
  for (std::uint32_t i = 1; i <= 160000; ++i)
    for (std::uint32_t sign : {0u, 0x80000000u}) {
      const std::uint32_t bits = B(static_cast<float>(i) / 16) | sign;
      EXPECT_EQ(ShortestFloatShortText(bits).length != 0, i < 160000) << i;
      expect(bits);
    }
}

TEST(FormatUnsigned, HasNoLeadingZerosAtEveryDigitCount) {
  char out[16];
  for (std::uint64_t p = 1; p <= 1000000000; p *= 10)
    for (std::uint64_t v : {p - 1, p, 2 * p - 1, std::uint64_t{0xffffffffu}})
      EXPECT_EQ(std::string(out, FormatUnsigned(static_cast<std::uint32_t>(v), out)), std::to_string(v));
  for (std::uint32_t v = 0; v < 10000; ++v)
    EXPECT_EQ(std::string(out, FormatSmallUnsigned(v, out)), std::to_string(v));
}

}  // namespace
