// Every float bit pattern through the fast path and the exact path, at 4 and
// 5 decimals, on all cores. Stops at the first difference. Takes a while:
// built only with -DBLOCKMQO_EXHAUSTIVE=ON. Optional arguments COUNT and STEP
// check only the patterns 0, STEP, 2*STEP, ... below COUNT*STEP: a sample
// spread over every exponent, for estimating the full run's time.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "numtext/numtext.h"
#include "numtext/numtext_internal.h"

namespace {

constexpr std::uint64_t kSlice = 1 << 20;
std::atomic<std::uint64_t> g_next{0};
std::atomic<std::uint64_t> g_done{0};
std::atomic<bool> g_failed{false};
std::uint64_t g_step = 1;

void Work(std::uint64_t end) {
  char fast[128], exact[128];
  for (;;) {
    std::uint64_t begin = g_next.fetch_add(kSlice);
    if (begin >= end || g_failed) return;
    std::uint64_t stop = begin + kSlice < end ? begin + kSlice : end;
    for (std::uint64_t i = begin; i < stop; ++i) {
      auto bits = static_cast<std::uint32_t>(i * g_step);
      for (int decimals = 4; decimals <= 5; ++decimals) {
        std::size_t a = FormatFixedFloatBits(bits, decimals, fast);
        std::size_t b = FormatFixedExact(WidenFloatBits(bits), decimals, exact);
        if (a != b || std::memcmp(fast, exact, a) != 0) {
          std::printf("MISMATCH 0x%08x at %d decimals: fast \"%.*s\", exact \"%.*s\"\n", bits,
                      decimals, static_cast<int>(a), fast, static_cast<int>(b), exact);
          g_failed = true;
          return;
        }
      }
    }
    g_done += stop - begin;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2) g_step = std::strtoull(argv[2], nullptr, 0);
  if (g_step == 0) g_step = 1;
  const std::uint64_t end = argc > 1 ? std::strtoull(argv[1], nullptr, 0) : (1ull << 32) / g_step;
  unsigned threads = std::thread::hardware_concurrency();
  if (threads == 0) threads = 2;
  auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> pool;
  for (unsigned t = 0; t < threads; ++t) pool.emplace_back(Work, end);
  for (int tick = 1; g_done < end && !g_failed; ++tick) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (tick % 150) continue;  // progress every 30 s
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%5.1f%% of %llu patterns, %.0f s\n", 100.0 * static_cast<double>(g_done) / static_cast<double>(end),
                static_cast<unsigned long long>(end), secs);
    std::fflush(stdout);
  }
  for (std::thread& t : pool) t.join();
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (g_failed) return 1;
  std::printf("all %llu float patterns (step %llu) agree at 4 and 5 decimals (%u threads, %.1f s)\n",
              static_cast<unsigned long long>(end), static_cast<unsigned long long>(g_step), threads, secs);
  return 0;
}
