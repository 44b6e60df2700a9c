#include "mqo/mqo.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <cstring>
#include <filesystem>

#include "mqo/output_file.h"
#include "tests/support/bd1.h"

namespace fs = std::filesystem;

std::vector<std::string> g_shown;
void ShowError(const char* text) { g_shown.push_back(text); }

namespace {

std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::string Material(const std::string& shown, const std::string& tex) {
  return "\t\"" + shown + "\" shader(3) col(1.000 1.000 1.000 1.000) dif(0.900) amb(0.400) emi(0.100) "
         "spc(0.000) power(5.00) tex(\"" + tex + "\")";
}

std::string DocumentOf(const std::vector<unsigned char>& bytes, std::size_t chunk = 1 << 16) {
  BlockData data;
  EXPECT_EQ(ReadBlockDataBytes(bytes.data(), bytes.size(), &data), ReadResult::Ok);
  std::string doc;
  std::vector<char> buffer(chunk);
  MqoCursor cursor{};
  while (std::size_t n = MqoDocumentNext(data, &cursor, buffer.data(), buffer.size())) doc.append(buffer.data(), n);
  ReleaseBlockData(&data);
  return doc;
}

const std::string kHead = Lines({"Metasequoia Document", "Format Text Ver 1.0", "", "Material 10 {"});
const std::string kObject = Lines({"}", "", "Object \"map\" {", "\tvisible 15", "\tlocking 0", "\tshading 1",
                                   "\tfacet 0", "\tcolor 0.898 0.498 0.698", "\tcolor_type 0"});

TEST(MqoDocument, WorkedExampleAndEmptyMapByteForByte) {
  const std::string uv = " UV(0.00000 0.00000 1.00000 0.00000 1.00000 1.00000 0.00000 1.00000)";
  std::string expected = kHead + Lines({Material("wall.bmp", "wall.bmp"), Material("floor.bmp", "floor.bmp")});
  std::string empty = kHead + Lines({Material("empty", ""), Material("empty", "")});
  for (std::string* doc : {&expected, &empty})
    for (int i = 0; i < 8; ++i) *doc += Lines({Material("empty", "")});
  empty += kObject + Lines({"\tvertex 0 {", "\t}", "\tface 0 {", "\t}", "}", ""}) + "Eof";
  expected += kObject + Lines({"\tvertex 8 {", "\t\t0.0000 1.0000 0.0000", "\t\t-2.0000 1.0000 0.0000",
                               "\t\t-2.0000 1.0000 2.0000", "\t\t0.0000 1.0000 2.0000", "\t\t0.0000 0.0000 0.0000",
                               "\t\t-2.0000 0.0000 0.0000", "\t\t-2.0000 0.0000 2.0000", "\t\t0.0000 0.0000 2.0000",
                               "\t}", "\tface 6 {", "\t\t4 V(3 2 1 0) M(0)" + uv, "\t\t4 V(4 5 6 7) M(0)" + uv,
                               "\t\t4 V(0 1 5 4) M(1)" + uv, "\t\t4 V(1 2 6 5) M(1)" + uv,
                               "\t\t4 V(2 3 7 6) M(1)" + uv, "\t\t4 V(3 0 4 7) M(1)" + uv, "\t}", "}", ""}) + "Eof";
  EXPECT_EQ(DocumentOf(WorkedExample()), expected);
  EXPECT_EQ(DocumentOf(WorkedExample(), kMqoMinChunk), expected);
  EXPECT_EQ(DocumentOf(BuildBd1({}, {})), empty);
}

TEST(MqoDocument, NamesAreCopiedUnchangedButForLineEnds) {
  const std::pair<std::string, std::string> names[] = {
      {"", Material("empty", "")}, {"empty", Material("empty", "empty")},
      {std::string(30, 'x'), Material(std::string(30, 'x'), std::string(30, 'x'))},
      {std::string(31, 'u'), Material(std::string(31, 'u'), std::string(31, 'u'))},
      {"a\r\nb", Material("a\r\r\nb", "a\r\r\nb")}, {"line\nfeed", Material("line\r\nfeed", "line\r\nfeed")},
      {"q\"uote\"", Material("q\"uote\"", "q\"uote\"")}, {"\xe6\x9c\xa8.bmp", Material("\xe6\x9c\xa8.bmp", "\xe6\x9c\xa8.bmp")},
      {"\n\n", Material("\r\n\r\n", "\r\n\r\n")}};
  TextureNames raw;
  for (std::size_t i = 0; i < std::size(names); ++i) raw[i] = names[i].first;
  std::string doc = DocumentOf(BuildBd1(raw, {}));
  for (const auto& [name, line] : names) EXPECT_NE(doc.find(line + "\r\n"), std::string::npos) << name;
  for (std::size_t i = 1; i < doc.size(); ++i) ASSERT_TRUE(doc[i] != '\n' || doc[i - 1] == '\r') << i;
}

TEST(MqoDocument, NumbersKeepTheirBitsAndOrder) {
  BlockRecord r = Box(0, 0, 0, 1, 1, 1, 0);
  const std::int32_t textures[6] = {-1, 12, 2147483647, -2147483647 - 1, 9, 0};
  std::memcpy(r.textureIndex, textures, sizeof textures);
  for (int k = 0; k < 4; ++k) {
    r.u[2][k] = 0.125f * static_cast<float>(k + 1);
    r.v[2][k] = -0.015625f * static_cast<float>(k + 1);
  }
  // Mirrored: -3.5 -> 3.5, -inf -> inf, the indefinite NaN -> a positive quiet
  // NaN; the other axes pass NaNs unchanged.
  const std::uint32_t nans[3] = {0xffc00000u, 0x7f800001u, 0xff800000u};
  r.vx[0] = -3.5f;
  std::memcpy(&r.vx[1], &nans[2], 4);
  std::memcpy(&r.vx[2], &nans[0], 4);
  std::memcpy(&r.vy[2], &nans[1], 4);
  std::memcpy(&r.vz[2], &nans[0], 4);
  std::vector<BlockRecord> blocks(kMaxBlockCount, Box(0, 0, 0, 1, 1, 1, 0));
  blocks.back() = r;
  std::vector<unsigned char> bytes = BuildBd1({}, blocks);
  std::string doc = DocumentOf(bytes);
  for (const char* text : {"\tvertex 262136 {\r\n", "\tface 196602 {\r\n",
                           "\r\n\t\t3.5000 1.0000 0.0000\r\n\t\t1.#INF 1.0000 0.0000\r\n\t\t1.#QNAN 1.#SNAN -1.#IND\r\n",
                           // The last block's vertices are 8 x 32766 = 262128 onwards.
                           "\t\t4 V(262131 262130 262129 262128) M(-1) UV(", "\t\t4 V(262132 262133 262134 262135) M(12) UV(",
                           "\t\t4 V(262128 262129 262133 262132) M(2147483647) UV(0.12500 -0.01563 0.25000 "
                           "-0.03125 0.37500 -0.04688 0.50000 -0.06250)\r\n",
                           ") M(-2147483648) UV(", "\t}\r\n}\r\n\r\nEof"})
    EXPECT_NE(doc.find(text), std::string::npos) << text;
  EXPECT_EQ(DocumentOf(bytes, kMqoMinChunk), doc);
}

// What reaches the disk, and what is left alone. Writes that fail half way
// and memory that runs out are the command-line test's, which injects them.
class MqoConversion : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(dir);
    WriteFileBytes(Path("in.bd1"), map);
    g_shown.clear();
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string Path(const std::string& name) const { return dir + "/" + name; }
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  // One conversion; the messages it showed.
  std::vector<std::string> Convert(const std::string& in, const std::string& out) {
    g_shown.clear();
    ConvertBlockDataToMqo(in.c_str(), out.c_str());
    return g_shown;
  }

