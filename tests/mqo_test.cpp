#include "mqo/mqo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "tests/support/bd1.h"
#include "tests/support/reference_document.h"

namespace fs = std::filesystem;

namespace {

// Every committed map, and the largest a file may hold, read from a file and
// from its bytes: both readers give its verdict and hold nothing after a
// failure; what they read is written, in the smallest pieces and in the
// conversion's, as the reference document, which is an example's committed one.
TEST(Maps, ReadersAndWriterAgreeWithTheReference) {
  Fixtures maps = CommittedMaps();
  const std::size_t committed = maps.size();
  // The largest map's numbers are many and varied (whole, tiny, long, texts
  // of 4 and 5 decimals alike), so that the numbers the writer keeps meet
  // others in their places; the later half's corners are nudged apart, so
  // that the writer stops keeping their numbers.
  std::vector<BlockRecord> largest;
  for (int b = 0; b < kMaxBlockCount; ++b) {
    const float x = static_cast<float>(b % 9001 - 4500) / 8, y = static_cast<float>(b) / 3;
    largest.push_back(Box(x, -3 * x, y, x + 1, 12000.5f - y, 1e-5f * static_cast<float>(b % 7), b % 12 - 1));
    for (int c = 0; c < 8 && b > kMaxBlockCount / 2; ++c)
      for (float* axis : {largest.back().vx, largest.back().vy, largest.back().vz}) axis[c] += static_cast<float>(c) / 64;
    for (int k = 0; k < 24; ++k)
      largest.back().u[k / 4][k % 4] = static_cast<float>((b * 7 + k) % 3001) / 64 - 20, largest.back().v[k / 4][k % 4] = -y / 1024;
  }
  maps.emplace_back("largest", BuildBd1({}, largest));
  // One byte short of its last block: refused, not read past its end.
  maps.emplace_back("cube cut by a byte", std::vector<unsigned char>(maps[0].second.begin(), maps[0].second.end() - 1));
  for (std::size_t i = 0; i < maps.size(); ++i) {
    const auto& [name, bytes] = maps[i];
    const std::string path = Scratch() + "map.bd1", source = BLOCKMQO_SOURCE_DIR "/" + name;
    ASSERT_TRUE(WriteFileBytes(path, bytes)) << path;
    EXPECT_TRUE(i >= committed || ReadFileBytes(source + ".bd1") == ReadFileBytes(path))
        << source << ": rerun make_fixtures";
    const ReadResult verdict = ExpectedVerdict(bytes.data(), bytes.size());
    if (bytes.size() >= kBlockDataHeaderSize) {  // the facts that explain a failed read
      const int stated = StoredBlockCount(bytes.data());
      EXPECT_EQ(stated < 0 ? ReadResult::NegativeCount : bytes.size() < BlockDataFileSize(stated) ? ReadResult::Truncated
                                                                                                  : ReadResult::Ok, verdict);
    }
    BlockData read[2];
    std::memset(read, 0xff, sizeof read);  // whatever the caller's records held
    EXPECT_EQ(ReadBlockDataFile(path.c_str(), &read[0]), verdict) << source;
    EXPECT_EQ(ReadBlockDataBytes(bytes.data(), bytes.size(), &read[1]), verdict) << source;
    const std::string reference = verdict == ReadResult::Ok ? ReferenceDocument(bytes.data()) : "";
    for (BlockData& data : read) {
      if (verdict == ReadResult::Ok) {
        EXPECT_TRUE(WrittenDocument(data, &data == read ? kMqoMinChunk : kMqoWriteChunk) == reference) << source;
      } else {
        EXPECT_TRUE(data.count == 0 && data.blocks == nullptr && data.textureNames[0][0] == '\0') << source;
      }
      ReleaseBlockData(&data);
    }
    EXPECT_TRUE(!name.starts_with("examples/") || ReadFileBytes(source + ".mqo") == reference) << source << ".mqo";
  }
}

}  // namespace
