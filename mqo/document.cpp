// The document writer: whole lines into a caller's buffer, CR LF line ends.
#include <cstring>

#include "mqo/mqo.h"
#include "numtext/numtext.h"

// Longest line the writer can produce, with room to spare: a face line with
// eight 39-digit texture coordinates is about 440 bytes, a material line with
// two 31-byte names made all of line feeds about 230.
static_assert(kMqoMaxLine <= kMqoMinChunk);

namespace {

const char kDocumentHead[] = "Metasequoia Document\r\nFormat Text Ver 1.0\r\n\r\nMaterial ";
const char kObjectHead[] =
    "}\r\n\r\nObject \"map\" {\r\n\tvisible 15\r\n\tlocking 0\r\n\tshading 1\r\n"
    "\tfacet 0\r\n\tcolor 0.898 0.498 0.698\r\n\tcolor_type 0\r\n\tvertex ";

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
  if (static_cast<std::uint32_t>(value) < 10) {  // a face's texture number, nearly always
    *p = static_cast<char>('0' + value);
    return p + 1;
  }
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

// Maps repeat their numbers: texture coordinates come from a small grid,
// and neighbouring blocks share their corners' values. Each call of the
// writer keeps the text of recent numbers, a slot for each hash of a value's
// bits, and copies it where a value comes back. Only the empty marks are
// cleared at the start of a call, so small pieces cost little more.
constexpr int kMemoBits = 9;
constexpr std::size_t kMemoText = 16;  // the short form's two words
struct MemoSlot {
  char text[kMemoText];
  std::uint32_t bits;
  std::uint32_t length;  // 0: empty
};
struct NumberMemo {
  MemoSlot slot[1u << kMemoBits];
  std::uint32_t hits;
};

constexpr std::uint32_t kMemoTrial = 64;

void ClearMemo(NumberMemo* memo) {
  for (MemoSlot& slot : memo->slot) slot.length = 0;
  memo->hits = 0;
}

// A slot keeps the short form's two words; 16 bytes go out each time, and
// the line's room covers those past a number's end, which the rest of the
// line overwrites. Numbers outside the short form are written directly.
// Without a memo, every number is made anew.
template <int Decimals>
[[gnu::always_inline]] inline char* PutFixed(char* p, std::uint32_t bits, NumberMemo* memo) {
  MemoSlot* slot = memo ? &memo->slot[(bits * 0x9E3779B1u) >> (32 - kMemoBits)] : nullptr;
  if (slot && slot->length && slot->bits == bits) {  // an empty slot's bits were never written
    std::memcpy(p, slot->text, kMemoText);
    ++memo->hits;
    return p + slot->length;
  }
  const FixedShortText text = FixedFloatShortText<Decimals>(bits);
  if (!text.length) return p + FormatFixedFloatBits(bits, Decimals, p);
  if (slot) {
    std::memcpy(slot->text, &text.first, 8);
    std::memcpy(slot->text + 8, &text.second, 8);
    slot->bits = bits, slot->length = text.length;
  }
  std::memcpy(p, &text.first, 8);
  std::memcpy(p + 8, &text.second, 8);
  return p + text.length;
}

char* PutMaterial(char* p, const char* shownName, const char* textureName) {
  p = Put(p, "\t\"");
  p = PutName(p, shownName);
  p = Put(p,
          "\" shader(3) col(1.000 1.000 1.000 1.000) dif(0.900) amb(0.400) emi(0.100) "
          "spc(0.000) power(5.00) tex(\"");
  p = PutName(p, textureName);
  return Put(p, "\")\r\n");
}

// Vertex i: corner v % 8 of block v / 8, where v is the source's ith.
char* PutVertex(char* p, const MqoSource& source, std::uint32_t i, NumberMemo* memo) {
  const std::uint32_t v = source.vertexOf ? source.vertexOf[i] : i;
  const BlockRecord& block = source.data->blocks[v / 8];
  PrefetchBlockAhead(block, 16 * (v % 8));  // a record's corners, its first 96 bytes
  std::uint32_t bits[3];
  DocumentCornerBits(block, v % 8, bits);
  // The three numbers one after another, not in a loop: around a loop the
  // compiler kept the bits in memory and went round once for each.
  p = Put(p, "\t\t");
  p = PutFixed<4>(p, bits[0], memo);
  *p++ = ' ';
  p = PutFixed<4>(p, bits[1], memo);
  *p++ = ' ';
  p = PutFixed<4>(p, bits[2], memo);
  return Put(p, "\r\n");
}

// The texts of one block's eight vertex numbers, 8b to 8b + 7, made once for
// its six faces rather than once a face and corner.
struct CornerTexts {
  std::uint32_t block;  // whose texts these are; ~0u for none yet
  std::uint8_t length[8];
  char text[8][10];  // FormatUnsigned's room
};

// The texts of recent vertex numbers of a mesh's faces, a slot for each
// number's last six bits: faces close by name the same few vertices.
constexpr std::uint32_t kNumberSlots = 64;
struct NumberTexts {
  std::uint32_t number[kNumberSlots];  // ~0u for none yet: no vertex has that number
  std::uint8_t length[kNumberSlots];
  char text[kNumberSlots][16];  // FormatUnsigned's room; 16 bytes go out, as numbers' texts do
};

char* PutVertexNumber(char* p, std::uint32_t n, NumberTexts* texts) {
  const std::uint32_t s = n % kNumberSlots;
  if (texts->number[s] != n) texts->number[s] = n, texts->length[s] = static_cast<std::uint8_t>(FormatUnsigned(n, texts->text[s]));
  std::memcpy(p, texts->text[s], 16);
  return p + texts->length[s];
}

// Face i: face f % 6 of block f / 6, where f is the source's ith, its table
// row in reverse.
char* PutFace(char* p, const MqoSource& source, std::uint32_t i, NumberMemo* memo, CornerTexts* corners,
              NumberTexts* numbers) {
  p = Put(p, "\t\t4 V(");
  const std::uint32_t index = source.faceOf ? source.faceOf[i] : i, b = index / 6, f = index % 6;
  const BlockRecord& block = source.data->blocks[b];
  PrefetchBlockAhead(block, 64 * f);  // six faces, six cache lines: the whole record
  if (source.cornerNumber) {
    for (int k = 0; k < 4; ++k) {
      p = PutVertexNumber(p, source.cornerNumber[8 * b + static_cast<std::uint32_t>(FaceCornerTable[f][3 - k])], numbers);
      *p++ = k < 3 ? ' ' : ')';
    }
  } else {
    if (corners->block != b) {
      corners->block = b;
      for (std::uint32_t c = 0; c < 8; ++c)
        corners->length[c] = static_cast<std::uint8_t>(FormatUnsigned(8 * b + c, corners->text[c]));
    }
    for (int k = 0; k < 4; ++k) {
      const auto c = static_cast<std::uint32_t>(FaceCornerTable[f][3 - k]);
      std::memcpy(p, corners->text[c], 8);  // at most 6 digits: 8 x 32767 - 1 has 6
      p += corners->length[c];
      *p++ = k < 3 ? ' ' : ')';
    }
  }
  std::int32_t texture = block.textureIndex[f];
  if (source.outOfRangeMaterial && (texture < 0 || texture >= kTextureNameCount)) texture = kTextureNameCount;
  const float* u = block.u[f];
  const float* v = block.v[f];
  p = Put(p, " M(");
  p = PutInt(p, texture);
  p = Put(p, ") UV(");
  // The eight numbers in line too: with the vertices', a tenth fewer
  // instructions for the document.
#pragma GCC unroll 4
  for (int slot = 0; slot < 4; ++slot) {
    p = PutFixed<5>(p, FloatBits(u[slot]), memo);
    *p++ = ' ';
    p = PutFixed<5>(p, FloatBits(v[slot]), memo);
    *p++ = slot < 3 ? ' ' : ')';
  }
  return Put(p, "\r\n");
}

}  // namespace