  std::string dir = TempDir() + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::vector<unsigned char> map = WorkedExample();
  std::string doc = DocumentOf(map);
  std::vector<std::string> none;
};

TEST_F(MqoConversion, WritesTheDocumentBesideNothingElse) {
  // A name near the longest a folder entry may have leaves little room beside
  // it for the temporary file's (Windows counts the whole path instead).
  const std::size_t longest = kOutputPathMax > 260 ? 250 : 100;
  for (const std::string& out : {Path("out.mqo"), Path(std::string(longest, 'n') + ".mqo"), Path("in.bd1")}) {
    EXPECT_EQ(Convert(Path("in.bd1"), out), none) << out;
    EXPECT_EQ(ReadFileBytes(out), doc) << out;
    fs::remove(out);
    WriteFileBytes(Path("in.bd1"), map);
    EXPECT_EQ(Listing(), std::vector<std::string>{"in.bd1"});
  }
}

// Each failure shows its one message, and the folder is left as it was.
TEST_F(MqoConversion, FailuresShowTheirMessageAndTouchNothing) {
  WriteFileBytes(Path("old.mqo"), {'o', 'l', 'd'});
  WriteFileBytes(Path("short.bd1"), {map.begin(), map.end() - 1});
  WriteFileBytes(Path("negative.bd1"), BuildBd1({}, {}, -1));
  fs::create_directory(Path("adir"));
  const std::string bd = "Failed: open file (bd)", read = "Failed: read file (bd)", mqo = "Failed: open file (mqo)";
  const struct { std::string in, out, message; } cases[] = {
      {"missing.bd1", "old.mqo", bd}, {"missing.bd1", "new.mqo", bd}, {"short.bd1", "old.mqo", read},
      {"short.bd1", "new.mqo", read}, {"negative.bd1", "old.mqo", read}, {"negative.bd1", "new.mqo", read},
      {"in.bd1", "nodir/out.mqo", mqo}, {"in.bd1", "adir", mqo}, {"in.bd1", "in.bd1/x.mqo", mqo},
      {"in.bd1", std::string(300, 'l') + ".mqo", mqo}, {"in.bd1", std::string(10000, 'l'), mqo}};
  for (const auto& c : cases)
    EXPECT_EQ(Convert(Path(c.in), Path(c.out)), std::vector<std::string>{c.message}) << c.in << " " << c.out.size();
  EXPECT_EQ(Listing(), (std::vector<std::string>{"adir", "in.bd1", "negative.bd1", "old.mqo", "short.bd1"}));
  EXPECT_TRUE(fs::is_empty(Path("adir")));
  EXPECT_EQ(ReadFileBytes(Path("old.mqo")), "old");
}

