#include "blockdata/blockdata.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/bd1.h"

namespace {

struct Loaded {
  BlockData data{};
  ReadResult result{};
  explicit Loaded(const std::vector<unsigned char>& bytes) {
    result = ReadBlockDataBytes(bytes.data(), bytes.size(), &data);
  }
  ~Loaded() { ReleaseBlockData(&data); }
};

TEST(BlockData, NamesStopAtTheirNulWhateverFollows) {
  TextureNames names{"", "wall.bmp", std::string(30, 'a')};
  auto bytes = BuildBd1(names, {});
  bytes[0 * 31 + 1] = 'x';  // after the first field's NUL: no meaning
  bytes[1 * 31 + 9] = 'y';
  Loaded file(bytes);
  ASSERT_EQ(file.result, ReadResult::Ok);
  EXPECT_STREQ(file.data.textureNames[0], "");
  EXPECT_STREQ(file.data.textureNames[1], "wall.bmp");
  EXPECT_EQ(std::string(file.data.textureNames[2]), std::string(30, 'a'));
}

TEST(BlockData, NameFieldWithoutNulIsAll31Bytes) {
  auto bytes = BuildBd1({std::string(31, 'n'), "next"}, {});
  Loaded file(bytes);
  ASSERT_EQ(file.result, ReadResult::Ok);
  EXPECT_EQ(std::string(file.data.textureNames[0]), std::string(31, 'n'));
  EXPECT_STREQ(file.data.textureNames[1], "next");
}

TEST(BlockData, ZeroCountFileOfExactly312BytesIsComplete) {
  auto bytes = BuildBd1({}, {});
  ASSERT_EQ(bytes.size(), 312u);
  Loaded file(bytes);
  EXPECT_EQ(file.result, ReadResult::Ok);
  EXPECT_EQ(file.data.count, 0);
  EXPECT_EQ(file.data.blocks, nullptr);
}

TEST(BlockData, RecordsAreTakenBitForBitAndTrailingBytesIgnored) {
  BlockRecord r = Box(1, 2, 3, 4, 5, 6, -1);
  const std::uint32_t odd[] = {0x7f800001u, 0xffc00000u, 0x80000000u, 0x00000001u};
  std::memcpy(&r.vx[0], odd, sizeof odd);
  r.textureIndex[5] = 12;
  r.trailingWord = 0xdeadbeef;
  auto bytes = BuildBd1({}, {r, Box(0, 0, 0, 1, 1, 1, 3)});
  bytes.insert(bytes.end(), {1, 2, 3, 4, 5});
  Loaded file(bytes);
  ASSERT_EQ(file.result, ReadResult::Ok);
  ASSERT_EQ(file.data.count, 2);
  EXPECT_EQ(std::memcmp(&file.data.blocks[0], &r, sizeof r), 0);
  EXPECT_EQ(file.data.blocks[0].textureIndex[0], -1);
  EXPECT_EQ(file.data.blocks[1].textureIndex[0], 3);
}

TEST(BlockData, ShortFilesAreTruncatedWherever) {
  auto full = BuildBd1({"a"}, {Box(0, 0, 0, 1, 1, 1, 0), Box(1, 1, 1, 2, 2, 2, 0)});
  for (std::size_t size : std::vector<std::size_t>{0, 100, 310, 311, 312, 312 + 316, full.size() - 1}) {
    std::vector<unsigned char> cut(full.begin(), full.begin() + static_cast<long>(size));
    Loaded file(cut);
    EXPECT_EQ(file.result, ReadResult::Truncated) << "size " << size;
    EXPECT_EQ(file.data.blocks, nullptr);
  }
}

TEST(BlockData, CountIsSignedSoHighBitMeansNegative) {
  for (std::int16_t count : {std::int16_t(-1), std::int16_t(-32768)}) {
    Loaded file(BuildBd1({}, {}, count));
    EXPECT_EQ(file.result, ReadResult::NegativeCount);
    EXPECT_EQ(file.data.blocks, nullptr);
  }
}

TEST(BlockData, LargestCountLoadsFromFile) {
  std::vector<BlockRecord> blocks(kMaxBlockCount, Box(0, 0, 0, 1, 1, 1, 0));
  blocks.back().textureIndex[2] = 7;
  std::string dir = MakeTempDir();
  std::string path = dir + "/big.bd1";
  auto bytes = BuildBd1({}, blocks);
  EXPECT_EQ(bytes[311], 0x7f);
  WriteFileBytes(path, bytes);
  BlockData data;
  ASSERT_EQ(ReadBlockDataFile(path.c_str(), &data), ReadResult::Ok);
  EXPECT_EQ(data.count, 32767);
  EXPECT_EQ(data.blocks[32766].textureIndex[2], 7);
  ReleaseBlockData(&data);
  RemoveTree(dir);
}

TEST(BlockData, FileReaderAgreesWithBytesReaderOnFailures) {
  std::string dir = MakeTempDir();
  BlockData data;
  EXPECT_EQ(ReadBlockDataFile((dir + "/missing.bd1").c_str(), &data), ReadResult::OpenFailed);
  auto bytes = BuildBd1({}, {Box(0, 0, 0, 1, 1, 1, 0)});
  bytes.pop_back();
  WriteFileBytes(dir + "/short.bd1", bytes);
  EXPECT_EQ(ReadBlockDataFile((dir + "/short.bd1").c_str(), &data), ReadResult::Truncated);
  EXPECT_EQ(data.blocks, nullptr);
  WriteFileBytes(dir + "/neg.bd1", BuildBd1({}, {}, -5));
  EXPECT_EQ(ReadBlockDataFile((dir + "/neg.bd1").c_str(), &data), ReadResult::NegativeCount);
  RemoveTree(dir);
}

}  // namespace
