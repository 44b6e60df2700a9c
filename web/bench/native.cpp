// The native in-memory conversion, the yardstick for the page's: the file's
// bytes already in memory, read into a map and written out as a document into
// a buffer, nothing stored. Prints the median of REPS runs in milliseconds.
//   native FILE.bd1 [REPS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "blockdata/blockdata.h"
#include "mqo/mqo.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::ifstream in(argv[1], std::ios::binary);
  std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  int reps = argc > 2 ? std::atoi(argv[2]) : 9;
  std::vector<char> chunk(kMqoWriteChunk);
  std::vector<double> times;
  std::size_t total = 0;
  for (int r = 0; r < reps; ++r) {
    auto t0 = std::chrono::steady_clock::now();
    BlockData data;
    if (ReadBlockDataBytes(file.data(), file.size(), &data) != ReadResult::Ok) return 1;
    MqoCursor cursor{};
    total = 0;
    while (std::size_t n = MqoDocumentNext(data, &cursor, chunk.data(), chunk.size())) total += n;
    ReleaseBlockData(&data);
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  std::sort(times.begin(), times.end());
  std::printf("%.1f %zu\n", times[times.size() / 2], total);
}