#ifdef _WIN32

TEST_F(MqoConversion, ReadOnlyOrLockedTargetIsAnOpenFailureAndKeepsItsBytes) {
  WriteFileBytes(Path("readonly.mqo"), {'o', 'l', 'd'});
  WriteFileBytes(Path("locked.mqo"), {'o', 'l', 'd'});
  ASSERT_TRUE(SetFileAttributesA(Path("readonly.mqo").c_str(), FILE_ATTRIBUTE_READONLY));
  HANDLE held = CreateFileA(Path("locked.mqo").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  for (const char* name : {"readonly.mqo", "locked.mqo"})
    EXPECT_EQ(Convert(Path("in.bd1"), Path(name)), std::vector<std::string>{"Failed: open file (mqo)"}) << name;
  CloseHandle(held);
  for (const char* name : {"readonly.mqo", "locked.mqo"}) EXPECT_EQ(ReadFileBytes(Path(name)), "old") << name;
  SetFileAttributesA(Path("readonly.mqo").c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(Listing(), (std::vector<std::string>{"in.bd1", "locked.mqo", "readonly.mqo"}));
}

#else  // POSIX

TEST_F(MqoConversion, NewFilesFollowTheUmaskAndReplacedOnesKeepTheirMode) {
  WriteFileBytes(Path("real.mqo"), {'o', 'l', 'd'});
  ASSERT_EQ(chmod(Path("real.mqo").c_str(), 0640), 0);
  ASSERT_EQ(symlink("real.mqo", Path("link.mqo").c_str()), 0);
  const mode_t saved = umask(022);
  const std::pair<std::string, mode_t> cases[] = {{"a.mqo", 0644}, {"b.mqo", 0644}, {"link.mqo", 0640}};
  for (const auto& [name, mode] : cases) {
    EXPECT_EQ(Convert(Path("in.bd1"), Path(name)), none);
    struct stat st;
    ASSERT_EQ(stat(Path(name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode) << name;
  }
  umask(saved);
  EXPECT_TRUE(fs::is_symlink(Path("link.mqo")));
  EXPECT_EQ(ReadFileBytes(Path("real.mqo")), doc);
}

#endif  // POSIX

}  // namespace
