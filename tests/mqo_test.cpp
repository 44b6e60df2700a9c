#include "mqo/mqo.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "tests/support/bd1.h"
#include "tests/support/show_error_recorder.h"

namespace {

std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

const std::string kFixedMaterial =
    "\" shader(3) col(1.000 1.000 1.000 1.000) dif(0.900) amb(0.400) emi(0.100) "
    "spc(0.000) power(5.00) tex(\"";

std::string Material(const std::string& shown, const std::string& tex) {
  return "\t\"" + shown + kFixedMaterial + tex + "\")";
}

std::string Document(const BlockData& data, std::size_t chunk = 1 << 16) {
  std::string doc;
  std::vector<char> buffer(chunk);
  MqoCursor cursor{};
  while (std::size_t n = MqoDocumentNext(data, &cursor, buffer.data(), buffer.size()))
    doc.append(buffer.data(), n);
  return doc;
}

std::string DocumentOf(const std::vector<unsigned char>& bytes) {
  BlockData data;
  EXPECT_EQ(ReadBlockDataBytes(bytes.data(), bytes.size(), &data), ReadResult::Ok);
  std::string doc = Document(data);
  ReleaseBlockData(&data);
  return doc;
}

const std::string kEmptyMaterial = Material("empty", "");
const std::string kHead = Lines({"Metasequoia Document", "Format Text Ver 1.0", "", "Material 10 {"});
const std::string kObject =
    Lines({"}", "", "Object \"map\" {", "\tvisible 15", "\tlocking 0", "\tshading 1", "\tfacet 0",
           "\tcolor 0.898 0.498 0.698", "\tcolor_type 0"});

TEST(MqoDocument, WorkedExampleByteForByte) {
  const std::string uv = " UV(0.00000 0.00000 1.00000 0.00000 1.00000 1.00000 0.00000 1.00000)";
  std::string expected =
      kHead + Lines({Material("wall.bmp", "wall.bmp"), Material("floor.bmp", "floor.bmp")});
  for (int i = 0; i < 8; ++i) expected += Lines({kEmptyMaterial});
  expected += kObject;
  expected += Lines({"\tvertex 8 {", "\t\t0.0000 1.0000 0.0000", "\t\t-2.0000 1.0000 0.0000",
                     "\t\t-2.0000 1.0000 2.0000", "\t\t0.0000 1.0000 2.0000",
                     "\t\t0.0000 0.0000 0.0000", "\t\t-2.0000 0.0000 0.0000",
                     "\t\t-2.0000 0.0000 2.0000", "\t\t0.0000 0.0000 2.0000", "\t}", "\tface 6 {",
                     "\t\t4 V(3 2 1 0) M(0)" + uv, "\t\t4 V(4 5 6 7) M(0)" + uv,
                     "\t\t4 V(0 1 5 4) M(1)" + uv, "\t\t4 V(1 2 6 5) M(1)" + uv,
                     "\t\t4 V(2 3 7 6) M(1)" + uv, "\t\t4 V(3 0 4 7) M(1)" + uv, "\t}", "}", ""});
  expected += "Eof";
  EXPECT_EQ(DocumentOf(BuildBd1(WorkedExampleNames(), {WorkedExampleBlock()})), expected);
}

TEST(MqoDocument, ZeroBlocksGiveEmptyChunks) {
  std::string expected = kHead;
  for (int i = 0; i < 10; ++i) expected += Lines({kEmptyMaterial});
  expected += kObject + Lines({"\tvertex 0 {", "\t}", "\tface 0 {", "\t}", "}", ""}) + "Eof";
  EXPECT_EQ(DocumentOf(BuildBd1({}, {})), expected);
}

TEST(MqoDocument, NamesAreCopiedUnchangedButForLineEnds) {
  std::string thirty(30, 'x');
  std::string unterminated = "abcdefghijklmnopqrstuvwxyz01234";  // 31 bytes, no NUL
  std::string doc = DocumentOf(BuildBd1(
      {"empty", thirty, unterminated, "a\r\nb", "q\"uote\"", "line\nfeed", "\xe6\x9c\xa8.bmp"},
      {}));
  EXPECT_NE(doc.find(Material("empty", "empty") + "\r\n"), std::string::npos);
  EXPECT_NE(doc.find(Material(thirty, thirty) + "\r\n"), std::string::npos);
  EXPECT_NE(doc.find(Material(unterminated, unterminated) + "\r\n"), std::string::npos);
  EXPECT_NE(doc.find(Material("a\r\r\nb", "a\r\r\nb") + "\r\n"), std::string::npos);
  EXPECT_NE(doc.find(Material("q\"uote\"", "q\"uote\"") + "\r\n"), std::string::npos);
  EXPECT_NE(doc.find(Material("line\r\nfeed", "line\r\nfeed") + "\r\n"), std::string::npos);
  EXPECT_NE(doc.find(Material("\xe6\x9c\xa8.bmp", "\xe6\x9c\xa8.bmp") + "\r\n"), std::string::npos);
}

TEST(MqoDocument, EveryLineFeedFollowsACarriageReturn) {
  BlockRecord r = Box(-1.5f, 0.125f, 3, 2, 4, 5.75f, 0);
  std::string doc = DocumentOf(BuildBd1({"n\n\n", "\n"}, {r, r}));
  ASSERT_GE(doc.size(), 10u);
  for (std::size_t i = 0; i < doc.size(); ++i) {
    if (doc[i] == '\n') {
      ASSERT_EQ(doc[i - 1], '\r') << "at byte " << i;
    }
  }
  EXPECT_EQ(doc.substr(doc.size() - 12), "\t}\r\n}\r\n\r\nEof");
}

TEST(MqoDocument, TextureNumbersAndNumberingPassThrough) {
  BlockRecord r = Box(0, 0, 0, 1, 1, 1, 0);
  const std::int32_t textures[6] = {-1, 12, 2147483647, -2147483647 - 1, 9, 0};
  std::memcpy(r.textureIndex, textures, sizeof textures);
  std::vector<BlockRecord> blocks(kMaxBlockCount, Box(0, 0, 0, 1, 1, 1, 0));
  blocks.back() = r;
  std::string doc = DocumentOf(BuildBd1({}, blocks));
  EXPECT_NE(doc.find("\tvertex 262136 {\r\n"), std::string::npos);
  EXPECT_NE(doc.find("\tface 196602 {\r\n"), std::string::npos);
  // The last block's vertices are 8 x 32766 = 262128 onwards.
  EXPECT_NE(doc.find("\t\t4 V(262131 262130 262129 262128) M(-1) UV("), std::string::npos);
  EXPECT_NE(doc.find("\t\t4 V(262132 262133 262134 262135) M(12) UV("), std::string::npos);
  EXPECT_NE(doc.find(") M(2147483647) UV("), std::string::npos);
  EXPECT_NE(doc.find(") M(-2147483648) UV("), std::string::npos);
}

TEST(MqoDocument, UvSlotsKeepRecordOrderAndFirstAxisIsMirrored) {
  BlockRecord r = Box(0, 0, 0, 1, 1, 1, 0);
  for (int k = 0; k < 4; ++k) {
    r.u[2][k] = 0.125f * static_cast<float>(k + 1);
    r.v[2][k] = -0.015625f * static_cast<float>(k + 1);
  }
  r.vx[0] = -3.5f;
  r.vy[0] = -0.25f;
  std::string doc = DocumentOf(BuildBd1({}, {r}));
  EXPECT_NE(doc.find("\tvertex 8 {\r\n\t\t3.5000 -0.2500 0.0000\r\n"), std::string::npos);
  EXPECT_NE(doc.find("\t\t4 V(0 1 5 4) M(0) UV(0.12500 -0.01563 0.25000 -0.03125 0.37500 "
                     "-0.04688 0.50000 -0.06250)\r\n"),
            std::string::npos);
}

TEST(MqoDocument, NonFiniteCoordinatesKeepTheirBitsThroughMirroring) {
  BlockRecord r = Box(0, 0, 0, 1, 1, 1, 0);
  const std::uint32_t bits[3] = {0xffc00000u, 0x7f800001u, 0xff800000u};
  std::memcpy(&r.vx[0], &bits[0], 4);  // negated: a positive quiet NaN
  std::memcpy(&r.vy[0], &bits[1], 4);  // signalling, passed as is
  std::memcpy(&r.vz[0], &bits[0], 4);  // the indefinite NaN itself
  std::memcpy(&r.vx[1], &bits[2], 4);  // -inf mirrored to +inf
  std::string doc = DocumentOf(BuildBd1({}, {r}));
  EXPECT_NE(doc.find("\t\t1.#QNAN 1.#SNAN -1.#IND\r\n\t\t1.#INF 1.0000 0.0000\r\n"),
            std::string::npos);
}

TEST(MqoDocument, SmallestChunksGiveTheSameBytes) {
  std::vector<BlockRecord> blocks;
  for (int i = 0; i < 50; ++i)
    blocks.push_back(Box(3.4e38f, -1e20f, 0.1f * static_cast<float>(i), 1, 2, 3, i));
  auto bytes = BuildBd1({std::string(31, '\n')}, blocks);
  BlockData data;
  ASSERT_EQ(ReadBlockDataBytes(bytes.data(), bytes.size(), &data), ReadResult::Ok);
  EXPECT_EQ(Document(data, kMqoMinChunk), Document(data));
  ReleaseBlockData(&data);
}

// File-level behaviour: what reaches the disk, and what is left alone.
class MqoConversion : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = MakeTempDir();
    ShownErrors().clear();
  }
  void TearDown() override { RemoveTree(dir); }
  std::string Path(const std::string& name) const { return dir + "/" + name; }
  std::string ExpectedFor(const std::vector<unsigned char>& bytes) const { return DocumentOf(bytes); }
  std::vector<std::string> Shown() const { return ShownErrors(); }

  std::string dir;
  std::vector<unsigned char> map = BuildBd1(WorkedExampleNames(), {WorkedExampleBlock()});
  std::vector<unsigned char> old = {'o', 'l', 'd'};
};

