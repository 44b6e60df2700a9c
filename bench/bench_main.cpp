// How fast the conversion is against the disk (the floor) and against the
// obvious fprintf writer, all in one run on the same realistic input, with
// the ratios printed at the end; the cost of one number; the peak heap.
// Repetitions are interleaved by default so that load from other work on the
// machine falls on every benchmark alike.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/heap_counter.h"
#include "job/job.h"
#include "numtext/numtext.h"
#include "tests/support/bd1.h"

namespace {

// xorshift32: the same sequence with every compiler and library.
struct Random {
  std::uint32_t state = 0x9e3779b9u;
  int Between(int lo, int hi) {  // a whole number in [lo, hi]
    state ^= state << 13, state ^= state >> 17, state ^= state << 5;
    return lo + static_cast<int>(state % static_cast<std::uint32_t>(hi - lo + 1));
  }
};
float Eighths(int k) { return static_cast<float>(k) / 8.0f; }
float Sixtyfourths(int k) { return static_cast<float>(k) / 64.0f; }

// Boxes of up to 100 units within ±2000, corners on a 1/8 grid and nudged a
// little (real maps are seldom square), texture coordinates on a 1/64 grid;
// or left square, as maps drawn on a grid are, whose numbers repeat.
std::vector<BlockRecord> RealisticBlocks(int count, bool nudged = true) {
  Random random;
  std::vector<BlockRecord> blocks;
  for (int b = 0; b < count; ++b) {
    int x0 = random.Between(-15900, 15100), y0 = random.Between(-15900, 15100), z0 = random.Between(-15900, 15100);
    BlockRecord r = Box(Eighths(x0), Eighths(y0), Eighths(z0), Eighths(x0 + random.Between(8, 800)),
                        Eighths(y0 + random.Between(8, 800)), Eighths(z0 + random.Between(8, 800)), 0);
    for (int c = 0; c < 8 && nudged; ++c) {
      r.vx[c] += Eighths(random.Between(-8, 8));
      r.vy[c] += Eighths(random.Between(-8, 8));
      r.vz[c] += Eighths(random.Between(-8, 8));
    }
    for (int f = 0; f < 6; ++f) {
      for (int k = 0; k < 4; ++k) r.u[f][k] = Sixtyfourths(random.Between(0, 64)), r.v[f][k] = Sixtyfourths(random.Between(0, 64));
      r.textureIndex[f] = random.Between(0, 9);
    }
    blocks.push_back(r);
  }
  return blocks;
}

// Unit cubes filling a 32 x 32 x 32 box from one corner, each face of any
// texture: every inner face is hidden and every inner corner shared.
std::vector<BlockRecord> PackedBlocks(int count) {
  Random random;
  std::vector<BlockRecord> blocks;
  for (int b = 0; b < count; ++b) {
    const auto x = static_cast<float>(b % 32), y = static_cast<float>(b / 32 % 32), z = static_cast<float>(b / 1024);
    blocks.push_back(Box(x, y, z, x + 1, y + 1, z + 1, 0));
    for (int f = 0; f < 6; ++f) blocks.back().textureIndex[f] = random.Between(0, 9);
  }
  return blocks;
}

const int kSizes[] = {1, 100, 1000, 10000, kMaxBlockCount};
std::string g_dir, g_output, g_document;  // the largest map's document, for the floor
std::string Input(int blocks) { return g_dir + "/map" + std::to_string(blocks) + ".bd1"; }

// What ships: the conversion job, file to file, in the format with the options.
bool Convert(const std::string& input, const std::string& output, MeshFormat format, MeshOptions options,
             JobReport* report = nullptr) {
  Job job{};
  job.input = {JobSource::Path, input.c_str(), nullptr, 0};
  job.output = {JobTarget::Path, output.c_str(), {}, nullptr};
  job.format = format;
  job.options = options;
  return RunJob(job, report).result == JobResult::Ok;
}

// The floor and the naive writer handle files as the conversion does: a
// temporary file beside the target, fsync, close, rename.
bool Finish(std::FILE* f, bool ok) {
  ok = std::fflush(f) == 0 && fsync(fileno(f)) == 0 && ok;
  return std::fclose(f) == 0 && ok && std::rename((g_output + ".tmp").c_str(), g_output.c_str()) == 0;
}

// The least any converter must spend: one read of the whole input, one write
// of the finished document.
bool WriteFloor() {
  std::string input = ReadFileBytes(Input(kMaxBlockCount));
  std::FILE* f = std::fopen((g_output + ".tmp").c_str(), "wb");
  return f && Finish(f, !input.empty() && std::fwrite(g_document.data(), 1, g_document.size(), f) == g_document.size());
}

// The obvious writer: one fprintf per line with %.4f and %.5f. Its ties go to
// even, so its bytes are not the document; it is here for its speed only.
bool WriteNaive() {
  BlockData data;
  std::FILE* f = std::fopen((g_output + ".tmp").c_str(), "wb");
  if (!f || ReadBlockDataFile(Input(kMaxBlockCount).c_str(), &data) != ReadResult::Ok) return false;
  std::fprintf(f, "Metasequoia Document\r\nFormat Text Ver 1.0\r\n\r\nMaterial %d {\r\n", 10);
  for (const char* name : data.textureNames)
    std::fprintf(f, "\t\"%s\" shader(3) col(1.000 1.000 1.000 1.000) dif(0.900) amb(0.400) emi(0.100) "
                 "spc(0.000) power(5.00) tex(\"%s\")\r\n", *name ? name : "empty", name);
  std::fprintf(f, "}\r\n\r\nObject \"map\" {\r\n\tvisible 15\r\n\tlocking 0\r\n\tshading 1\r\n\tfacet 0\r\n"
               "\tcolor 0.898 0.498 0.698\r\n\tcolor_type 0\r\n\tvertex %d {\r\n", 8 * data.count);
  for (const BlockRecord& r : std::vector<BlockRecord>(data.blocks, data.blocks + data.count))
    for (int c = 0; c < 8; ++c)
      std::fprintf(f, "\t\t%.4f %.4f %.4f\r\n", -double{r.vx[c]}, double{r.vy[c]}, double{r.vz[c]});
  std::fprintf(f, "\t}\r\n\tface %d {\r\n", 6 * data.count);
  for (int b = 0; b < data.count; ++b) {
    const BlockRecord& r = data.blocks[b];
    for (int face = 0; face < 6; ++face) {
      const std::int8_t* t = FaceCornerTable[face];
      std::fprintf(f, "\t\t4 V(%d %d %d %d) M(%d) UV(%.5f %.5f %.5f %.5f %.5f %.5f %.5f %.5f)\r\n", 8 * b + t[3],
                   8 * b + t[2], 8 * b + t[1], 8 * b + t[0], r.textureIndex[face], double{r.u[face][0]},
                   double{r.v[face][0]}, double{r.u[face][1]}, double{r.v[face][1]}, double{r.u[face][2]},
                   double{r.v[face][2]}, double{r.u[face][3]}, double{r.v[face][3]});
    }
  }
  std::fputs("\t}\r\n}\r\n\r\nEof", f);
  ReleaseBlockData(&data);
  return Finish(f, true);
}

// One number per iteration: coordinates at 4 decimals, texture coordinates at 5.
void Format(benchmark::State& state, bool exact, int decimals) {
  Random random;
  std::vector<std::uint32_t> values(4096);
  for (auto& v : values)
    v = std::bit_cast<std::uint32_t>(decimals == 4 ? Eighths(random.Between(-16000, 16000)) : Sixtyfourths(random.Between(0, 64)));
  char out[FormatFixedBufferSize(5)];
  std::size_t i = 0;
  for (auto _ : state) {
    std::uint32_t bits = values[i++ & 4095];
    benchmark::DoNotOptimize(exact ? FormatFixedExact(std::bit_cast<std::uint64_t>(double{std::bit_cast<float>(bits)}), decimals, out)
                                   : FormatFixedFloatBits(bits, decimals, out));
    benchmark::ClobberMemory();
  }
}
BENCHMARK_CAPTURE(Format, fast/coord4, false, 4);
BENCHMARK_CAPTURE(Format, fast/texcoord5, false, 5);
BENCHMARK_CAPTURE(Format, exact/coord4, true, 4);
BENCHMARK_CAPTURE(Format, exact/texcoord5, true, 5);

// The mesh formats' number, the shortest that reads back: coordinates on
// the benchmark map's grid, ours against the library's.
void Shortest(benchmark::State& state, bool library) {
  Random random;
  std::vector<float> values(4096);
  for (auto& v : values) v = Eighths(random.Between(-16000, 16000));
  char out[kShortestFloatMax];
  std::size_t i = 0;
  for (auto _ : state) {
    const float v = values[i++ & 4095];
    benchmark::DoNotOptimize(library ? std::to_chars(out, out + sizeof out, v).ptr
                                     : out + FormatShortestFloat(std::bit_cast<std::uint32_t>(v), out));
    benchmark::ClobberMemory();
  }
}
BENCHMARK_CAPTURE(Shortest, ours, false);
BENCHMARK_CAPTURE(Shortest, to_chars, true);

void Run(benchmark::State& state, bool (*write)()) {
  for (auto _ : state)
    if (!write()) state.SkipWithError("failed");
}
// The real thing, file to file, at every size: the cost per block.
void Convert(benchmark::State& state) {
  const std::string input = Input(static_cast<int>(state.range(0)));
  for (auto _ : state)
    if (!Convert(input, g_output, MeshFormat::Mqo, {})) state.SkipWithError("conversion failed");
}
BENCHMARK(Convert)->Arg(1)->Arg(100)->Arg(1000)->Arg(10000)->Arg(kMaxBlockCount)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
// The document writer alone, into one piece used again and again: the
// largest map, and the square one.
void Document(benchmark::State& state, bool square) {
  BlockData data;
  if (ReadBlockDataFile(square ? (g_dir + "/square.bd1").c_str() : Input(kMaxBlockCount).c_str(), &data) != ReadResult::Ok)
    return state.SkipWithError("no map");
  std::vector<char> chunk(kMqoWriteChunk);
  for (auto _ : state) {
    MqoCursor cursor{};
    std::size_t total = 0;
    while (std::size_t n = MqoDocumentNext(data, &cursor, chunk.data(), chunk.size())) total += n;
    benchmark::DoNotOptimize(total);
  }
  ReleaseBlockData(&data);
}
BENCHMARK_CAPTURE(Document, nudged, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Document, square, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Run, floor, WriteFloor)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK_CAPTURE(Run, naive, WriteNaive)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// The mesh of the largest map with both options, file to file like Convert
// (an OBJ with its MTL).
bool ConvertMesh(MeshFormat format, const std::string& input, JobReport* report = nullptr) {
  const char* extension = format == MeshFormat::Glb ? ".glb" : format == MeshFormat::Obj ? ".obj" : ".mesh.mqo";
  return Convert(input, g_output + extension, format, {.removeHiddenFaces = true, .shareVertices = true}, report);
}
// The largest map's blocks seldom touch, so the options find little to do;
// the packed map's all do, as in maps built of blocks.
void MeshFile(benchmark::State& state, MeshFormat format, const char* map) {
  const std::string input = *map ? g_dir + "/" + map : Input(kMaxBlockCount);
  for (auto _ : state)
    if (!ConvertMesh(format, input)) state.SkipWithError("failed");
}
void PlainFile(benchmark::State& state, const char* map) {
  for (auto _ : state)
    if (!Convert(g_dir + "/" + map, g_output, MeshFormat::Mqo, {})) state.SkipWithError("conversion failed");
}
BENCHMARK_CAPTURE(MeshFile, mqo, MeshFormat::Mqo, "")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK_CAPTURE(MeshFile, obj, MeshFormat::Obj, "")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK_CAPTURE(MeshFile, glb, MeshFormat::Glb, "")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK_CAPTURE(MeshFile, colliding_mqo, MeshFormat::Mqo, "colliding.bd1")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK_CAPTURE(PlainFile, packed, "packed.bd1")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK_CAPTURE(MeshFile, packed_mqo, MeshFormat::Mqo, "packed.bd1")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK_CAPTURE(MeshFile, packed_obj, MeshFormat::Obj, "packed.bd1")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK_CAPTURE(MeshFile, packed_glb, MeshFormat::Glb, "packed.bd1")->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// Keeps each benchmark's median for the summary.
struct Collector : benchmark::ConsoleReporter {
  std::map<std::string, std::pair<double, double>> medians;  // real, CPU seconds
  Collector() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      std::string name = run.run_name.str();
      // File to file, the CPU is the whole process's: a new file's blocks
      // are written by a thread of their own.
      for (const std::string suffix : {"/real_time", "/process_time"})
        if (name.ends_with(suffix)) name.resize(name.size() - suffix.size());
      double unit = benchmark::GetTimeUnitMultiplier(run.time_unit);
      medians[name] = {run.GetAdjustedRealTime() / unit, run.GetAdjustedCPUTime() / unit};
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

void PrintSummary(std::map<std::string, std::pair<double, double>>& m) {
  const std::string big = "Convert/" + std::to_string(kMaxBlockCount);
  std::printf("\nratios                                 real      cpu\n");
  for (auto [label, a, b] : {std::tuple{"conversion / floor", big, std::string("Run/floor")},
                             std::tuple{"naive / conversion", std::string("Run/naive"), big},
                             std::tuple{"writer alone / conversion", std::string("Document/nudged"), big},
                             std::tuple{"square / nudged, writer alone", std::string("Document/square"), std::string("Document/nudged")},
                             std::tuple{"mesh mqo, both options / conversion", std::string("MeshFile/mqo"), big},
                             std::tuple{"obj, both options / conversion", std::string("MeshFile/obj"), big},
                             std::tuple{"glb, both options / conversion", std::string("MeshFile/glb"), big},
                             std::tuple{"colliding mqo / mesh mqo", std::string("MeshFile/colliding_mqo"), std::string("MeshFile/mqo")},
                             std::tuple{"packed: mqo, both options / plain", std::string("MeshFile/packed_mqo"), std::string("PlainFile/packed")},
                             std::tuple{"packed: obj, both options / plain", std::string("MeshFile/packed_obj"), std::string("PlainFile/packed")},
                             std::tuple{"packed: glb, both options / plain", std::string("MeshFile/packed_glb"), std::string("PlainFile/packed")}})
    if (m.count(a) && m.count(b))
      std::printf("  %-34s %8.2f %8.2f\n", label, m[a].first / m[b].first, m[a].second / m[b].second);
  std::printf("\nper block (us) and per number (ns)      real      cpu\n");
  for (int n : kSizes)
    if (auto& f = m["Convert/" + std::to_string(n)]; f.first > 0)
      std::printf("  Convert/%-25d %8.3f %8.3f\n", n, f.first * 1e6 / n, f.second * 1e6 / n);
  for (const char* name : {"Format/fast/coord4", "Format/fast/texcoord5", "Format/exact/coord4", "Format/exact/texcoord5",
                           "Shortest/ours", "Shortest/to_chars"})
    std::printf("  %-34s %8.2f %8.2f\n", name, m[name].first * 1e9, m[name].second * 1e9);

  std::size_t before = HeapInUse();
  HeapResetPeak();
  const bool converted = Convert(Input(kMaxBlockCount), g_output, MeshFormat::Mqo, {});
  std::size_t peak = HeapPeak() - before, array = kMaxBlockCount * sizeof(BlockRecord);
  std::printf("\npeak heap during one conversion of %d blocks: %zu bytes (%s); bound: block array %zu + 1 MiB = %zu\n",
              kMaxBlockCount, peak, converted ? "ok" : "FAILED", array, array + (1u << 20));
  static JobReport report;
  for (MeshFormat format : {MeshFormat::Mqo, MeshFormat::Obj, MeshFormat::Glb}) {
    HeapResetPeak();
    bool ok = ConvertMesh(format, Input(kMaxBlockCount), &report);
    std::printf("peak heap, %s with both options: %zu bytes (%s); %u faces of %d, %u vertices of %d\n",
                format == MeshFormat::Glb ? "glb" : format == MeshFormat::Obj ? "obj" : "mesh mqo", HeapPeak() - before,
                ok ? "ok" : "FAILED", report.faceCount, 6 * kMaxBlockCount, report.vertexCount, 8 * kMaxBlockCount);
  }
}

}  // namespace

int main(int argc, char** argv) {
  KeepMemoryBetweenJobs();  // as blockmqo-cli runs a batch
  // Defaults first, so that the same flags given on the command line win.
  char repetitions[] = "--benchmark_repetitions=5", interleave[] = "--benchmark_enable_random_interleaving=true",
       aggregates[] = "--benchmark_report_aggregates_only=true";
  std::vector<char*> args = {argv[0], repetitions, interleave, aggregates};
  args.insert(args.end(), argv + 1, argv + argc);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;

  const char* dir = std::getenv("BLOCKMQO_BENCH_DIR");
  g_dir = dir ? dir : (std::filesystem::current_path() / "bench-work").string();
  std::filesystem::create_directories(g_dir);
  g_output = g_dir + "/out.mqo";
  std::vector<BlockRecord> blocks = RealisticBlocks(kMaxBlockCount);
  for (int n : kSizes)
    WriteFileBytes(Input(n), BuildBd1({"wall.bmp", "floor.bmp", "ceiling.bmp", "brick_red.bmp", "stone01.bmp",
                                       "wood_dark.bmp", "metal_plate.bmp", "", "grass.bmp", "water.bmp"},
                                      {blocks.begin(), blocks.begin() + n}));
  WriteFileBytes(g_dir + "/colliding.bd1", BuildBd1({}, CollidingBlocks(kMaxBlockCount)));
  WriteFileBytes(g_dir + "/square.bd1", BuildBd1({}, RealisticBlocks(kMaxBlockCount, false)));
  WriteFileBytes(g_dir + "/packed.bd1", BuildBd1({}, PackedBlocks(kMaxBlockCount)));
  // The floor writes exactly what the conversion writes.
  if (!Convert(Input(kMaxBlockCount), g_output, MeshFormat::Mqo, {})) return 1;
  g_document = ReadFileBytes(g_output);

  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  PrintSummary(collector.medians);
  std::printf("\nfiles in %s\n", g_dir.c_str());
  benchmark::Shutdown();
  return 0;
}
