#include "mqo/mqo.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>

#include "mqo/output_file.h"
#include "tests/support/bd1.h"
#include "tests/support/reference_document.h"

namespace fs = std::filesystem;

std::vector<std::string> g_shown;
void ShowError(const char* text) { g_shown.push_back(text); }

namespace {

// A folder of this process's own under GoogleTest's, removed at exit: test
// runs from several build trees may share the machine.
const std::string& Scratch() {
  static const struct Dir {
    std::string path = testing::TempDir() + "blockmqo-" + std::to_string(std::random_device{}()) + "/";
    Dir() { fs::create_directories(path); }
    ~Dir() { std::error_code ec; fs::remove_all(path, ec); }
  } dir;
  return dir.path;
}

// Every committed map, and the largest a file may hold, read from a file and
// from its bytes: both readers give its verdict and hold nothing after a
// failure; what they read is written, in the smallest pieces and in the
// conversion's, as the reference document, which is an example's committed one.
TEST(Maps, ReadersAndWriterAgreeWithTheReference) {
  Fixtures maps = CommittedMaps();
  // The largest map's numbers are many and varied (whole, tiny, long, texts
  // of 4 and 5 decimals alike), so that the numbers the writer keeps meet
  // others in their places.
  std::vector<BlockRecord> largest;
  for (int b = 0; b < kMaxBlockCount; ++b) {
    const float x = static_cast<float>(b % 9001 - 4500) / 8, y = static_cast<float>(b) / 3;
    largest.push_back(Box(x, -3 * x, y, x + 1, 12000.5f - y, 1e-5f * static_cast<float>(b % 7), b % 12 - 1));
    for (int k = 0; k < 24; ++k)
      largest.back().u[k / 4][k % 4] = static_cast<float>((b * 7 + k) % 3001) / 64 - 20, largest.back().v[k / 4][k % 4] = -y / 1024;
  }
  maps.emplace_back("largest", BuildBd1({}, largest));
  for (const auto& [name, bytes] : maps) {
    const std::string path = Scratch() + "map.bd1", source = BLOCKMQO_SOURCE_DIR "/" + name;
    ASSERT_TRUE(WriteFileBytes(path, bytes)) << path;
    EXPECT_TRUE(name == "largest" || ReadFileBytes(source + ".bd1") == ReadFileBytes(path))
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

// Each conversion shows its one message or none; the document reaches its
// target whole, and nothing else is left in the folder. A missing or cut map,
// a missing folder and a folder as the target are the fault table's; writes
// that fail half way and memory that runs out, the command-line test's.
TEST(MqoConversion, ShowsItsMessageAndLeavesOnlyTheTarget) {
  const std::string dir = Scratch() + "convert/", read = "Failed: read file (bd)", mqo = "Failed: open file (mqo)";
  fs::create_directories(dir);
  const std::vector<unsigned char> map = WorkedExample();
  WriteFileBytes(dir + "negative.bd1", BuildBd1({"n"}, {}, -1));
  WriteFileBytes(dir + "old.mqo", {'o', 'l', 'd'});
  // A name near the longest a folder entry may have leaves little room beside
  // it for the temporary file's (Windows counts the whole path instead).
  const std::string longest = std::string(kOutputPathMax > 260 ? 250 : 100, 'n') + ".mqo";
  const struct { std::string in, out, message; } cases[] = {
      {"in.bd1", "out.mqo", ""}, {"in.bd1", longest, ""}, {"in.bd1", "in.bd1", ""},
      {"negative.bd1", "old.mqo", read}, {"negative.bd1", "new.mqo", read}, {"in.bd1", "in.bd1/x.mqo", mqo},
      {"in.bd1", std::string(300, 'l') + ".mqo", mqo}, {"in.bd1", std::string(10000, 'l'), mqo}};
  for (const auto& c : cases) {
    WriteFileBytes(dir + "in.bd1", map);
    g_shown.clear();
    ConvertBlockDataToMqo((dir + c.in).c_str(), (dir + c.out).c_str());
    EXPECT_EQ(g_shown, c.message.empty() ? std::vector<std::string>{} : std::vector{c.message}) << c.out.size();
    if (c.message.empty()) {
      EXPECT_EQ(ReadFileBytes(dir + c.out), ReferenceDocument(map.data())) << c.out.size();
      if (c.out != c.in) fs::remove(dir + c.out);
    }
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"in.bd1", "negative.bd1", "old.mqo"})) << c.out.size();
  }
  EXPECT_EQ(ReadFileBytes(dir + "old.mqo"), "old");
}

#ifndef _WIN32
// A new document follows the umask; one that replaces a file, even through a
// link, keeps that file's mode, and the link stays a link.
TEST(MqoConversion, NewFilesFollowTheUmaskAndReplacedOnesKeepTheirMode) {
  const std::string dir = Scratch() + "mode/";
  fs::create_directories(dir);
  WriteFileBytes(dir + "in.bd1", WorkedExample());
  WriteFileBytes(dir + "real.mqo", {'o'});
  fs::permissions(dir + "real.mqo", fs::perms(0640));
  fs::create_symlink("real.mqo", dir + "link.mqo");
  fs::create_symlink("made.mqo", dir + "dangling.mqo");
  const mode_t saved = umask(022);
  const std::pair<std::string, int> targets[] = {{"new.mqo", 0644}, {"link.mqo", 0640}, {"dangling.mqo", 0644}};
  for (const auto& [name, mode] : targets) {
    ConvertBlockDataToMqo((dir + "in.bd1").c_str(), (dir + name).c_str());
    EXPECT_EQ(fs::status(dir + name).permissions(), fs::perms(mode)) << name;
  }
  EXPECT_EQ(umask(saved), mode_t{022});  // the process's own, as it was
  for (const char* link : {"link.mqo", "dangling.mqo"}) EXPECT_TRUE(fs::is_symlink(dir + link)) << link;
  for (const char* real : {"real.mqo", "made.mqo"})
    EXPECT_EQ(ReadFileBytes(dir + real), ReferenceDocument(WorkedExample().data())) << real;
}
#endif

}  // namespace