TEST_F(MqoConversion, WritesTheDocumentAndShowsNothing) {
  WriteFileBytes(Path("in.bd1"), map);
  ConvertBlockDataToMqo(Path("in.bd1").c_str(), Path("out.mqo").c_str());
  EXPECT_TRUE(Shown().empty());
  EXPECT_EQ(ReadFileBytes(Path("out.mqo")), ExpectedFor(map));
  EXPECT_EQ(ListDir(dir), (std::vector<std::string>{"in.bd1", "out.mqo"}));
}

TEST_F(MqoConversion, SameFileIsReadInFullThenReplaced) {
  WriteFileBytes(Path("level.bd1"), map);
  ConvertBlockDataToMqo(Path("level.bd1").c_str(), Path("level.bd1").c_str());
  EXPECT_TRUE(Shown().empty());
  EXPECT_EQ(ReadFileBytes(Path("level.bd1")), ExpectedFor(map));
}

TEST_F(MqoConversion, UnreadableInputLeavesTargetUntouched) {
  WriteFileBytes(Path("out.mqo"), old);
  auto shortMap = map;
  shortMap.resize(map.size() - 1);
  WriteFileBytes(Path("short.bd1"), shortMap);
  WriteFileBytes(Path("negative.bd1"), BuildBd1({}, {}, -1));
  const std::pair<std::string, std::string> cases[] = {
      {"missing.bd1", "Failed: open file (bd)"},
      {"short.bd1", "Failed: read file (bd)"},
      {"negative.bd1", "Failed: read file (bd)"},
  };
  for (const auto& [input, message] : cases) {
    ShownErrors().clear();
    ConvertBlockDataToMqo(Path(input).c_str(), Path("out.mqo").c_str());
    EXPECT_EQ(Shown(), std::vector<std::string>{message}) << input;
    EXPECT_EQ(ReadFileBytes(Path("out.mqo")), "old") << input;
  }
  ConvertBlockDataToMqo(Path("missing.bd1").c_str(), Path("new.mqo").c_str());
  EXPECT_FALSE(FileExists(Path("new.mqo")));
}

