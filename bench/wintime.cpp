// A plain timing program that builds for Windows as well as for Linux, so the
// 32-bit Windows build can be timed under Wine beside the native one with the
// same input and the same measurements: the whole conversion, the floor (one
// read, one write, flush to disk, close, rename) and the formatter per
// number. Prints the best and the median of the runs, wall and CPU time.
//
//   wintime [DIR] [RUNS] [numbers]
// Files go in DIR (default "."), RUNS per figure; "numbers" times the
// formatter only (for builds run under an emulator, where file work means
// nothing).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <ctime>
#endif

#include "bench/naive.h"
#include "bench/realistic_map.h"
#include "mqo/mqo.h"
#include "numtext/numtext.h"

void ShowError(const char* text) { std::fprintf(stderr, "wintime: %s\n", text); }

namespace {

double CpuSeconds() {
#ifdef _WIN32
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto ticks = [](FILETIME t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return static_cast<double>(ticks(kernel) + ticks(user)) * 1e-7;
#else
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
#endif
}

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Sample {
  double wall, cpu;
};

template <typename F>
Sample Once(F run) {
  double w = WallSeconds(), c = CpuSeconds();
  run();
  return {WallSeconds() - w, CpuSeconds() - c};
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Numbers per second matter here, so every call's text is folded into one
// sum that the compiler cannot drop.
unsigned FormatAll(const std::vector<std::uint32_t>& values, int decimals, int rounds) {
  char out[FormatFixedBufferSize(5)];
  unsigned sum = 0;
  for (int r = 0; r < rounds; ++r)
    for (std::uint32_t bits : values)
      sum += static_cast<unsigned>(FormatFixedFloatBits(bits, decimals, out)) +
             static_cast<unsigned char>(out[1]);
  return sum;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : ".";
  int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 15;
  const bool files = !(argc > 3 && std::strcmp(argv[3], "numbers") == 0);
  std::string input = dir + "/wintime-map.bd1", output = dir + "/wintime-map.mqo";
  std::string document;
  if (files) {
    WriteFileBytes(input, BuildBd1(RealisticNames(), RealisticBlocks(kMaxBlockCount)));
    ConvertBlockDataToMqo(input.c_str(), output.c_str());
    document = ReadFileBytes(output);
    if (document.empty()) return 1;
  }

  const int rounds = 64;
  const auto coords = CoordinateBits(4096), texcoords = TexCoordBits(4096),
             random = RandomFiniteBits(4096);
  const double numbers = 4096.0 * rounds;
  unsigned sink = 0;
  struct Row {
    const char* name;
    double items;  // per run, for the per-item column
    std::vector<double> wall, cpu;
  };
  Row rows[] = {{"convert (file to file)", kMaxBlockCount, {}, {}},
                {"floor", kMaxBlockCount, {}, {}},
                {"FormatFixed coord4", numbers, {}, {}},
                {"FormatFixed texcoord5", numbers, {}, {}},
                {"FormatFixed random4", numbers, {}, {}}};
  // Interleaved, so that a burst of load from elsewhere hits every row alike.
  for (int r = 0; r < runs; ++r) {
    Sample s[] = {
        Once([&] {
          if (files) ConvertBlockDataToMqo(input.c_str(), output.c_str());
        }),
        Once([&] {
          if (files && !WriteFloor(input.c_str(), output.c_str(), document, true)) std::exit(1);
        }),
        Once([&] { sink += FormatAll(coords, 4, rounds); }),
        Once([&] { sink += FormatAll(texcoords, 5, rounds); }),
        Once([&] { sink += FormatAll(random, 4, rounds); }),
    };
    for (int i = 0; i < 5; ++i) rows[i].wall.push_back(s[i].wall), rows[i].cpu.push_back(s[i].cpu);
  }
  std::printf("%-24s %9s %9s %9s %13s\n", "figure", "best ms", "median ms", "cpu ms",
              "median/item ns");
  for (const Row& row : rows) {
    if (!files && row.items == kMaxBlockCount) continue;
    double median = Median(row.wall);
    std::printf("%-24s %9.2f %9.2f %9.2f %13.2f\n", row.name,
                *std::min_element(row.wall.begin(), row.wall.end()) * 1e3, median * 1e3,
                Median(row.cpu) * 1e3, median * 1e9 / row.items);
  }
  if (files) {
    std::printf("convert / floor (median wall): %.2f\n", Median(rows[0].wall) / Median(rows[1].wall));
    std::printf("document bytes: %zu\n", document.size());
  }
  std::printf("(%u)\n", sink & 1u);
  if (files) {
    std::remove(input.c_str());
    std::remove(output.c_str());
  }
  return 0;
}
