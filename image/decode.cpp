// Image files to what glTF embeds. The decoding of PNG, BMP and TGA is
// stb_image's and the PNG encoding stb_image_write's; this is the one file
// that compiles them. What they take on trust is checked here first: a
// header's size against the file (a short BMP or TGA would decode as black, a
// PNG that claims millions of pixels would take their memory), and a BMP's
// colour indices against its palette (stb reads colours past a short palette
// from uninitialised memory, which would make the PNG differ from run to run).
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "image/image.h"

namespace {

// stb reports a failed allocation like any other failure; this tells them apart.
thread_local bool tAllocationFailed;

void* Allocate(std::size_t size) {
  void* p = std::malloc(size);
  if (!p) tAllocationFailed = true;
  return p;
}

void* Reallocate(void* old, std::size_t size) {
  void* p = std::realloc(old, size);
  if (!p) tAllocationFailed = true;
  return p;
}

}  // namespace

#define STBI_MALLOC(size) Allocate(size)
#define STBI_REALLOC(p, size) Reallocate(p, size)
#define STBI_FREE(p) std::free(p)
// A broken invariant stops the program without printing: the page's module
// has no output stream to print to.
#define STBI_ASSERT(x) ((x) ? void() : __builtin_trap())
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_BMP
#define STBI_ONLY_TGA
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_FAILURE_STRINGS
#define STBI_MAX_DIMENSIONS kImageMaxSide

// The PNG encoder is integer-only: filters chosen per row by a sum of byte
// differences, fixed-Huffman deflate with hash chains at its default level 8.
// Its settings are private to this file (static), so nothing can change them
// and the same pixels give the same bytes on every compiler and platform.
#define STBIW_MALLOC(size) Allocate(size)
#define STBIW_REALLOC(p, size) Reallocate(p, size)
#define STBIW_FREE(p) std::free(p)
#define STBIW_ASSERT(x) STBI_ASSERT(x)
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wsign-conversion"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb_image.h>
#include <stb_image_write.h>
#pragma GCC diagnostic pop

namespace {

std::uint32_t Le16(const unsigned char* p) { return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8u; }
std::uint32_t Le32(const unsigned char* p) { return Le16(p) | Le16(p + 2) << 16u; }
std::uint32_t Be32(const unsigned char* p) {
  return std::uint32_t{p[0]} << 24u | std::uint32_t{p[1]} << 16u | std::uint32_t{p[2]} << 8u | p[3];
}

struct Header {
  ImageFormat format;
  std::uint64_t width, height;
  std::uint64_t needed;  // bytes the file must hold at least for its pixels
  // BMP with 1, 4 or 8 bits a pixel: where its rows lie and how many colours
  // its palette holds, as stb counts them.
  std::uint64_t offset, stride, bits, colours;
};

int Channels(unsigned colourType) {
  static const int kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
  return colourType < 7 ? kChannels[colourType] : 0;
}

// Walks a PNG's chunks to its end chunk: a file without one was cut short.
// stb copies a first image data chunk of no bytes from a null pointer
// (undefined behaviour), so such a file is refused here first.
ImageResult WalkPng(const unsigned char* f, std::size_t size) {
  bool data = false;
  for (std::uint64_t at = 8;; at += 12 + std::uint64_t{Be32(f + at)}) {
    if (at + 8 > size) return ImageResult::Truncated;
    if (at + 12 + Be32(f + at) > size) return ImageResult::Truncated;
    if (std::memcmp(f + at + 4, "IEND", 4) == 0) return ImageResult::Ok;
    if (std::memcmp(f + at + 4, "IDAT", 4) == 0) {
      if (!data && Be32(f + at) == 0) return ImageResult::BadHeader;
      data = true;
    }
  }
}

// Deflate packs at most 1032 bytes into one (a 258-byte match in two bits).
ImageResult PngHeader(const unsigned char* f, std::size_t size, Header* h) {
  if (size < 29) return ImageResult::Truncated;
  if (std::memcmp(f + 12, "IHDR", 4) != 0) return ImageResult::BadHeader;  // also Apple's CgBI
  h->width = Be32(f + 16), h->height = Be32(f + 20);
  if (h->width > kImageMaxSide || h->height > kImageMaxSide) return ImageResult::TooLarge;
  if (const ImageResult walk = WalkPng(f, size); walk != ImageResult::Ok) return walk;
  const std::uint64_t bits = std::uint64_t{f[24]} * static_cast<unsigned>(Channels(f[25]));
  h->needed = h->height * (1 + (h->width * bits + 7) / 8) / 1032;
  return ImageResult::Ok;
}

// A JPEG goes in as it is and is never decoded here: the scan decoder of
// Debian's stb (2.27) reads Huffman tables a file never defined from
// uninitialised memory, and its table reader overruns a table of more than
// 256 codes. The segments are walked instead: one frame (baseline, extended
// or progressive, 8-bit, as browsers take), then a scan, then the end marker;
// a file without that end was cut short. Every 8x8 block takes one Huffman
// code of at least a bit, even in a progressive file's first scan.
ImageResult JpegHeader(const unsigned char* f, std::size_t size, Header* h) {
  bool frame = false, scan = false;
  for (std::size_t at = 2;;) {
    if (at + 2 > size) return ImageResult::Truncated;
    const unsigned marker = f[at + 1];
    // Scan data, fill bytes, stuffed zeros and restart markers carry no length.
    if (f[at] != 0xFF || marker == 0xFF || marker == 0 || (marker >= 0xD0 && marker <= 0xD7)) {
      at += f[at] == 0xFF && marker != 0xFF ? 2 : 1;
      continue;
    }
    if (marker == 0xD9) break;
    if (at + 4 > size) return ImageResult::Truncated;
    const std::size_t end = at + 2 + (std::size_t{f[at + 2]} << 8 | f[at + 3]);
    if (end < at + 4) return ImageResult::BadHeader;
    if (end > size) return ImageResult::Truncated;
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      if (frame || marker > 0xC2 || end < at + 10 || f[at + 4] != 8) return ImageResult::BadHeader;
      h->height = std::uint64_t{f[at + 5]} << 8 | f[at + 6], h->width = std::uint64_t{f[at + 7]} << 8 | f[at + 8];
      frame = true;
    }
    if (marker == 0xDA && !frame) return ImageResult::BadHeader;
    scan = scan || marker == 0xDA;
    at = end;
  }
  if (!scan) return ImageResult::BadHeader;
  h->needed = (h->width + 7) / 8 * ((h->height + 7) / 8) / 8;
  return ImageResult::Ok;
}

