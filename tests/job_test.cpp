#include "job/job.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "tests/support/bd1.h"
#include "tests/support/image_files.h"
#include "tests/support/reference_document.h"

namespace fs = std::filesystem;

std::vector<std::string> g_shown;
void ShowError(const char* text) { g_shown.push_back(text); }

namespace {

BlockRecord Cube(float x, int texture) { return Box(x, 0, 0, x + 1, 1, 1, texture); }

Job BytesJob(const std::vector<unsigned char>& map, MeshFormat format, CollectedFiles* into, MeshOptions options = {}) {
  Job job{};
  job.input = {JobSource::Bytes, nullptr, map.data(), map.size()};
  job.output = {JobTarget::Sink, nullptr, CollectFiles(into), "m.mtl"};
  job.format = format;
  job.options = options;
  return job;
}

// Each warning a front end shows is decided once, by format: the document's
// hazards only for the document, and the numbers outside 0-9 only for the
// plain one; blocks left out only in the mesh formats; the map's own facts
// (no blocks, bytes far past the last block) in every one. The file is
// written all the same. (The texts are the command-line test's, the
// trailing bytes' docs/cli.md's example.)
TEST(Job, WarningsDecidedByFormat) {
  BlockRecord nan = Cube(0, 0);
  nan.vx[0] = NAN, nan.textureIndex[0] = -1;
  const auto hazards = BuildBd1({"q\"", "b.png"}, {nan, Cube(2, 1)}), empty = BuildBd1({}, {});
  auto trailing = BuildBd1({}, {Cube(0, 0)}), few = trailing;
  trailing.resize(trailing.size() + 317), few.resize(few.size() + 316);
  const struct {
    const std::vector<unsigned char>* map;
    MeshFormat format;
    bool optimized;
    std::vector<std::uint32_t> counts;  // in the order of JobWarning
  } kCases[] = {
      {&hazards, MeshFormat::Mqo, false, {1, 1, 1, 0, 0, 0, 0}}, {&hazards, MeshFormat::Mqo, true, {0, 1, 1, 0, 0, 0, 0}},
      {&hazards, MeshFormat::Obj, false, {0, 0, 0, 1, 0, 0, 0}}, {&hazards, MeshFormat::Glb, true, {0, 0, 0, 1, 1, 0, 0}},
      {&trailing, MeshFormat::Obj, false, {0, 0, 0, 0, 0, 0, 317}}, {&few, MeshFormat::Mqo, false, {0, 0, 0, 0, 0, 0, 0}},
      {&empty, MeshFormat::Mqo, false, {0, 0, 0, 0, 0, 1, 0}}, {&empty, MeshFormat::Obj, false, {0, 0, 0, 0, 0, 1, 0}},
      {&empty, MeshFormat::Glb, false, {0, 0, 0, 0, 0, 1, 0}},
  };
  JobReport report;
  for (const auto& c : kCases) {
    CollectedFiles into;
    ASSERT_EQ(RunJob(BytesJob(*c.map, c.format, &into, {c.optimized, c.optimized}), &report).result, JobResult::Ok);
    EXPECT_EQ(std::vector<std::uint32_t>(report.warning, report.warning + kJobWarningKinds), c.counts)
        << FormatExtension(c.format) << c.optimized << c.map->size();
    EXPECT_FALSE(into.document.empty());
  }
}

// A failure names its cause, the file and the reason as the front ends show
// them; the sink gets an OBJ's MTL first, and one that refuses stops the job.
TEST(Job, OutcomesNameTheCauseAndTheFile) {
  const std::string dir = Scratch() + "outcomes/";
  fs::create_directories(dir + "x.mtl");
  WriteFileBytes(dir + "map.bd1", WorkedExample());
  WriteFileBytes(dir + "negative.bd1", BuildBd1({}, {}, -1));
  // The system's own reasons are checked by number where the numbers are errno's.
  const struct {
    std::string input;
    std::vector<unsigned char> bytes;
    std::string output;
    MeshFormat format;
    const char *message, *reason;
    int error;
  } kCases[] = {
      {"", BuildBd1({}, {}, -1), "o.mqo", MeshFormat::Mqo, "Failed: read file (bd)", "negative block count", 0},
      {"negative.bd1", {}, "n.mqo", MeshFormat::Mqo, "Failed: read file (bd)", "negative block count", 0},
      {"map.bd1", {}, "no/o.glb", MeshFormat::Glb, "Failed: open file (glb)", nullptr, ENOENT},
      {"map.bd1", {}, "x.obj", MeshFormat::Obj, "Failed: open file (mtl)", nullptr, EISDIR},
  };
  for (const auto& c : kCases) {
    const std::string input = dir + c.input, output = dir + c.output;
    Job job{};
    job.input = c.input.empty() ? JobInput{JobSource::Bytes, nullptr, c.bytes.data(), c.bytes.size()}
                                : JobInput{JobSource::Path, input.c_str(), nullptr, 0};
    job.output = {JobTarget::Path, output.c_str(), {}, nullptr};
    job.format = c.format;
    const JobOutcome outcome = RunJob(job, nullptr);
    char message[kJobMessageMax], reason[kSystemErrorMax], system[kSystemErrorMax];
    FormatJobMessage(outcome, c.format, message);
    FormatJobReason(outcome, reason, sizeof reason);
    FormatSystemError(outcome.cause, system, sizeof system);
    EXPECT_EQ(std::tuple(std::string(message), std::string(reason), outcome.cause != 0),
              std::tuple(std::string(c.message), std::string(c.reason ? c.reason : system), c.reason == nullptr)) << c.output;
#ifndef _WIN32
    EXPECT_EQ(outcome.cause, static_cast<SystemError>(c.error)) << c.output;
#endif
    EXPECT_FALSE(fs::exists(output)) << c.output;
  }
  for (bool refuse : {false, true}) {
    CollectedFiles into;
    into.refuse = refuse;
    const JobOutcome outcome = RunJob(BytesJob(WorkedExample(), MeshFormat::Obj, &into), nullptr);
    EXPECT_EQ(outcome.result, refuse ? JobResult::OutputWriteFailed : JobResult::Ok);
    EXPECT_EQ(outcome.file, refuse ? JobFile::Mtl : JobFile::None);
    EXPECT_EQ(into.order, refuse ? "m" : "md");
    EXPECT_TRUE(refuse || into.document.find("\nmtllib m.mtl\n") != std::string::npos);
  }
}

ImageBytes Bmp(unsigned char red) { return MakeBmp(1, 1, {red, 0, 0, 255}, 24, false); }

// One image for each texture name, whoever asks: among the images handed
// over, the same bytes, else the lowest name in another case; a file that is
// no image is unreadable, with why; one no face uses is said to be unused.
TEST(Job, OneImageForEachTextureName) {
  const auto map = BuildBd1({"Wall.bmp", "floor.bmp", "roof.png", "unused.png", "C:\\x\\Wall.bmp"},
                            {Cube(0, 0), Cube(2, 1), Cube(4, 2), Cube(6, 4)});
  const ImageBytes blue = Bmp(0), red = Bmp(255), junk = {'j', 'u', 'n', 'k'};
  const JobImage given[] = {{{"wall.bmp", 8}, red.data(), red.size()}, {{"WALL.BMP", 8}, blue.data(), blue.size()},
                            {{"floor.bmp", 9}, junk.data(), junk.size()}, {{"unused.png", 10}, red.data(), red.size()}};
  CollectedFiles into;
  Job job = BytesJob(map, MeshFormat::Glb, &into);
  job.images = {nullptr, 0, given, 4};
  JobReport report;
  ASSERT_EQ(RunJob(job, &report).result, JobResult::Ok);
  const struct {
    JobImageUse use;
    int given;
    ImageResult cause;
  } kWant[] = {{JobImageUse::Used, 1, ImageResult::Ok},       {JobImageUse::Unreadable, 2, ImageResult::UnknownFormat},
               {JobImageUse::NotGiven, -1, ImageResult::Ok},  {JobImageUse::NotUsed, 3, ImageResult::Ok},
               {JobImageUse::Used, 1, ImageResult::Ok},       {JobImageUse::None, -1, ImageResult::Ok}};
  for (int t = 0; t < 6; ++t)
    EXPECT_EQ(std::tuple(report.image[t].use, report.image[t].given, report.image[t].cause),
              std::tuple(kWant[t].use, kWant[t].given, kWant[t].cause)) << t;
  EXPECT_STREQ(report.image[4].path, "WALL.BMP");  // the name an MTL gives it
  EXPECT_EQ(report.namesWithoutImage, 0b110u);
  std::size_t images = 0;  // two names, one file: one image
  for (std::size_t at = into.document.find("\"mimeType\""); at != std::string::npos; at = into.document.find("\"mimeType\"", at + 1)) ++images;
  EXPECT_EQ(images, 1u);
}

// The writers in the smallest pieces: an MTL names an image's path of any
// length; the longest glb JSON (11 materials, 10 images, every name of 31
// bytes escaped, long bounds) keeps its names.
TEST(Job, WritersHoldTheirContractsAtTheSmallestChunk) {
  TextureNames names;
  names.fill(std::string(31, '\xff'));
  std::vector<BlockRecord> blocks;
  for (int t = 0; t <= 10; ++t) blocks.push_back(Box(-1.17549435e-38f * static_cast<float>(t + 1), 1.0000001f, 3.4e38f, 7.1e-39f, 2, 3, t));
  const BuiltMesh built(BuildBd1(names, blocks), MeshFormat::Glb);
  ASSERT_TRUE(built.ok);
  static const unsigned char kBytes[kTextureNameCount][4] = {};
  const std::string path = std::string(3000, 'p') + "\r.png";
  MeshImage images[kTextureNameCount];
  for (int t = 0; t < kTextureNameCount; ++t) images[t] = {kBytes[t], 4, "image/png", path.c_str()};
  const std::string mtl = built.Write(MeshFormat::Mtl, images);
  EXPECT_NE(mtl.find("map_Kd " + std::string(3000, 'p') + "_.png\n"), std::string::npos);
  const std::string glb = built.Write(MeshFormat::Glb, images);
  std::size_t named = 0;
  for (std::size_t at = glb.find("\"name\":\"\\u00FF"); at != std::string::npos; at = glb.find("\"name\":\"\\u00FF", at + 1)) ++named;
  EXPECT_EQ(named, 20u);  // the ten materials' and the ten images'
  EXPECT_NE(glb.find("\"name\":\"texture_number_outside_0-9\""), std::string::npos);
}

// A file is the same in pieces of any size: through the cache, and past it
// with the pieces' parts by turns, filled from the staging area (from
// 24 KiB: two parts of 8 KiB, 6 KiB at a time).
TEST(Job, FilesAreWholeInAnyChunk) {
  const std::string map = BLOCKMQO_SOURCE_DIR "/examples/courtyard.bd1";
  for (const char* ext : {".mqo", ".glb"})
    for (const std::size_t chunk : {kMqoMinChunk, std::size_t{24576}, std::size_t{0}}) {
      const std::string out = Scratch() + "chunk" + ext;
      Job job{};
      job.input = {JobSource::Path, map.c_str(), nullptr, 0};
      job.output = {JobTarget::Path, out.c_str(), {}, nullptr};
      job.format = ext[1] == 'g' ? MeshFormat::Glb : MeshFormat::Mqo;
      job.chunk = chunk;
      EXPECT_EQ(RunJob(job, nullptr).result, JobResult::Ok) << ext << chunk;
      EXPECT_TRUE(ReadFileBytes(out) == ReadFileBytes(BLOCKMQO_SOURCE_DIR "/examples/courtyard" + std::string(ext))) << ext << chunk;
    }
}

// Only glibc's allocator keeps freed memory when asked, and only there are
// the pages counted.
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
constexpr bool kCountsReuse = true;
long MinorFaults() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}
#else
constexpr bool kCountsReuse = false;
long MinorFaults() { return 0; }
#endif

