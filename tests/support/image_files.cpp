#include "tests/support/image_files.h"

#include <algorithm>
#include <cstdint>

namespace {

void Put(ImageBytes& out, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) out.push_back(static_cast<unsigned char>(value >> 8 * i));
}

std::uint32_t Bgra(const ImageBytes& rgba, int i) {
  const unsigned char* p = &rgba[4 * static_cast<std::size_t>(i)];
  return std::uint32_t{p[2]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[0]} << 16 | std::uint32_t{p[3]} << 24;
}

}  // namespace

ImageBytes MakeBmp(int width, int height, const ImageBytes& rgba, int bits, bool topDown) {
  std::vector<std::uint32_t> palette;
  for (int i = 0; bits == 8 && i < width * height; ++i)
    if (std::find(palette.begin(), palette.end(), Bgra(rgba, i) & 0xFFFFFF) == palette.end())
      palette.push_back(Bgra(rgba, i) & 0xFFFFFF);
  const auto stride = static_cast<std::uint32_t>((width * bits + 31) / 32 * 4), h = static_cast<std::uint32_t>(height);
  const auto offset = static_cast<std::uint32_t>(54 + 4 * palette.size());
  ImageBytes out{'B', 'M'};
  for (std::uint32_t v : {offset + stride * h, 0u, offset, 40u, static_cast<std::uint32_t>(width), topDown ? 0 - h : h})
    Put(out, v, 4);
  Put(out, 1, 2), Put(out, static_cast<std::uint32_t>(bits), 2);
  for (std::uint32_t v : {0u, stride * h, 0u, 0u, static_cast<std::uint32_t>(palette.size()), 0u}) Put(out, v, 4);
  for (std::uint32_t colour : palette) Put(out, colour, 4);
  for (int row = 0; row < height; ++row) {
    const std::size_t start = out.size();
    for (int x = 0, i = (topDown ? row : height - 1 - row) * width; x < width; ++x, ++i) {
      const auto at = std::find(palette.begin(), palette.end(), Bgra(rgba, i) & 0xFFFFFF) - palette.begin();
      bits == 8 ? Put(out, static_cast<std::uint32_t>(at), 1) : Put(out, Bgra(rgba, i), bits / 8);
    }
    out.resize(start + stride);
  }
  return out;
}

ImageBytes MakeTga(int width, int height, const ImageBytes& rgba, int bits, bool rle, bool topDown) {
  ImageBytes out{0, 0, static_cast<unsigned char>(rle ? 10 : 2), 0, 0, 0, 0, 0, 0, 0, 0, 0};
  Put(out, static_cast<std::uint32_t>(width), 2), Put(out, static_cast<std::uint32_t>(height), 2);
  Put(out, static_cast<std::uint32_t>(bits | (topDown ? 0x2000 : 0) | (bits == 32 ? 0x800 : 0)), 2);
  for (int row = 0; row < height; ++row) {
    const int first = (topDown ? row : height - 1 - row) * width;
    for (int x = 0, run = 1; x < width; x += run, run = 1) {
      while (rle && x + run < width && run < 128 && Bgra(rgba, first + x + run) == Bgra(rgba, first + x)) ++run;
      if (rle) Put(out, run > 1 ? 127u + static_cast<std::uint32_t>(run) : 0u, 1);
      Put(out, Bgra(rgba, first + x), bits / 8);
    }
  }
  return out;
}
