#include "image/image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>

#include "tests/support/bd1.h"
#include "tests/support/image_files.h"

namespace {

constexpr int kW = 5, kH = 3;  // an odd width: BMP rows are padded

ImageBytes Table() {  // pairs of equal neighbours, for run-length packets
  ImageBytes rgba;
  for (int i = 0, c = 0; i < kW * kH; ++i, c = i % kW / 2 + 3 * (i / kW))
    rgba.insert(rgba.end(), {static_cast<unsigned char>(c * 30), static_cast<unsigned char>(255 - c * 25),
                             static_cast<unsigned char>(c * c * 3), 255});
  return rgba;
}

ImageBytes Bytes(const GltfImage& image) { return {image.bytes, image.bytes + image.size}; }
std::uint64_t Fnv1a(const ImageBytes& bytes, std::uint64_t hash = 14695981039346656037u) {
  for (unsigned char b : bytes) hash = (hash ^ b) * 1099511628211u;
  return hash;
}
// No JPEG encoder here: the fuzzer's seed serves.
const std::string kJpeg = ReadFileBytes(BLOCKMQO_SOURCE_DIR "/fuzz/image-seeds/baseline.jpg");

ImageBytes With(ImageBytes file, std::size_t at, std::initializer_list<unsigned char> bytes) {
  std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
  return file;
}
ImageBytes Cut(ImageBytes file, std::size_t end) { return file.resize(end), file; }

}  // namespace

// Every source comes out as one PNG that goes in again as it is and reads back
// as the table. The PNG's bytes are pinned: the same on every platform the
// tests run on, so the page and the programs embed the same file.
TEST(Image, EveryFormatBecomesAPngOfTheSamePixels) {
  const ImageBytes table = Table();
  const std::uint64_t rgb = 0x62abef0f63b09c7d, rgba = 0x8b55ae7fabd23061;
  const struct { const char* name; ImageBytes file; std::uint64_t png; } cases[] = {
      {"bmp 8 bottom-up", MakeBmp(kW, kH, table, 8, false), rgb}, {"bmp 8 top-down", MakeBmp(kW, kH, table, 8, true), rgb},
      {"bmp 24 bottom-up", MakeBmp(kW, kH, table, 24, false), rgb}, {"bmp 24 top-down", MakeBmp(kW, kH, table, 24, true), rgb},
      {"bmp 32 bottom-up", MakeBmp(kW, kH, table, 32, false), rgba}, {"bmp 32 top-down", MakeBmp(kW, kH, table, 32, true), rgba},
      {"tga 24", MakeTga(kW, kH, table, 24, false, false), rgb}, {"tga 32 rle top-down", MakeTga(kW, kH, table, 32, true, true), rgba}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GltfImage png, again;
    ImagePixels pixels;
    ASSERT_EQ(MakeGltfImage(c.file.data(), c.file.size(), &png), ImageResult::Ok);
    EXPECT_EQ(std::string(png.mimeType) + " " + std::to_string(png.width) + "x" + std::to_string(png.height), "image/png 5x3");
    EXPECT_EQ(Fnv1a(Bytes(png)), c.png);
    ASSERT_EQ(MakeGltfImage(png.bytes, png.size, &again), ImageResult::Ok);
    EXPECT_TRUE(again.source == ImageFormat::Png && Bytes(again) == Bytes(png));
    ASSERT_EQ(DecodeImage(again.bytes, again.size, &pixels), ImageResult::Ok);
    EXPECT_EQ(ImageBytes(pixels.rgba, pixels.rgba + 4 * kW * kH), table);
    ReleaseGltfImage(&png), ReleaseGltfImage(&again), ReleaseImagePixels(&pixels);
  }
  const ImageBytes jpeg(kJpeg.begin(), kJpeg.end());
  GltfImage image;
  ASSERT_EQ(MakeGltfImage(jpeg.data(), jpeg.size(), &image), ImageResult::Ok);
  EXPECT_TRUE(std::string(image.mimeType) == "image/jpeg" && Bytes(image) == jpeg);
  ReleaseGltfImage(&image);
}