std::size_t MqoSourceNext(const MqoSource& source, MqoCursor* cursor, char* out, std::size_t capacity) {
  char* p = out;
  const std::uint32_t vertices = source.vertexCount, faces = source.faceCount;
  const int materials = kTextureNameCount + source.outOfRangeMaterial;
  // A slot is keyed by the bits alone, so the memo is cleared between the
  // vertices' texts (4 decimals) and the faces' (5).
  NumberMemo memo;
  ClearMemo(&memo);
  CornerTexts corners;
  corners.block = ~0u;
  NumberTexts numbers;
  std::memset(numbers.number, 0xff, sizeof numbers.number);
  auto room = [&] { return static_cast<std::size_t>(p - out) + kMqoMaxLine <= capacity; };
  while (cursor->section != kDone && room()) {
    auto i = static_cast<std::uint32_t>(cursor->index);
    switch (cursor->section) {
      case kHead:
        p = Put(PutUnsigned(Put(p, kDocumentHead), static_cast<std::uint32_t>(materials)), " {\r\n");
        cursor->section = kMaterials;
        break;
      case kMaterials: {
        const char* name = i < kTextureNameCount ? source.data->textureNames[i] : "";
        p = PutMaterial(p, i < kTextureNameCount ? (*name ? name : "empty") : kOutOfRangeMaterialName, name);
        if (static_cast<int>(++i) == materials) cursor->section = kObject, i = 0;
        break;
      }
      case kObject:
        p = Put(PutUnsigned(Put(p, kObjectHead), vertices), " {\r\n");
        cursor->section = vertices ? kVertices : kFaceHead;
        break;
      case kVertices: {
        // Corners that seldom share a value (no grid, or one nudged) cost the
        // memo more than it saves: after a piece's first kMemoTrial
        // vertices, it is kept for their coordinates only while a third of
        // those came back.
        NumberMemo* kept = &memo;
        std::uint32_t tried = 0;
        do {
          p = PutVertex(p, source, i, kept);
          if (++tried == kMemoTrial && memo.hits < kMemoTrial) kept = nullptr;
        } while (++i < vertices && room());
        if (i == vertices) cursor->section = kFaceHead, i = 0, ClearMemo(&memo);
        break;
      }
      case kFaceHead:
        p = Put(PutUnsigned(Put(p, "\t}\r\n\tface "), faces), " {\r\n");
        cursor->section = faces ? kFaces : kTail;
        break;
      case kFaces:
        do p = PutFace(p, source, i, &memo, &corners, &numbers);
        while (++i < faces && room());
        if (i == faces) cursor->section = kTail, i = 0;
        break;
      case kTail:
        p = Put(p, "\t}\r\n}\r\n\r\nEof");
        cursor->section = kDone;
        break;
      default:
        cursor->section = kDone;
        break;
    }
    cursor->index = static_cast<int>(i);
  }
  return static_cast<std::size_t>(p - out);
}

std::size_t MqoDocumentNext(const BlockData& data, MqoCursor* cursor, char* out,
                            std::size_t capacity) {
  const std::uint32_t count = data.count > 0 ? static_cast<std::uint32_t>(data.count) : 0;
  return MqoSourceNext(MqoSource{&data, nullptr, 8 * count, nullptr, 6 * count, nullptr, false}, cursor, out, capacity);
}
