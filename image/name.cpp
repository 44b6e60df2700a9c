#include <cstring>

#include "image/image.h"

namespace {

ImageName LastPathPart(ImageName name) {
  std::size_t start = name.size;
  while (start > 0 && name.bytes[start - 1] != '/' && name.bytes[start - 1] != '\\') --start;
  return {name.bytes + start, name.size - start};
}

unsigned char Folded(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 'A' && u <= 'Z' ? static_cast<unsigned char>(u + ('a' - 'A')) : u;
}

// 0: another file; 1: the same letters in another ASCII case; 2: the same bytes.
int Match(ImageName want, ImageName file) {
  if (file.size != want.size) return 0;
  if (std::memcmp(file.bytes, want.bytes, want.size) == 0) return 2;
  for (std::size_t i = 0; i < want.size; ++i)
    if (Folded(file.bytes[i]) != Folded(want.bytes[i])) return 0;
  return 1;
}

}  // namespace

int PickTextureFile(ImageName textureName, const ImageName* files, int count) {
  const ImageName want = LastPathPart(textureName);
  if (want.size == 0) return -1;
  int best = -1, bestMatch = 0;
  for (int i = 0; i < count; ++i) {
    const int match = Match(want, files[i]);
    if (match > bestMatch ||
        (match > 0 && match == bestMatch && std::memcmp(files[i].bytes, files[best].bytes, want.size) < 0))
      best = i, bestMatch = match;
  }
  return best;
}