TEST(Image, BrokenFilesAreRejectedByCause) {
  using R = ImageResult;
  const ImageBytes table = Table(), bmp = MakeBmp(kW, kH, table, 24, false), bmp8 = MakeBmp(kW, kH, table, 8, false),
                   tga = MakeTga(kW, kH, table, 32, true, false), jpeg(kJpeg.begin(), kJpeg.end());
  GltfImage made;
  ASSERT_EQ(MakeGltfImage(bmp.data(), bmp.size(), &made), R::Ok);
  const ImageBytes png = Bytes(made);
  ReleaseGltfImage(&made);
  const unsigned char sof[] = {0xFF, 0xC0};
  const auto frame = static_cast<std::size_t>(std::search(jpeg.begin(), jpeg.end(), sof, sof + 2) - jpeg.begin());
  const struct { const char* name; ImageBytes file; ImageResult result; } cases[] = {
      {"nothing", {}, R::UnknownFormat}, {"text", {'a', ' ', 'b', 'm', 'p', '\n'}, R::UnknownFormat},
      {"bmp cut short", Cut(bmp, bmp.size() - 4), R::Truncated},
      {"bmp claiming 8192 a side", With(bmp, 18, {0, 0x20, 0, 0, 0, 0x20, 0, 0}), R::Truncated},
      {"bmp 8193 wide", With(bmp, 18, {1, 0x20}), R::TooLarge}, {"bmp INT_MIN high", With(bmp, 22, {0, 0, 0, 0x80}), R::TooLarge},
      {"bmp rle", With(bmp8, 30, {1}), R::BadHeader}, {"bmp pixels inside its header", With(bmp, 10, {40}), R::BadHeader},
      {"bmp colour past its palette", With(bmp8, bmp8.size() - 8, {9}), R::BadPixels},
      {"tga rle cut short", Cut(tga, tga.size() - 2), R::Truncated}, {"tga 65535 wide", With(tga, 12, {255, 255}), R::TooLarge},
      {"png cut in half", Cut(png, png.size() / 2), R::Truncated},
      {"png claiming 8000 a side", With(png, 16, {0, 0, 0x1F, 0x40, 0, 0, 0x1F, 0x40}), R::Truncated},
      {"png 8193 high", With(png, 20, {0, 0, 0x20, 1}), R::TooLarge}, {"png CgBI", With(png, 12, {'C', 'g', 'B', 'I'}), R::BadHeader},
      {"jpeg cut short", Cut(jpeg, jpeg.size() - 8), R::Truncated}, {"jpeg without a frame", With(jpeg, frame + 1, {0xE5}), R::BadHeader},
      {"jpeg claiming 8000 a side", With(jpeg, frame + 5, {0x1F, 0x40, 0x1F, 0x40}), R::Truncated},
      {"jpeg frame of 7 bytes", With(jpeg, frame + 2, {0, 7}), R::BadHeader},
      // 51x51 blocks of 8 need 325 bytes at least, and the file has 327.
      {"jpeg 408 a side, just enough bytes", With(jpeg, frame + 5, {0x01, 0x98, 0x01, 0x98}), R::Ok}};
  for (const auto& c : cases) {
    EXPECT_EQ(MakeGltfImage(c.file.data(), c.file.size(), &made), c.result) << c.name;
    ReleaseGltfImage(&made);
  }
}

// The last path part in any ASCII case; the same bytes first, then the lowest.
TEST(Image, TextureNamesFindTheirFiles) {
  const ImageName files[] = {{"wall.bmp", 8}, {"WALL.BMP", 8}, {"Wall.bmp", 8}, {"floor.png", 9}, {"\xE9t\xE9.bmp", 7}};
  const std::pair<std::string, int> picks[] = {{"wall.bmp", 0}, {"wAll.bmp", 1}, {"C:\\maps\\Floor.PNG", 3},
                                               {"tex/floor.png", 3}, {"\xC9T\xC9.bmp", -1}, {"floor.png/", -1}, {"", -1}};
  for (const auto& [name, index] : picks) EXPECT_EQ(PickTextureFile({name.data(), name.size()}, files, 5), index) << name;

  // Folders in order, regular files only; names unique in any case for Windows.
  namespace fs = std::filesystem;
  const std::string a = Scratch() + "a", b = Scratch() + "b/";
  fs::create_directories(a + "/floor.png"), fs::create_directories(b);
  WriteFileBytes(a + "/Wall.bmp", {1}), WriteFileBytes(b + "wall.bmp", {1}), WriteFileBytes(b + "FLOOR.PNG", {1});
  const char* folders[] = {a.c_str(), b.c_str()};
  const char separator = fs::path::preferred_separator == '\\' ? '\\' : '/';
  const struct { std::string name; std::size_t capacity; TextureFileResult result; std::string path; } finds[] = {
      {"tex\\wall.BMP", 300, TextureFileResult::Found, a + separator + "Wall.bmp"},
      {"floor.png", 300, TextureFileResult::Found, b + "FLOOR.PNG"}, {"sky.tga", 300, TextureFileResult::NotFound, ""},
      {"maps/", 300, TextureFileResult::NoFileName, ""}, {"floor.png", b.size() + 9, TextureFileResult::PathTooLong, ""}};
  for (const auto& f : finds) {
    char path[300] = "";
    EXPECT_EQ(FindTextureFile({f.name.data(), f.name.size()}, folders, 2, path, f.capacity), f.result) << f.name;
    EXPECT_EQ(path, f.path) << f.name;
  }
}
