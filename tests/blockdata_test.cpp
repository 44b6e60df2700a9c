#include "blockdata/blockdata.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/bd1.h"

namespace {

TEST(BlockData, NamesAndRecordsAreTakenAsStored) {
  BlockRecord r = Box(1, 2, 3, 4, 5, 6, -1);
  const std::uint32_t odd[] = {0x7f800001u, 0xffc00000u, 0x80000000u, 0x00000001u};
  std::memcpy(&r.vx[0], odd, sizeof odd);
  r.textureIndex[5] = 12;
  r.trailingWord = 0xdeadbeef;
  auto bytes = BuildBd1({"", "wall.bmp", std::string(30, 'a'), std::string(31, 'n'), "ne\x01xt"},
                        {r, Box(0, 0, 0, 1, 1, 1, 3)});
  bytes[0 * 31 + 1] = 'x';  // after a name's NUL: no meaning
  bytes[1 * 31 + 9] = 'y';
  bytes.insert(bytes.end(), {1, 2, 3, 4, 5});  // after the last record: ignored
  BlockData data;
  ASSERT_EQ(ReadBlockDataBytes(bytes.data(), bytes.size(), &data), ReadResult::Ok);
  EXPECT_STREQ(data.textureNames[0], "");
  EXPECT_STREQ(data.textureNames[1], "wall.bmp");
  EXPECT_EQ(data.textureNames[2], std::string(30, 'a'));
  EXPECT_EQ(data.textureNames[3], std::string(31, 'n'));  // no NUL: the whole field
  EXPECT_STREQ(data.textureNames[4], "ne\x01xt");
  ASSERT_EQ(data.count, 2);
  EXPECT_EQ(std::memcmp(&data.blocks[0], &r, sizeof r), 0);
  EXPECT_EQ(data.blocks[1].textureIndex[0], 3);
  ReleaseBlockData(&data);
}

// Both readers give the same verdict, and hold nothing after a failure.
TEST(BlockData, VerdictsFromBytesAndFromFile) {
  auto full = BuildBd1({"a"}, {Box(0, 0, 0, 1, 1, 1, 0), Box(1, 1, 1, 2, 2, 2, 0)});
  struct Case { std::vector<unsigned char> bytes; ReadResult verdict; };
  std::vector<Case> cases = {{BuildBd1({}, {}), ReadResult::Ok},
                             {BuildBd1({}, {}, -1), ReadResult::NegativeCount},
                             {BuildBd1({}, {}, -32768), ReadResult::NegativeCount}};
  for (std::size_t size : {0, 100, 310, 311, 312, 312 + 316, 2 * 316 + 311})
    cases.push_back({{full.begin(), full.begin() + static_cast<long>(size)}, ReadResult::Truncated});
  const std::string path = TempDir() + "/map.bd1";
  for (const Case& c : cases) {
    WriteFileBytes(path, c.bytes);
    for (bool fromFile : {false, true}) {
      BlockData data;
      std::memset(&data, 0xff, sizeof data);  // whatever the caller's record held
      ReadResult verdict = fromFile ? ReadBlockDataFile(path.c_str(), &data)
                                    : ReadBlockDataBytes(c.bytes.data(), c.bytes.size(), &data);
      EXPECT_EQ(verdict, c.verdict) << c.bytes.size() << " bytes, from file " << fromFile;
      EXPECT_EQ(data.count, 0);
      EXPECT_EQ(data.blocks, nullptr);
    }
  }
  BlockData data;
  std::memset(&data, 0xff, sizeof data);
  EXPECT_EQ(ReadBlockDataFile((path + ".missing").c_str(), &data), ReadResult::OpenFailed);
  EXPECT_EQ(data.blocks, nullptr);
}

}  // namespace
