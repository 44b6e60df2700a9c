// Fuzz target: any bytes as a texture image. Whatever is accepted comes out as
// a JPEG, or a PNG that decodes again to the size it states; nothing is held
// after a refusal (AddressSanitizer's leak check would see it).
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "image/image.h"

namespace {

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* bytes, std::size_t size) {
  GltfImage image;
  if (MakeGltfImage(bytes, size, &image) != ImageResult::Ok) return 0;
  ImagePixels pixels;
  const bool png = image.mimeType == std::string_view("image/png");
  Check(DecodeImage(image.bytes, image.size, &pixels) == (png ? ImageResult::Ok : ImageResult::UnknownFormat),
        "embedded image does not decode");
  Check(!png || (pixels.width == image.width && pixels.height == image.height), "embedded image of another size");
  Check(image.width <= kImageMaxSide && image.height <= kImageMaxSide, "over the largest side");
  ReleaseImagePixels(&pixels);
  ReleaseGltfImage(&image);
  return 0;
}
