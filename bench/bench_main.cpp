// How fast the conversion is against the disk (the floor) and against the
// obvious fprintf writer, all in one run on the same input, with the ratios
// printed at the end. Repetitions are interleaved by default so that load
// from other work on the machine falls on every benchmark alike.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/heap_counter.h"
#include "bench/naive.h"
#include "bench/realistic_map.h"
#include "mqo/mqo.h"
#include "mqo/output_file.h"
#include "numtext/numtext.h"

void ShowError(const char* text) { std::fprintf(stderr, "blockmqo_bench: %s\n", text); }

namespace {

const int kSizes[] = {1, 100, 1000, 10000, kMaxBlockCount};

struct Setup {
  std::string dir;
  std::map<int, std::string> inputs;  // block count -> .bd1 path
  std::string output;
  std::string document;  // the largest map's document, for the floor
};
Setup setup;

constexpr std::size_t kChunk = kMqoWriteChunk;  // as the conversion writes

std::string Document(const std::string& inputPath) {
  BlockData data;
  if (ReadBlockDataFile(inputPath.c_str(), &data) != ReadResult::Ok) return {};
  std::string text;
  std::vector<char> chunk(kChunk);
  MqoCursor cursor{};
  while (std::size_t n = MqoDocumentNext(data, &cursor, chunk.data(), chunk.size()))
    text.append(chunk.data(), n);
  ReleaseBlockData(&data);
  return text;
}

bool Prepare() {
  namespace fs = std::filesystem;
  const char* dir = std::getenv("BLOCKMQO_BENCH_DIR");
  setup.dir = dir ? dir : (fs::current_path() / "bench-work").string();
  std::error_code ec;
  fs::create_directories(setup.dir, ec);
  std::vector<BlockRecord> blocks = RealisticBlocks(kMaxBlockCount);
  for (int n : kSizes) {
    std::string path = setup.dir + "/map" + std::to_string(n) + ".bd1";
    std::vector<BlockRecord> first(blocks.begin(), blocks.begin() + n);
    WriteFileBytes(path, BuildBd1(RealisticNames(), first));
    setup.inputs[n] = path;
  }
  setup.output = setup.dir + "/out.mqo";
  setup.document = Document(setup.inputs[kMaxBlockCount]);
  // The floor writes exactly what the conversion writes.
  if (ConvertFile(setup.inputs[kMaxBlockCount].c_str(), setup.output.c_str()) != MqoResult::Ok ||
      ReadFileBytes(setup.output) != setup.document) {
    std::fprintf(stderr, "blockmqo_bench: the conversion's output is not the document\n");
    return false;
  }
  return true;
}

// --- the number formatter on its own, one number per iteration -----------

using Formatter = std::size_t (*)(std::uint32_t bits, int decimals, char* out);

std::size_t Exact(std::uint32_t bits, int decimals, char* out) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  double d = f;
  std::uint64_t wide;
  std::memcpy(&wide, &d, sizeof wide);
  return FormatFixedExact(wide, decimals, out);
}

