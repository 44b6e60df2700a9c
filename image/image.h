// A map's texture images, for the mesh formats that carry or name them.
//
// Finding: a map names a texture by whatever bytes its maker typed, often a
// path from another machine ("C:\maps\Wall.BMP", "tex/wall.bmp"). Only the
// last path part (after the last / or \) is looked for, in any ASCII case, so
// the same map finds the same files on Windows, on Linux and on the page.
//
// Embedding: glTF holds PNG and JPEG only. A PNG goes in as it is once its
// pixels are known to decode; a JPEG, once its segments are known to be
// whole (JPEG is never decoded here, the viewers do that); BMP and TGA are
// decoded and encoded as PNG, the same bytes on every platform for the same
// file. Every file is read from memory and trusted for nothing: its header's
// size is checked against the file before any pixel memory is taken.
#pragma once

#include <cstddef>

struct ImageName {
  const char* bytes;  // any bytes, not NUL-terminated
  std::size_t size;
};

// Which of `count` file names (plain names, no folder) a texture name
// resolves to: its index, or -1. The same bytes win over the same letters in
// another case; among several of those, the lowest in byte order wins, so the
// choice never depends on the order a folder lists its files in.
int PickTextureFile(ImageName textureName, const ImageName* files, int count);

enum class TextureFileResult {
  Found,
  NotFound,     // in no folder (a folder that cannot be read holds nothing)
  NoFileName,   // the name is empty or ends with / or \ .
  PathTooLong,  // found, but folder and name do not fit the caller's buffer
};

// Looks for the texture's file in each folder in turn (regular files only,
// the first folder holding one wins) and writes its path, NUL-terminated,
// into `path`. Folders and paths are byte strings in the system's narrow
// encoding, as fopen takes them. When found, `*folder` (if given) is the
// number of the folder that holds it.
TextureFileResult FindTextureFile(ImageName textureName, const char* const* folders, int folderCount,
                                  char* path, std::size_t capacity, int* folder = nullptr);

constexpr int kImageMaxSide = 8192;

enum class ImageResult {
  Ok,
  UnknownFormat,  // not PNG, JPEG or BMP by its first bytes, nor a TGA header
  BadHeader,      // a broken header, or a kind of file not read here (RLE BMP, ...)
  TooLarge,       // wider or higher than kImageMaxSide, or over 2 GiB
  Truncated,      // fewer bytes than its header says its pixels take
  BadPixels,      // the pixels do not decode, or use colours the file lacks
  OutOfMemory,
};

enum class ImageFormat { Png, Jpeg, Bmp, Tga };

struct GltfImage {
  unsigned char* bytes;  // a PNG or JPEG file, owned
  std::size_t size;
  const char* mimeType;  // "image/png" or "image/jpeg"
  int width, height;
  ImageFormat source;    // what the file was
};

// On success the caller owns the image and frees it with ReleaseGltfImage; on
// failure nothing is held.
ImageResult MakeGltfImage(const unsigned char* file, std::size_t size, GltfImage* image);
void ReleaseGltfImage(GltfImage* image);

// A PNG, BMP or TGA file as 8-bit RGBA rows from the top (for readers that
// need the pixels themselves, and for checking what was embedded); a JPEG
// that MakeGltfImage would take gives UnknownFormat.
struct ImagePixels {
  unsigned char* rgba;  // width * height * 4 bytes, owned
  int width, height;
};
ImageResult DecodeImage(const unsigned char* file, std::size_t size, ImagePixels* pixels);
void ReleaseImagePixels(ImagePixels* pixels);
