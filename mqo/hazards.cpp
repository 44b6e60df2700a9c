#include <cstddef>
#include <cstring>

#include "mqo/mqo.h"
#include "numtext/numtext.h"

namespace {

// Every float the document prints, corners and texture coordinates, lies in
// a record's first 72 words; an infinity or NaN has all exponent bits set.
// Judged on the bits, with no branch, so the whole map is one quick pass.
constexpr int kPrintedWords = 72;
static_assert(offsetof(BlockRecord, textureIndex) == kPrintedWords * 4);

int NonFinite(const BlockRecord& block) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&block);
  int count = 0;
  for (int i = 0; i < kPrintedWords; ++i) {
    std::uint32_t word;
    std::memcpy(&word, bytes + 4 * i, sizeof word);
    count += (word & 0x7f800000u) == 0x7f800000u;
  }
  return count;
}

}  // namespace

MqoHazards CountMqoHazards(const BlockData& data) {
  MqoHazards hazards{};
  for (const char* name : data.textureNames)
    if (std::strpbrk(name, "\"\r\n{}()")) ++hazards.unsafeNames;
  for (int b = 0; b < data.count; ++b) {
    const BlockRecord& block = data.blocks[b];
    PrefetchBlockAhead(block);
    for (std::int32_t texture : block.textureIndex)
      if (texture < 0 || texture >= kTextureNameCount) ++hazards.texturesOutOfRange;
    hazards.nonFiniteNumbers += NonFinite(block);
  }
  return hazards;
}

std::size_t FormatMqoWarning(const MqoHazards& hazards, MqoWarning kind, char* out) {
  int count = 0;
  const char *one = "", *many = "";
  switch (kind) {
    case MqoWarning::TexturesOutOfRange:
      count = hazards.texturesOutOfRange;
      one = "face uses a texture number outside 0-9, which some readers reject";
      many = "faces use texture numbers outside 0-9, which some readers reject";
      break;
    case MqoWarning::NonFiniteNumbers:
      count = hazards.nonFiniteNumbers;
      one = "number is infinite or not a number (1.#INF, 1.#QNAN, ...), which readers reject or "
            "misread";
      many = "numbers are infinite or not a number (1.#INF, 1.#QNAN, ...), which readers reject "
             "or misread";
      break;
    case MqoWarning::UnsafeNames:
      count = hazards.unsafeNames;
      one = "texture name holds a quote, line break, brace or parenthesis, which breaks the "
            "material line in readers that read names";
      many = "texture names hold a quote, line break, brace or parenthesis, which break the "
             "material lines in readers that read names";
      break;
  }
  return FormatCountedWarning(count > 0 ? static_cast<std::uint32_t>(count) : 0, one, many, out);
}

std::size_t FormatCountedWarning(std::uint32_t count, const char* one, const char* many, char* out) {
  if (count == 0) return 0;
  std::size_t n = FormatUnsigned(count, out);
  out[n++] = ' ';
  const char* text = count == 1 ? one : many;
  std::size_t length = std::strlen(text);
  std::memcpy(out + n, text, length);
  return n + length;
}