TEST_F(MqoConversion, UnopenableOutputIsReportedBeforeAnythingIsWritten) {
  WriteFileBytes(Path("in.bd1"), map);
  std::filesystem::create_directory(Path("adir"));
  for (const std::string& out : {Path("nodir/out.mqo"), Path("adir"), Path("in.bd1/x.mqo"),
                                 Path(std::string(300, 'l') + ".mqo")}) {
    ShownErrors().clear();
    ConvertBlockDataToMqo(Path("in.bd1").c_str(), out.c_str());
    EXPECT_EQ(Shown(), std::vector<std::string>{"Failed: open file (mqo)"}) << out;
  }
  EXPECT_EQ(ListDir(dir), (std::vector<std::string>{"adir", "in.bd1"}));
  EXPECT_TRUE(ListDir(Path("adir")).empty());
}

#ifdef _WIN32

TEST_F(MqoConversion, ReadOnlyOrLockedTargetIsAnOpenFailureAndKeepsItsBytes) {
  WriteFileBytes(Path("in.bd1"), map);
  WriteFileBytes(Path("readonly.mqo"), old);
  ASSERT_TRUE(SetFileAttributesA(Path("readonly.mqo").c_str(), FILE_ATTRIBUTE_READONLY));
  ConvertBlockDataToMqo(Path("in.bd1").c_str(), Path("readonly.mqo").c_str());
  EXPECT_EQ(Shown(), std::vector<std::string>{"Failed: open file (mqo)"});
  EXPECT_EQ(ReadFileBytes(Path("readonly.mqo")), "old");
  SetFileAttributesA(Path("readonly.mqo").c_str(), FILE_ATTRIBUTE_NORMAL);

  WriteFileBytes(Path("locked.mqo"), old);
  HANDLE held = CreateFileA(Path("locked.mqo").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ShownErrors().clear();
  ConvertBlockDataToMqo(Path("in.bd1").c_str(), Path("locked.mqo").c_str());
  CloseHandle(held);
  EXPECT_EQ(Shown(), std::vector<std::string>{"Failed: open file (mqo)"});
  EXPECT_EQ(ReadFileBytes(Path("locked.mqo")), "old");
  EXPECT_EQ(ListDir(dir), (std::vector<std::string>{"in.bd1", "locked.mqo", "readonly.mqo"}));
}

TEST_F(MqoConversion, ExistingTargetIsReplacedWhole) {
  WriteFileBytes(Path("in.bd1"), map);
  WriteFileBytes(Path("out.mqo"), std::vector<unsigned char>(100000, 'x'));
  ConvertBlockDataToMqo(Path("in.bd1").c_str(), Path("out.mqo").c_str());
  EXPECT_TRUE(Shown().empty());
  EXPECT_EQ(ReadFileBytes(Path("out.mqo")), ExpectedFor(map));
  EXPECT_EQ(ListDir(dir), (std::vector<std::string>{"in.bd1", "out.mqo"}));
}

#else  // POSIX

TEST_F(MqoConversion, ReplacingKeepsPermissionsAndFollowsLinks) {
  WriteFileBytes(Path("in.bd1"), map);
  WriteFileBytes(Path("real.mqo"), old);
  ASSERT_EQ(chmod(Path("real.mqo").c_str(), 0640), 0);
  ASSERT_EQ(symlink("real.mqo", Path("link.mqo").c_str()), 0);
  ConvertBlockDataToMqo(Path("in.bd1").c_str(), Path("link.mqo").c_str());
  EXPECT_TRUE(Shown().empty());
  EXPECT_TRUE(std::filesystem::is_symlink(Path("link.mqo")));
  EXPECT_EQ(ReadFileBytes(Path("real.mqo")), ExpectedFor(map));
  struct stat st;
  ASSERT_EQ(stat(Path("real.mqo").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(MqoConversion, FullDeviceIsAWriteFailure) {
  WriteFileBytes(Path("in.bd1"), map);
  ConvertBlockDataToMqo(Path("in.bd1").c_str(), "/dev/full");
  EXPECT_EQ(Shown(), std::vector<std::string>{"Failed: write file (mqo)"});
}

// The address space the process maps now, in bytes.
rlim_t MappedBytes() {
  long pages = 0;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm && std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
  if (statm) std::fclose(statm);
  return static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
}

// Runs one conversion in a child process under a resource limit, with SIGXFSZ
// ignored so writes past a file size limit fail instead of killing it. For
// RLIMIT_AS, `limit` is the room left above what the child already maps.
// Returns the texts the child showed, joined by newlines.
std::string ConvertUnderLimit(const std::string& in, const std::string& out, int resource,
                              rlim_t limit) {
  int pipefd[2];
  if (pipe(pipefd) != 0) return "pipe failed";
  pid_t pid = fork();
  if (pid == 0) {
    close(pipefd[0]);
    std::signal(SIGXFSZ, SIG_IGN);
    if (resource == RLIMIT_AS) limit += MappedBytes();
    rlimit rl{limit, limit};
    setrlimit(resource, &rl);
    if (resource == RLIMIT_AS) {
      // Earlier tests leave free blocks in the heap that could hold the
      // block array without mapping more: take them all out of play.
      for (int i = 0; i < 64; ++i) {
        void* block = std::malloc(kMaxBlockCount * sizeof(BlockRecord));
        asm volatile("" : : "r"(block) : "memory");  // kept: the compiler may not drop it
        if (!block) break;
      }
    }
    ShownErrors().clear();
    ConvertBlockDataToMqo(in.c_str(), out.c_str());
    std::string shown;
    for (const std::string& s : ShownErrors()) shown += s + "\n";
    ssize_t ignored = write(pipefd[1], shown.data(), shown.size());
    (void)ignored;
    _exit(0);
  }
  close(pipefd[1]);
  std::string shown;
  char buf[256];
  ssize_t n;
  while ((n = read(pipefd[0], buf, sizeof buf)) > 0) shown.append(buf, static_cast<std::size_t>(n));
  close(pipefd[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return shown;
}

TEST_F(MqoConversion, WriteFailureHalfWayLeavesTheOldFileAndNoLeftovers) {
  std::vector<BlockRecord> blocks(2000, Box(1, 2, 3, 4, 5, 6, 1));
  auto big = BuildBd1({"a"}, blocks);
  WriteFileBytes(Path("map.bd1"), big);
  WriteFileBytes(Path("out.mqo"), old);
  std::size_t docSize = ExpectedFor(big).size();
  ASSERT_GT(docSize, 200000u);
  EXPECT_EQ(ConvertUnderLimit(Path("map.bd1"), Path("out.mqo"), RLIMIT_FSIZE, 100000),
            "Failed: write file (mqo)\n");
  EXPECT_EQ(ReadFileBytes(Path("out.mqo")), "old");
  // The same file as input and output: the map itself must survive.
  EXPECT_EQ(ConvertUnderLimit(Path("map.bd1"), Path("map.bd1"), RLIMIT_FSIZE, 100000),
            "Failed: write file (mqo)\n");
  EXPECT_EQ(ReadFileBytes(Path("map.bd1")), std::string(big.begin(), big.end()));
  EXPECT_EQ(ListDir(dir), (std::vector<std::string>{"map.bd1", "out.mqo"}));
}

TEST_F(MqoConversion, FailedWriteThroughDanglingLinkLeavesNoPartialDocument) {
  std::vector<BlockRecord> blocks(2000, Box(1, 2, 3, 4, 5, 6, 1));
  WriteFileBytes(Path("map.bd1"), BuildBd1({"a"}, blocks));
  ASSERT_EQ(symlink(Path("named.mqo").c_str(), Path("link.mqo").c_str()), 0);
  EXPECT_EQ(ConvertUnderLimit(Path("map.bd1"), Path("link.mqo"), RLIMIT_FSIZE, 100000),
            "Failed: write file (mqo)\n");
  EXPECT_FALSE(FileExists(Path("named.mqo")));
  // The link stays, and a later conversion that succeeds creates its file.
  ConvertBlockDataToMqo(Path("map.bd1").c_str(), Path("link.mqo").c_str());
  EXPECT_TRUE(Shown().empty());
  EXPECT_EQ(ReadFileBytes(Path("named.mqo")), ExpectedFor(BuildBd1({"a"}, blocks)));
}

#endif  // POSIX

// Address sanitizers reserve far more address space than any limit we could
// set, so the allocation failure is only provoked in plain builds.
#if defined(__SANITIZE_ADDRESS__)
#define BLOCKMQO_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BLOCKMQO_SANITIZED 1
#endif
#endif

TEST_F(MqoConversion, BlockArrayThatCannotBeAllocatedIsReported) {
#if defined(BLOCKMQO_SANITIZED) || defined(_WIN32) || defined(BLOCKMQO_EMULATED)
  // An emulator's own address space is what such a limit would measure.
  GTEST_SKIP() << "needs an address space limit, which sanitizers, emulators and Windows do not offer";
#else
  std::vector<BlockRecord> blocks(kMaxBlockCount, Box(0, 0, 0, 1, 1, 1, 0));
  WriteFileBytes(Path("big.bd1"), BuildBd1({}, blocks));
  WriteFileBytes(Path("out.mqo"), old);
  // Room for small allocations, not for another 10 MB.
  EXPECT_EQ(ConvertUnderLimit(Path("big.bd1"), Path("out.mqo"), RLIMIT_AS, 4u << 20),
            "Failed: allocate memory\n");
  EXPECT_EQ(ReadFileBytes(Path("out.mqo")), "old");
#endif
}

}  // namespace