ImageResult BmpHeader(const unsigned char* f, std::size_t size, Header* h) {
  if (size < 18) return ImageResult::Truncated;
  const std::uint32_t headerSize = Le32(f + 14);
  if (headerSize != 12 && headerSize != 40 && headerSize != 56 && headerSize != 108 && headerSize != 124)
    return ImageResult::BadHeader;
  if (size < 14 + headerSize) return ImageResult::Truncated;
  const bool core = headerSize == 12;
  // (Each branch signed: a common unsigned type would make a top-down height huge.)
  const std::int64_t w = core ? std::int64_t{Le16(f + 18)} : std::int64_t{static_cast<std::int32_t>(Le32(f + 18))};
  const std::int64_t ht = core ? std::int64_t{Le16(f + 20)} : std::int64_t{static_cast<std::int32_t>(Le32(f + 22))};
  h->bits = core ? Le16(f + 24) : Le16(f + 28);
  const std::uint32_t compression = core ? 0 : Le32(f + 30);
  if (w < 1 || ht == 0) return ImageResult::BadHeader;
  h->width = static_cast<std::uint64_t>(w), h->height = static_cast<std::uint64_t>(ht < 0 ? -ht : ht);
  if (h->width > kImageMaxSide || h->height > kImageMaxSide) return ImageResult::TooLarge;
  // Colour masks follow a 40- or 56-byte header; a palette fills the rest up
  // to the pixels (stb counts a 12-byte header's three-byte entries from 38).
  const bool masks = (headerSize == 40 || headerSize == 56) && compression == 3;
  h->offset = Le32(f + 10);
  if (h->offset < 14 + headerSize + (masks ? 12u : 0u)) return ImageResult::BadHeader;
  if (h->bits < 16) {
    h->colours = core ? (h->offset < 38 ? 0 : (h->offset - 38) / 3) : (h->offset - 14 - headerSize) / 4;
    if (h->colours == 0) return ImageResult::BadHeader;
  }
  h->stride = (h->width * h->bits + 31) / 32 * 4;
  h->needed = h->offset + h->stride * (h->height - 1) + (h->width * h->bits + 7) / 8;
  return ImageResult::Ok;
}

// TGA has no signature: a file is one when stb reads its header as one.
ImageResult TgaHeader(const unsigned char* f, std::size_t size, Header* h) {
  int w, ht, n;
  if (size < 18 || !stbi_info_from_memory(f, static_cast<int>(size), &w, &ht, &n))
    return ImageResult::UnknownFormat;
  h->width = static_cast<std::uint64_t>(w), h->height = static_cast<std::uint64_t>(ht);
  if (h->width > kImageMaxSide || h->height > kImageMaxSide) return ImageResult::TooLarge;
  // Pixels follow the id and the palette (stb skips "first entry" bytes too).
  const std::uint64_t pixelBytes = (f[16] + 7u) / 8u, total = h->width * h->height;
  std::uint64_t at = 18u + f[0] + (f[1] == 1 ? Le16(f + 3) + Le16(f + 5) * ((f[7] + 7u) / 8u) : 0u);
  if (f[2] < 8) {
    h->needed = at + total * pixelBytes;
    return ImageResult::Ok;
  }
  // Run-length packets: a count byte, then one pixel to repeat or that many.
  for (std::uint64_t pixels = 0; pixels < total;) {
    if (at >= size) return ImageResult::Truncated;
    const unsigned packet = f[at++];
    const std::uint64_t count = std::min<std::uint64_t>((packet & 127u) + 1, total - pixels);
    at += (packet & 128u ? 1 : count) * pixelBytes;
    pixels += count;
  }
  h->needed = at;
  return ImageResult::Ok;
}