void Format(benchmark::State& state, Formatter format, std::vector<std::uint32_t> (*make)(std::size_t),
            int decimals) {
  const std::vector<std::uint32_t> values = make(4096);
  char out[FormatFixedBufferSize(5)];
  std::size_t i = 0;
  for (auto _ : state) {
    std::size_t n = format(values[i++ & 4095], decimals, out);
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(Format, fast/coord4, FormatFixedFloatBits, CoordinateBits, 4);
BENCHMARK_CAPTURE(Format, fast/texcoord5, FormatFixedFloatBits, TexCoordBits, 5);
BENCHMARK_CAPTURE(Format, fast/random4, FormatFixedFloatBits, RandomFiniteBits, 4);
BENCHMARK_CAPTURE(Format, fast/random5, FormatFixedFloatBits, RandomFiniteBits, 5);
BENCHMARK_CAPTURE(Format, exact/coord4, Exact, CoordinateBits, 4);
BENCHMARK_CAPTURE(Format, exact/texcoord5, Exact, TexCoordBits, 5);
BENCHMARK_CAPTURE(Format, exact/random4, Exact, RandomFiniteBits, 4);
BENCHMARK_CAPTURE(Format, exact/random5, Exact, RandomFiniteBits, 5);

// --- whole documents -------------------------------------------------------

void PerBlock(benchmark::State& state, int blocks) {
  state.counters["blocks"] = blocks;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(blocks == kMaxBlockCount ? setup.document.size() : 0));
}

// The real thing: file to file, fsync and rename included.
void Convert(benchmark::State& state) {
  const int blocks = static_cast<int>(state.range(0));
  const std::string& input = setup.inputs[blocks];
  for (auto _ : state) {
    if (ConvertFile(input.c_str(), setup.output.c_str()) != MqoResult::Ok)
      state.SkipWithError("conversion failed");
  }
  PerBlock(state, blocks);
}
BENCHMARK(Convert)->Arg(1)->Arg(100)->Arg(1000)->Arg(10000)->Arg(kMaxBlockCount)
    ->Unit(benchmark::kMillisecond)->UseRealTime();

// The same pipeline without the fsync, to compare with the unsynced floor.
void ConvertNoSync(benchmark::State& state) {
  const std::string& input = setup.inputs[kMaxBlockCount];
  std::vector<char> chunk(kChunk);
  for (auto _ : state) {
    BlockData data;
    OutputFile file;
    bool ok = ReadBlockDataFile(input.c_str(), &data) == ReadResult::Ok &&
              OpenOutput(setup.output.c_str(), &file) == MqoResult::Ok;
    MqoCursor cursor{};
    while (ok) {
      std::size_t n = MqoDocumentNext(data, &cursor, chunk.data(), chunk.size());
      if (!n) break;
      ok = WriteOutput(&file, chunk.data(), n);
    }
    ok = ok && std::fclose(file.stream) == 0 && std::rename(file.temp, file.target) == 0;
    ReleaseBlockData(&data);
    if (!ok) state.SkipWithError("conversion failed");
  }
  PerBlock(state, kMaxBlockCount);
}
BENCHMARK(ConvertNoSync)->Arg(kMaxBlockCount)->Unit(benchmark::kMillisecond)->UseRealTime();

// The document writer alone, in memory: the formatting cost per block.
void Document(benchmark::State& state) {
  const int blocks = static_cast<int>(state.range(0));
  BlockData data;
  if (ReadBlockDataFile(setup.inputs[blocks].c_str(), &data) != ReadResult::Ok) {
    state.SkipWithError("no input");
    return;
  }
  std::vector<char> chunk(kChunk);
  for (auto _ : state) {
    MqoCursor cursor{};
    while (std::size_t n = MqoDocumentNext(data, &cursor, chunk.data(), chunk.size()))
      benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  ReleaseBlockData(&data);
  PerBlock(state, blocks);
}
BENCHMARK(Document)->Arg(1)->Arg(100)->Arg(1000)->Arg(10000)->Arg(kMaxBlockCount)
    ->Unit(benchmark::kMillisecond);

void Floor(benchmark::State& state) {
  const bool sync = state.range(1) != 0;
  for (auto _ : state) {
    if (!WriteFloor(setup.inputs[kMaxBlockCount].c_str(), setup.output.c_str(), setup.document, sync))
      state.SkipWithError("floor failed");
  }
  PerBlock(state, kMaxBlockCount);
}
BENCHMARK(Floor)->ArgNames({"blocks", "sync"})->Args({kMaxBlockCount, 1})->Args({kMaxBlockCount, 0})
    ->Unit(benchmark::kMillisecond)->UseRealTime();

void Naive(benchmark::State& state) {
  const bool sync = state.range(1) != 0;
  for (auto _ : state) {
    if (!WriteNaive(setup.inputs[kMaxBlockCount].c_str(), setup.output.c_str(), sync))
      state.SkipWithError("naive writer failed");
  }
  PerBlock(state, kMaxBlockCount);
}
BENCHMARK(Naive)->ArgNames({"blocks", "sync"})->Args({kMaxBlockCount, 1})->Args({kMaxBlockCount, 0})
    ->Unit(benchmark::kMillisecond)->UseRealTime();

// --- the summary -----------------------------------------------------------

struct Figure {
  double real = 0, cpu = 0;  // seconds per iteration
};

// Keeps each benchmark's median (or its only run) for the ratios.
class Collector : public benchmark::ConsoleReporter {
 public:
  // Colour only on a terminal, so that a saved run reads cleanly.
  Collector() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}
  std::map<std::string, Figure> figures;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type == Run::RT_Aggregate && !median) continue;
      std::string name = run.run_name.str();
      // Benchmarks timed by the wall clock carry this suffix; the ratios do not care.
      const std::string suffix = "/real_time";
      if (name.size() > suffix.size() && name.ends_with(suffix)) name.resize(name.size() - suffix.size());
      if (!median && figures.count(name)) continue;  // a repetition; the median comes later
      double unit = benchmark::GetTimeUnitMultiplier(run.time_unit);
      figures[name] = {run.GetAdjustedRealTime() / unit, run.GetAdjustedCPUTime() / unit};
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

void PrintRatio(const std::map<std::string, Figure>& f, const char* label, const std::string& a,
                const std::string& b) {
  auto x = f.find(a), y = f.find(b);
  if (x == f.end() || y == f.end() || y->second.real <= 0 || y->second.cpu <= 0) return;
  std::printf("  %-44s %8.2f %8.2f\n", label, x->second.real / y->second.real,
              x->second.cpu / y->second.cpu);
}

void PrintSummary(const std::map<std::string, Figure>& f) {
  const std::string big = std::to_string(kMaxBlockCount);
  std::printf("\nmedians                                        real ms   cpu ms\n");
  for (const auto& [name, fig] : f) {
    if (name.rfind("Format/", 0) == 0) continue;
    std::printf("  %-44s %8.2f %8.2f\n", name.c_str(), fig.real * 1e3, fig.cpu * 1e3);
  }
  std::printf("\nratios                                          real      cpu\n");
  PrintRatio(f, "conversion / floor (both fsync)", "Convert/" + big, "Floor/blocks:" + big + "/sync:1");
  PrintRatio(f, "conversion / floor (neither fsync)", "ConvertNoSync/" + big,
             "Floor/blocks:" + big + "/sync:0");
  PrintRatio(f, "naive / conversion (both fsync)", "Naive/blocks:" + big + "/sync:1", "Convert/" + big);
  PrintRatio(f, "naive / conversion (neither fsync)", "Naive/blocks:" + big + "/sync:0",
             "ConvertNoSync/" + big);
  PrintRatio(f, "naive / floor (both fsync)", "Naive/blocks:" + big + "/sync:1",
             "Floor/blocks:" + big + "/sync:1");

  std::printf("\nper block                                    real us   cpu us\n");
  for (int n : kSizes) {
    for (const char* kind : {"Convert/", "Document/"}) {
      auto it = f.find(kind + std::to_string(n));
      if (it == f.end()) continue;
      std::printf("  %-44s %8.3f %8.3f\n", it->first.c_str(), it->second.real * 1e6 / n,
                  it->second.cpu * 1e6 / n);
    }
  }
  std::printf("\nper number                                   real ns   cpu ns\n");
  for (const auto& [name, fig] : f) {
    if (name.rfind("Format/", 0) != 0) continue;
    std::printf("  %-44s %8.2f %8.2f\n", name.c_str(), fig.real * 1e9, fig.cpu * 1e9);
  }
}

void PrintPeakHeap() {
  if (!HeapCounting()) {
    std::printf("\npeak heap: not counted on this platform\n");
    return;
  }
  std::size_t before = HeapInUse();
  HeapResetPeak();
  MqoResult result =
      ConvertFile(setup.inputs[kMaxBlockCount].c_str(), setup.output.c_str());
  std::size_t peak = HeapPeak() - before;
  std::size_t blockArray = static_cast<std::size_t>(kMaxBlockCount) * sizeof(BlockRecord);
  std::printf("\npeak heap during one conversion of %d blocks: %zu bytes (%s)\n", kMaxBlockCount,
              peak, result == MqoResult::Ok ? "ok" : "FAILED");
  std::printf("  block array %zu + 1 MiB = %zu bytes; above the block array: %zu bytes\n",
              blockArray, blockArray + (1u << 20), peak - blockArray);
}

}  // namespace

int main(int argc, char** argv) {
  // Defaults first, so that the same flags given on the command line win.
  std::vector<char*> args = {argv[0]};
  char repetitions[] = "--benchmark_repetitions=5";
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  char aggregates[] = "--benchmark_report_aggregates_only=true";
  args.insert(args.end(), {repetitions, interleave, aggregates});
  args.insert(args.end(), argv + 1, argv + argc);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;
  if (!Prepare()) return 1;

  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  PrintSummary(collector.figures);
  PrintPeakHeap();
  std::printf("\nfiles in %s\n", setup.dir.c_str());
  benchmark::Shutdown();
  return 0;
}
