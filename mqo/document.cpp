// The document writer: whole lines into a caller's buffer, CR LF line ends.
#include <cstring>

#include "mqo/mqo.h"
#include "numtext/numtext.h"

const char kMqoDocumentHead[] = "Metasequoia Document\r\nFormat Text Ver 1.0\r\n\r\nMaterial ";
const char kMqoObjectHead[] =
    "}\r\n\r\nObject \"map\" {\r\n\tvisible 15\r\n\tlocking 0\r\n\tshading 1\r\n"
    "\tfacet 0\r\n\tcolor 0.898 0.498 0.698\r\n\tcolor_type 0\r\n\tvertex ";

// Longest line the writer can produce, with room to spare: a face line with
// eight 39-digit texture coordinates is about 440 bytes, a material line with
// two 31-byte names made all of line feeds about 230.
static_assert(kMqoMaxLine <= kMqoMinChunk);

namespace {

enum Section { kHead, kMaterials, kObject, kVertices, kFaceHead, kFaces, kTail, kDone };

char* Put(char* p, const char* text) {
  std::size_t n = std::strlen(text);
  std::memcpy(p, text, n);
  return p + n;
}

// Every whole number in the document fits 32 bits (vertex numbers stop at
// 8 x 32767).
char* PutUnsigned(char* p, std::uint32_t value) { return p + FormatUnsigned(value, p); }

char* PutInt(char* p, std::int32_t value) {
  auto magnitude = static_cast<std::uint32_t>(value);
  if (value < 0) {
    *p++ = '-';
    magnitude = 0u - magnitude;
  }
  return PutUnsigned(p, magnitude);
}

// Names go out byte for byte; only a line feed becomes CR LF, like every
// other line end in the file.
char* PutName(char* p, const char* name) {
  for (; *name; ++name) {
    if (*name == '\n') *p++ = '\r';
    *p++ = *name;
  }
  return p;
}

std::uint32_t FloatBits(const float& f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

char* PutFixed(char* p, std::uint32_t bits, int decimals) {
  return p + FormatFixedFloatBits(bits, decimals, p);
}

char* PutMaterial(char* p, const char* name) {
  return p + FormatMqoMaterial(*name ? name : "empty", name, p);
}

char* PutVertex(char* p, const BlockRecord& block, int corner) {
  // The first axis is mirrored; flipping the sign bit keeps NaN payloads.
  return p + FormatMqoVertex(FloatBits(block.vx[corner]) ^ 0x80000000u, FloatBits(block.vy[corner]),
                             FloatBits(block.vz[corner]), p);
}

char* PutFace(char* p, const BlockRecord& block, int blockNumber, int face) {
  const std::int8_t* corners = FaceCornerTable[face];
  const auto base = static_cast<std::uint32_t>(8 * blockNumber);
  const std::uint32_t listed[4] = {base + static_cast<std::uint32_t>(corners[3]),
                                   base + static_cast<std::uint32_t>(corners[2]),
                                   base + static_cast<std::uint32_t>(corners[1]),
                                   base + static_cast<std::uint32_t>(corners[0])};
  return p + FormatMqoFace(listed, block.textureIndex[face], block.u[face], block.v[face], p);
}

}  // namespace

std::size_t FormatMqoMaterial(const char* shownName, const char* textureName, char* out) {
  char* p = Put(out, "\t\"");
  p = PutName(p, shownName);
  p = Put(p,
          "\" shader(3) col(1.000 1.000 1.000 1.000) dif(0.900) amb(0.400) emi(0.100) "
          "spc(0.000) power(5.00) tex(\"");
  p = PutName(p, textureName);
  return static_cast<std::size_t>(Put(p, "\")\r\n") - out);
}

std::size_t FormatMqoVertex(std::uint32_t x, std::uint32_t y, std::uint32_t z, char* out) {
  char* p = Put(out, "\t\t");
  p = PutFixed(p, x, 4);
  *p++ = ' ';
  p = PutFixed(p, y, 4);
  *p++ = ' ';
  p = PutFixed(p, z, 4);
  return static_cast<std::size_t>(Put(p, "\r\n") - out);
}

std::size_t FormatMqoFace(const std::uint32_t corner[4], std::int32_t material, const float u[4],
                          const float v[4], char* out) {
  char* p = Put(out, "\t\t4 V(");
  for (int i = 0; i < 4; ++i) {
    p = PutUnsigned(p, corner[i]);
    *p++ = i < 3 ? ' ' : ')';
  }
  p = Put(p, " M(");
  p = PutInt(p, material);
  p = Put(p, ") UV(");
  for (int slot = 0; slot < 4; ++slot) {
    p = PutFixed(p, FloatBits(u[slot]), 5);
    *p++ = ' ';
    p = PutFixed(p, FloatBits(v[slot]), 5);
    *p++ = slot < 3 ? ' ' : ')';
  }
  return static_cast<std::size_t>(Put(p, "\r\n") - out);
}

std::size_t MqoDocumentNext(const BlockData& data, MqoCursor* cursor, char* out,
                            std::size_t capacity) {
  char* p = out;
  const int count = data.count > 0 ? data.count : 0;
  while (cursor->section != kDone &&
         static_cast<std::size_t>(p - out) + kMqoMaxLine <= capacity) {
    int& i = cursor->index;
    switch (cursor->section) {
      case kHead:
        p = Put(Put(p, kMqoDocumentHead), "10 {\r\n");
        cursor->section = kMaterials;
        break;
      case kMaterials:
        p = PutMaterial(p, data.textureNames[i]);
        if (++i == kTextureNameCount) cursor->section = kObject, i = 0;
        break;
      case kObject:
        p = Put(p, kMqoObjectHead);
        p = PutUnsigned(p, 8u * static_cast<std::uint32_t>(count));
        p = Put(p, " {\r\n");
        cursor->section = count ? kVertices : kFaceHead;
        break;
      case kVertices:
        p = PutVertex(p, data.blocks[i / 8], i % 8);
        if (++i == 8 * count) cursor->section = kFaceHead, i = 0;
        break;
      case kFaceHead:
        p = Put(p, "\t}\r\n\tface ");
        p = PutUnsigned(p, 6u * static_cast<std::uint32_t>(count));
        p = Put(p, " {\r\n");
        cursor->section = count ? kFaces : kTail;
        break;
      case kFaces:
        p = PutFace(p, data.blocks[i / 6], i / 6, i % 6);
        if (++i == 6 * count) cursor->section = kTail, i = 0;
        break;
      case kTail:
        p = Put(p, "\t}\r\n}\r\n\r\nEof");
        cursor->section = kDone;
        break;
      default:
        cursor->section = kDone;
        break;
    }
  }
  return static_cast<std::size_t>(p - out);
}
