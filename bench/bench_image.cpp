// What embedding a texture costs: a 256x256 24-bit BMP decoded and encoded as
// PNG, and the PNG it becomes checked and passed through; the bytes in and out.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "image/image.h"
#include "tests/support/image_files.h"

namespace {

// Bricks and mortar with a little xorshift noise, as block textures look.
ImageBytes Bricks() {
  ImageBytes rgba;
  std::uint32_t s = 0x9e3779b9u;
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 256; ++x) {
      s ^= s << 13, s ^= s >> 17, s ^= s << 5;
      const bool mortar = y % 32 < 3 || (x + y / 32 % 2 * 32) % 64 < 3;
      const int n = static_cast<int>(s % 24);
      rgba.insert(rgba.end(), {static_cast<unsigned char>(mortar ? 190 + n : 150 + n),
                               static_cast<unsigned char>(mortar ? 185 + n : 60 + n / 2),
                               static_cast<unsigned char>(mortar ? 175 + n : 40 + n / 2), 255});
    }
  }
  return rgba;
}

void Embed(benchmark::State& state, bool fromPng) {
  ImageBytes file = MakeBmp(256, 256, Bricks(), 24, false);
  GltfImage image;
  if (fromPng && MakeGltfImage(file.data(), file.size(), &image) == ImageResult::Ok) {
    file.assign(image.bytes, image.bytes + image.size);
    ReleaseGltfImage(&image);
  }
  std::size_t out = 0;
  for (auto _ : state) {
    if (MakeGltfImage(file.data(), file.size(), &image) != ImageResult::Ok) state.SkipWithError("refused");
    out = image.size;
    ReleaseGltfImage(&image);
  }
  state.counters["in_bytes"] = static_cast<double>(file.size());
  state.counters["out_bytes"] = static_cast<double>(out);
}

}  // namespace

BENCHMARK_CAPTURE(Embed, bmp24_256x256, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Embed, png_256x256, true)->Unit(benchmark::kMillisecond);