bool IndicesInPalette(const unsigned char* f, const Header& h) {
  if ((h.bits != 1 && h.bits != 4 && h.bits != 8) || h.colours >= (1u << h.bits)) return true;
  for (std::uint64_t row = 0; row < h.height; ++row) {
    const unsigned char* line = f + h.offset + row * h.stride;
    for (std::uint64_t x = 0; x < h.width; ++x) {
      const std::uint64_t bit = x * h.bits;
      if ((line[bit / 8] >> (8 - h.bits - bit % 8) & ((1u << h.bits) - 1)) >= h.colours) return false;
    }
  }
  return true;
}

ImageResult Inspect(const unsigned char* f, std::size_t size, Header* h) {
  *h = {};
  if (size > INT_MAX) return ImageResult::TooLarge;
  static const unsigned char kPng[8] = {137, 'P', 'N', 'G', 13, 10, 26, 10};
  ImageResult result;
  if (size >= 8 && std::memcmp(f, kPng, 8) == 0)
    h->format = ImageFormat::Png, result = PngHeader(f, size, h);
  else if (size >= 3 && f[0] == 0xFF && f[1] == 0xD8 && f[2] == 0xFF)
    h->format = ImageFormat::Jpeg, result = JpegHeader(f, size, h);
  else if (size >= 2 && f[0] == 'B' && f[1] == 'M')
    h->format = ImageFormat::Bmp, result = BmpHeader(f, size, h);
  else
    h->format = ImageFormat::Tga, result = TgaHeader(f, size, h);
  if (result != ImageResult::Ok) return result;
  if (h->width > kImageMaxSide || h->height > kImageMaxSide) return ImageResult::TooLarge;
  int w, ht, n;
  if (h->width == 0 || h->height == 0 ||
      (h->format != ImageFormat::Jpeg && !stbi_info_from_memory(f, static_cast<int>(size), &w, &ht, &n)))
    return ImageResult::BadHeader;
  if (size < h->needed) return ImageResult::Truncated;
  if (h->format == ImageFormat::Bmp && !IndicesInPalette(f, *h)) return ImageResult::BadPixels;
  return ImageResult::Ok;
}

// `channels` 0 keeps the file's own (grey, grey and alpha, RGB or RGBA).
ImageResult Decode(const unsigned char* f, std::size_t size, int channels, Header* h, unsigned char** pixels,
                   int* n) {
  const ImageResult result = Inspect(f, size, h);
  if (result != ImageResult::Ok || h->format == ImageFormat::Jpeg) return result;
  int w, ht;
  tAllocationFailed = false;
  *pixels = stbi_load_from_memory(f, static_cast<int>(size), &w, &ht, n, channels);
  if (!*pixels) return tAllocationFailed ? ImageResult::OutOfMemory : ImageResult::BadPixels;
  if (channels) *n = channels;
  return ImageResult::Ok;
}

}  // namespace

ImageResult MakeGltfImage(const unsigned char* file, std::size_t size, GltfImage* image) {
  *image = {};
  Header h;
  unsigned char* pixels = nullptr;
  int n;
  const ImageResult result = Decode(file, size, 0, &h, &pixels, &n);
  if (result != ImageResult::Ok) return result;
  const int w = static_cast<int>(h.width), ht = static_cast<int>(h.height);
  GltfImage made{nullptr, size, "image/png", w, ht, h.format};
  if (h.format == ImageFormat::Png || h.format == ImageFormat::Jpeg) {
    if (h.format == ImageFormat::Jpeg) made.mimeType = "image/jpeg";
    made.bytes = static_cast<unsigned char*>(std::malloc(size));
    if (made.bytes) std::memcpy(made.bytes, file, size);
  } else {
    int length = 0;
    made.bytes = stbi_write_png_to_mem(pixels, 0, w, ht, n, &length);
    made.size = static_cast<std::size_t>(length);
  }
  std::free(pixels);
  if (!made.bytes) return ImageResult::OutOfMemory;
  *image = made;
  return ImageResult::Ok;
}

void ReleaseGltfImage(GltfImage* image) {
  std::free(image->bytes);
  *image = {};
}

ImageResult DecodeImage(const unsigned char* file, std::size_t size, ImagePixels* pixels) {
  *pixels = {};
  Header h;
  int n;
  const ImageResult result = Decode(file, size, 4, &h, &pixels->rgba, &n);
  if (result == ImageResult::Ok && h.format == ImageFormat::Jpeg) return ImageResult::UnknownFormat;
  if (result == ImageResult::Ok) pixels->width = static_cast<int>(h.width), pixels->height = static_cast<int>(h.height);
  return result;
}

void ReleaseImagePixels(ImagePixels* pixels) {
  std::free(pixels->rgba);
  *pixels = {};
}