// In a batch, a map after the first is converted in the memory the one
// before it freed, rather than in fresh pages for the system to zero: the
// largest map's glb with both options, written to a sink that keeps nothing.
TEST(Job, ALaterMapReusesTheMemoryOfTheOneBefore) {
  // Elsewhere the second map must still convert in whatever the first left.
  if (kCountsReuse) KeepMemoryBetweenJobs();
  std::vector<BlockRecord> blocks;
  for (int b = 0; b < kMaxBlockCount; ++b) blocks.push_back(Cube(2.0f * static_cast<float>(b), b % 10));
  const auto map = BuildBd1({}, blocks);
  Job job = BytesJob(map, MeshFormat::Glb, nullptr, {true, true});
  job.output.sink = {[](void*, JobFile, const char*, std::size_t) { return true; }, nullptr};
  long pages[2] = {};
  for (long& taken : pages) {
    const long before = MinorFaults();
    ASSERT_EQ(RunJob(job, nullptr).result, JobResult::Ok);
    taken = MinorFaults() - before;
  }
  if (kCountsReuse) {
    EXPECT_LT(pages[1] * 10, pages[0]);
  }
}

// The names only the page asks for (an optimised file's), and a name too
// long for the caller's room; planning holds the rest of the rules.
TEST(Job, OutputNames) {
  char out[64], small[8];
  EXPECT_EQ(std::string(out, FormatOutputName("yard.BD1", MeshFormat::Glb, true, out, sizeof out)), "yard-optimized.glb");
  EXPECT_EQ(FormatOutputName("yard.bd1", MeshFormat::Mqo, false, small, sizeof small), 0u);
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
  const std::string longest = std::string(kJobPathMax > 260 ? 250 : 100, 'n') + ".mqo";
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
