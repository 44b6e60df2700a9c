// The mesh's writers: the MQO document holding it, Wavefront OBJ with its
// MTL, and glTF 2.0 binary. Each is a formatter: whole items into the
// caller's buffer, resumed from the cursor.
//
// OBJ and glTF numbers are the shortest text that reads back as the same
// float (FormatShortestFloat, std::to_chars' text): the mesh keeps exact
// float values, and a fixed number of decimals would move points that meet
// off each other, or cut small maps' detail.
#include <bit>
#include <cstring>
#include <initializer_list>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "mesh/mesh.h"
#include "mqo/mqo.h"
#include "numtext/numtext.h"

namespace {

// The longest item any writer puts in one step; the buffer is at least
// kMqoMinChunk, so two always fit.
constexpr std::size_t kMaxItem = kMqoMaxLine;

char* Put(char* p, const char* text) {
  std::size_t n = std::strlen(text);
  std::memcpy(p, text, n);
  return p + n;
}
[[gnu::always_inline]] inline char* PutUnsigned(char* p, std::uint32_t value) { return p + FormatUnsigned(value, p); }
// Zero is written without a sign. The values of a grid are made inline and
// go out as two words (the line's room covers the bytes past the text); the
// function too is inline at each of its few callers, as a call and its
// saved registers cost a seventh of a grid value's text.
[[gnu::always_inline]] inline char* PutFloat(char* p, float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const FixedShortText text = ShortestFloatShortText(bits);
  if (!text.length) return p + FormatShortestFloat(bits, p);
  std::memcpy(p, &text.first, 8);
  std::memcpy(p + 8, &text.second, 8);
  return p + text.length;
}

// Each texture name's image in the glb, or -1, and the images' names in
// order; returns how many. A name without bytes, unused, or past the room has
// none; names given the same bytes share one.
int NumberImages(const MeshDocument& doc, int (&image)[kTextureNameCount], int (&name)[kTextureNameCount]) {
  int count = 0;
  std::size_t total = 0;
  for (int t = 0; t < kTextureNameCount; ++t) {
    image[t] = -1;
    const MeshImage* given = doc.images ? &doc.images[t] : nullptr;
    if (!given || !given->bytes || !doc.mesh->groupFaceCount[t]) continue;
    for (int e = 0; e < t && image[t] < 0; ++e)
      if (image[e] >= 0 && doc.images[e].bytes == given->bytes) image[t] = image[e];
    if (image[t] >= 0 || given->size > kGlbImagesMax - total) continue;
    total += given->size;
    name[count] = t;
    image[t] = count++;
  }
  return count;
}

// ---- MQO: the document's header and materials, the mesh as its object.

std::size_t NextMqo(const MeshDocument& doc, MeshCursor* cursor, char* out, std::size_t capacity) {
  const Mesh& mesh = *doc.mesh;
  const MqoSource source{doc.data,          mesh.vertexOf, mesh.vertexCount, mesh.faceOf, mesh.faceCount,
                         mesh.cornerNumber, mesh.groupFaceCount[kOutOfRangeGroup] > 0};
  MqoCursor mqo{cursor->section, static_cast<int>(cursor->index)};
  const std::size_t n = MqoSourceNext(source, &mqo, out, capacity);
  cursor->section = n ? mqo.section : -1, cursor->index = static_cast<std::uint32_t>(mqo.index);
  return n;
}

// ---- OBJ and MTL: LF line ends, one material per group in use.
//
// No `vn` lines: every face is flat, and a reader takes a flat face's normal
// from its winding, which BuildMesh decided. "s off" keeps readers that would
// smooth across shared corners from doing so. Written out, the normals cost a
// third of the OBJ's time on maps whose faces each turn their own way.

char* PutMaterialName(char* p, const MeshDocument& doc, int group) {
  return p + FormatMaterialName(*doc.data, doc.mesh->groupFaceCount, group, p);
}

enum ObjSection { kObjHead, kObjVertices, kObjTexcoords, kObjFaces };

// A face's corners as listed, or reversed: the OBJ numbers of its vertex and
// texture coordinate, counter-clockwise seen from outside. Shared texture
// coordinates are seldom more than a few thousand; with kFewTexcoords (fewer
// than 10^4 of them) their numbers are made as at most four digits.
template <bool kFewTexcoords>
[[gnu::always_inline]] inline char* PutObjFace(char* p, const Mesh& mesh, std::uint32_t f, bool reversed) {
  p = Put(p, "f");
  // In line, as the document's faces: no loop around a corner's numbers.
#pragma GCC unroll 4
  for (int k = 0; k < 4; ++k) {
    const std::uint32_t corner = 4 * f + static_cast<std::uint32_t>(reversed ? 3 - k : k);
    p = PutUnsigned(Put(p, " "), mesh.faces[f].corner[corner % 4] + 1);
    if (kFewTexcoords)
      p = Put(p, "/"), p += FormatSmallUnsigned(mesh.texcoord[corner] + 1, p);
    else
      p = PutUnsigned(Put(p, "/"), (mesh.texcoord ? mesh.texcoord[corner] : corner) + 1);
  }
  return Put(p, "\n");
}

// The faces from the ith while a face has room, and where they end.
struct ObjFacesOut {
  char* p;
  std::uint32_t i;
};
template <bool kFewTexcoords>
ObjFacesOut PutObjFaces(char* p, const MeshDocument& doc, std::uint32_t i, char* out, std::size_t capacity) {
  const Mesh& mesh = *doc.mesh;
  for (; i < mesh.faceCount && static_cast<std::size_t>(p - out) + kMaxItem <= capacity; ++i) {
    const MeshFace& face = mesh.faces[i];
    const int group = MeshGroup(face.texture);
    if (i == 0 || MeshGroup(mesh.faces[i - 1].texture) != group)
      p = Put(PutMaterialName(Put(p, "usemtl "), doc, group), "\n");
    if (face.turn != Turn::Reversed) p = PutObjFace<kFewTexcoords>(p, mesh, i, false);
    if (face.turn != Turn::Listed) p = PutObjFace<kFewTexcoords>(p, mesh, i, true);
  }
  return {p, i};
}

// Out of line: made in line with the glb's writer, the OBJ's larger loops
// changed how that was compiled, at 1.4 million instructions more a glb.
[[gnu::noinline]] std::size_t NextObj(const MeshDocument& doc, MeshCursor* cursor, char* out, std::size_t capacity) {
  const Mesh& mesh = *doc.mesh;
  char* p = out;
  while (cursor->section >= 0 && static_cast<std::size_t>(p - out) + kMaxItem <= capacity) {
    std::uint32_t& i = cursor->index;
    switch (cursor->section) {
      case kObjHead:
        p = Put(p, "# blockmqo\n");
        if (doc.mtlFileName) {
          std::size_t n = 0;  // a line must fit one step
          while (n < 256 && doc.mtlFileName[n]) ++n;
          p = Put(p, "mtllib ");
          std::memcpy(p, doc.mtlFileName, n);
          p = Put(p + n, "\n");
        }
        p = Put(p, "o map\ns off\n");
        cursor->section = kObjVertices, i = 0;
        break;
      case kObjVertices:
        // A loop of its own, as most of the file is in this and the faces'.
        for (; i < mesh.vertexCount && static_cast<std::size_t>(p - out) + kMaxItem <= capacity; ++i) {
          const MeshVertex& v = mesh.vertices[i];
          p = Put(PutFloat(Put(PutFloat(Put(PutFloat(Put(p, "v "), v.x), " "), v.y), " "), v.z), "\n");
        }
        if (i == mesh.vertexCount) cursor->section = kObjTexcoords, i = 0, cursor->part = 0;
        break;
      case kObjTexcoords:
        // One per corner, or per UV pair at its first use, in corner order;
        // V counts up from the bottom here.
        if (const std::uint32_t* texcoord = mesh.texcoord) {
          // After the last, no corner is looked through for one more.
          const std::uint32_t corners = 4 * mesh.faceCount, wanted = cursor->part;
          std::uint32_t c = wanted < mesh.texcoordCount ? i : corners;
          while (c < corners && texcoord[c] != wanted) ++c;
          i = c;
        }
        if (i < 4 * mesh.faceCount) {
          const MeshFace& face = mesh.faces[i / 4];
          p = PutFloat(Put(p, "vt "), face.u[i % 4]);
          p = Put(PutFloat(Put(p, " "), 1.0f - face.v[i % 4]), "\n");
          ++i, ++cursor->part;
        } else {
          cursor->section = kObjFaces, i = 0;
        }
        break;
      default:
        // The faces come grouped: each group names its material once.
        {
          const ObjFacesOut done = mesh.texcoord && mesh.texcoordCount < 10000 ? PutObjFaces<true>(p, doc, i, out, capacity)
                                                                               : PutObjFaces<false>(p, doc, i, out, capacity);
          p = done.p, i = done.i;
        }
        if (i == mesh.faceCount) cursor->section = -1;
        break;
    }
  }
  return static_cast<std::size_t>(p - out);
}

// A group's lines, then its map_Kd line; the file's path may be longer than
// any buffer, so it goes out in as many pieces as it takes (`part`: how much
// of it is out).
std::size_t NextMtl(const MeshDocument& doc, MeshCursor* cursor, char* out, std::size_t capacity) {
  const std::uint32_t* groups = doc.mesh->groupFaceCount;
  char* p = out;
  if (cursor->section == 0) p = Put(p, "# blockmqo\n"), cursor->section = 1, cursor->index = 0;
  while (cursor->section > 0 && static_cast<std::size_t>(p - out) + kMaxItem <= capacity) {
    const int group = cursor->section - 1;
    const char* name = group < kTextureNameCount ? doc.data->textureNames[group] : "";
    if (*name && doc.images && doc.images[group].path) name = doc.images[group].path;
    if (groups[group] && cursor->index == 0) {
      p = Put(PutMaterialName(Put(p, "\nnewmtl "), doc, group), "\nKd 1 1 1\n");
      if (*name) p = Put(p, "map_Kd "), cursor->index = 1, cursor->part = 0;
    }
    if (groups[group] && cursor->index == 1) {
      const char* rest = name + cursor->part;
      for (char* end = out + capacity - 1; *rest && p < end; ++rest) *p++ = *rest == '\r' || *rest == '\n' ? '_' : *rest;
      cursor->part = static_cast<std::uint32_t>(rest - name);
      if (*rest) break;  // the rest in the next piece
      *p++ = '\n';
    }
    cursor->section = cursor->section == kMeshGroups ? -1 : cursor->section + 1, cursor->index = 0;
  }
  return static_cast<std::size_t>(p - out);
}

// ---- glTF 2.0 binary: a JSON chunk, then a BIN chunk holding, for each
// primitive, its positions, normals, texture coordinates and indices, then
// the images' files. The layout and the whole JSON are made once, when the
// writer starts; only the BIN chunk streams.

// JSON strings must be UTF-8: a name that is not is taken as Latin-1. Not
// only the bytes' shapes count: an overlong form, a surrogate or a code point
// past U+10FFFF is refused by JSON readers too, and shows in the range of
// the byte after the lead.
bool IsUtf8(const unsigned char* s) {
  while (*s) {
    const unsigned char lead = *s++;
    int more = lead < 0x80 ? 0 : lead >= 0xc2 && lead <= 0xdf ? 1 : lead >= 0xe0 && lead <= 0xef ? 2
             : lead >= 0xf0 && lead <= 0xf4 ? 3 : -1;
    if (more < 0) return false;
    unsigned char low = lead == 0xe0 ? 0xa0 : lead == 0xf0 ? 0x90 : 0x80;
    unsigned char high = lead == 0xed ? 0x9f : lead == 0xf4 ? 0x8f : 0xbf;
    for (; more > 0; --more, ++s, low = 0x80, high = 0xbf)
      if (*s < low || *s > high) return false;
  }
  return true;
}
char* PutHex(char* p, unsigned char c) {
  const char* digits = "0123456789ABCDEF";
  *p++ = digits[c >> 4];
  *p++ = digits[c & 15];
  return p;
}
char* PutJsonString(char* p, const char* text) {
  const bool utf8 = IsUtf8(reinterpret_cast<const unsigned char*>(text));
  *p++ = '"';
  for (; *text; ++text) {
    auto c = static_cast<unsigned char>(*text);
    if (c == '"' || c == '\\') {
      *p++ = '\\', *p++ = static_cast<char>(c);
    } else if (c < 0x20 || (c >= 0x80 && !utf8)) {
      p = PutHex(Put(p, "\\u00"), c);
    } else {
      *p++ = static_cast<char>(c);
    }
  }
  *p++ = '"';
  return p;
}
// The JSON writer: a context that places the commas, and one function per
// kind of object. Every byte goes through Emit, which counts it and stores it
// only while it fits: MakeLayout sees the whole length and what to do when
// it is too long.
struct Json {
  char* out;
  std::size_t length;
  bool empty;  // nothing yet in the innermost object or array
  bool names;  // write the materials' and images' names
};
void Emit(Json& j, const char* bytes, std::size_t n) {
  if (j.length + n <= kGlbJsonMax) std::memcpy(j.out + j.length, bytes, n);
  j.length += n;
}
void Emit(Json& j, const char* text) { Emit(j, text, std::strlen(text)); }
void Member(Json& j, const char* name) {
  if (!j.empty) Emit(j, ",");
  j.empty = false;
  if (name) Emit(j, "\""), Emit(j, name), Emit(j, "\":");
}
void Open(Json& j, const char* name, char bracket) {
  Member(j, name);
  Emit(j, &bracket, 1);
  j.empty = true;
}
void Close(Json& j, char bracket) {
  Emit(j, &bracket, 1);
  j.empty = false;
}
void Number(Json& j, const char* name, std::uint32_t value) {
  char digits[16];
  Member(j, name), Emit(j, digits, FormatUnsigned(value, digits));
}
void Real(Json& j, float value) {
  char digits[kShortestFloatMax];
  Member(j, nullptr), Emit(j, digits, static_cast<std::size_t>(PutFloat(digits, value) - digits));
}
void Text(Json& j, const char* name, const char* text) {
  char quoted[2 + 6 * kMaterialNameMax];  // every byte \u00XX at worst
  Member(j, name), Emit(j, quoted, static_cast<std::size_t>(PutJsonString(quoted, text) - quoted));
}

void Material(Json& j, const MeshDocument& doc, const GlbPrimitive& prim) {
  char name[kMaterialNameMax + 1];
  name[FormatMaterialName(*doc.data, doc.mesh->groupFaceCount, prim.group, name)] = '\0';
  Open(j, nullptr, '{');
  if (j.names) Text(j, "name", name);
  // Blocks are not metal; the default (fully metallic) shows them black.
  Open(j, "pbrMetallicRoughness", '{');
  Number(j, "metallicFactor", 0);
  if (prim.image >= 0) {
    Open(j, "baseColorTexture", '{');
    Number(j, "index", static_cast<std::uint32_t>(prim.image));
    Close(j, '}');
  }
  Close(j, '}');
  Close(j, '}');
}

void Primitive(Json& j, int p) {
  const auto first = 4 * static_cast<std::uint32_t>(p);  // its four accessors
  Open(j, nullptr, '{');
  Open(j, "attributes", '{');
  Number(j, "POSITION", first);
  Number(j, "NORMAL", first + 1);
  Number(j, "TEXCOORD_0", first + 2);
  Close(j, '}');
  Number(j, "indices", first + 3);
  Number(j, "material", static_cast<std::uint32_t>(p));
  Number(j, "mode", 4);  // triangles
  Close(j, '}');
}

enum Stream { kPositions, kNormals, kTexcoords, kIndices, kStreams };

void Accessor(Json& j, const Mesh& mesh, const GlbPrimitive& prim, int p, Stream stream) {
  static const char* const kType[kStreams] = {"VEC3", "VEC3", "VEC2", "SCALAR"};
  Open(j, nullptr, '{');
  Number(j, "bufferView", kStreams * static_cast<std::uint32_t>(p) + stream);
  Number(j, "componentType", stream != kIndices ? 5126 : prim.wide ? 5125 : 5123);
  Number(j, "count", stream == kIndices ? prim.indices : prim.vertices);
  Text(j, "type", kType[stream]);
  if (stream == kPositions) {  // positions must state their bounds
    for (const float* bound : {mesh.groupMin[prim.group], mesh.groupMax[prim.group]}) {
      Open(j, bound == mesh.groupMin[prim.group] ? "min" : "max", '[');
      for (int k = 0; k < 3; ++k) Real(j, bound[k]);
      Close(j, ']');
    }
  }
  Close(j, '}');
}

// An image's view has no target.
void BufferView(Json& j, std::uint32_t offset, std::uint32_t length, std::uint32_t target) {
  Open(j, nullptr, '{');
  Number(j, "buffer", 0);
  Number(j, "byteOffset", offset);
  Number(j, "byteLength", length);
  if (target) Number(j, "target", target);
  Close(j, '}');
}

std::size_t WriteJson(const MeshDocument& doc, const GlbLayout& layout, char* out, bool names) {
  Json j{out, 0, true, names};
  const int n = layout.count;
  Open(j, nullptr, '{');
  Open(j, "asset", '{');
  Text(j, "generator", "blockmqo");
  Text(j, "version", "2.0");
  Close(j, '}');
  Number(j, "scene", 0);
  Open(j, "scenes", '[');
  Open(j, nullptr, '{');
  Open(j, "nodes", '[');
  Number(j, nullptr, 0);
  Close(j, ']');
  Close(j, '}');
  Close(j, ']');
  Open(j, "nodes", '[');
  Open(j, nullptr, '{');
  Text(j, "name", "map");
  if (n) Number(j, "mesh", 0);
  Close(j, '}');
  Close(j, ']');
  if (n) {  // glTF allows no empty arrays
    Open(j, "meshes", '[');
    Open(j, nullptr, '{');
    Text(j, "name", "map");
    Open(j, "primitives", '[');
    for (int p = 0; p < n; ++p) Primitive(j, p);
    Close(j, ']');
    Close(j, '}');
    Close(j, ']');
    Open(j, "materials", '[');
    for (int p = 0; p < n; ++p) Material(j, doc, layout.primitive[p]);
    Close(j, ']');
  }
  const auto images = static_cast<std::uint32_t>(layout.images);
  if (images) {
    // One texture an image, all with the default sampler (repeat, the
    // viewer's filter).
    Open(j, "textures", '[');
    for (std::uint32_t t = 0; t < images; ++t) {
      Open(j, nullptr, '{');
      Number(j, "sampler", 0);
      Number(j, "source", t);
      Close(j, '}');
    }
    Close(j, ']');
    Open(j, "samplers", '[');
    Open(j, nullptr, '{');
    Close(j, '}');
    Close(j, ']');
    Open(j, "images", '[');
    for (std::uint32_t t = 0; t < images; ++t) {
      const int name = layout.imageGroup[t];
      Open(j, nullptr, '{');
      if (j.names) Text(j, "name", doc.data->textureNames[name]);
      Number(j, "bufferView", kStreams * static_cast<std::uint32_t>(n) + t);
      Text(j, "mimeType", doc.images[name].mimeType);
      Close(j, '}');
    }
    Close(j, ']');
  }
  if (n) {
    static const Stream kAll[kStreams] = {kPositions, kNormals, kTexcoords, kIndices};
    Open(j, "accessors", '[');
    for (int p = 0; p < n; ++p)
      for (Stream s : kAll) Accessor(j, *doc.mesh, layout.primitive[p], p, s);
    Close(j, ']');
    Open(j, "bufferViews", '[');
    for (int p = 0; p < n; ++p)
      for (Stream s : kAll)
        BufferView(j, layout.primitive[p].offset[s], layout.primitive[p].length[s], s == kIndices ? 34963 : 34962);
    for (std::uint32_t t = 0; t < images; ++t)
      BufferView(j, layout.imageOffset[t], static_cast<std::uint32_t>(doc.images[layout.imageGroup[t]].size), 0);
    Close(j, ']');
    Open(j, "buffers", '[');
    Open(j, nullptr, '{');
    Number(j, "byteLength", layout.binLength);
    Close(j, '}');
    Close(j, ']');
  }
  Close(j, '}');
  return j.length;
}

void MakeLayout(const MeshDocument& doc, GlbLayout* layout) {
  const Mesh& mesh = *doc.mesh;
  std::memset(layout, 0, sizeof *layout);  // 24 KB: no copy through the stack
  int image[kTextureNameCount];
  layout->images = NumberImages(doc, image, layout->imageGroup);
  for (std::uint32_t g = 0, first = 0; g < kMeshGroups; first += mesh.groupFaceCount[g++]) {
    if (!mesh.groupFaceCount[g]) continue;
    GlbPrimitive& prim = layout->primitive[layout->count++];
    prim.group = static_cast<int>(g);
    prim.first = first;
    prim.end = first + mesh.groupFaceCount[g];
    prim.vertices = mesh.gltfVertexCount[g];
    prim.indices = mesh.groupIndexCount[g];
    // 65535 is the restart value, which no index may take.
    prim.wide = prim.vertices > 65535;
    prim.image = g < kTextureNameCount ? image[g] : -1;
    prim.length[kPositions] = prim.length[kNormals] = 12 * prim.vertices;
    prim.length[kTexcoords] = 8 * prim.vertices;
    prim.length[kIndices] = (prim.wide ? 4 : 2) * prim.indices;
    for (int s = 0; s < kStreams; ++s) {
      prim.offset[s] = layout->binLength;
      layout->binLength += (prim.length[s] + 3) & ~3u;
    }
  }
  // Nothing to draw, nothing to texture: such a glb holds no BIN chunk.
  for (int t = 0; t < layout->images && layout->count; ++t) {
    layout->imageOffset[t] = layout->binLength;
    layout->binLength += static_cast<std::uint32_t>((doc.images[layout->imageGroup[t]].size + 3) & ~std::size_t{3});
  }
  if (!layout->count) layout->images = 0;
  // Names are the only part the map makes long. The longest JSON (11
  // primitives, 10 images, every name 31 bytes escaped) fits with its names,
  // as the tests show; should it not, the names go, and the rest is a few
  // hundred bytes an object.
  std::size_t length = WriteJson(doc, *layout, layout->json, true);
  if (length > kGlbJsonMax) length = WriteJson(doc, *layout, layout->json, false);
  layout->jsonLength = static_cast<std::uint32_t>(length);
  while (layout->jsonLength % 4) layout->json[layout->jsonLength++] = ' ';
}

char* PutWord(char* p, std::uint32_t value) {  // little-endian
  for (int b = 0; b < 4; ++b) *p++ = static_cast<char>(value >> (8 * b));
  return p;
}

// A face's triangles, each written the way(s) it turns.
template <bool kWide>
char* PutIndices(char* p, const Mesh& mesh, std::uint32_t f) {
  const GlbTriangles& plan = GlbTrianglesOf(mesh.faces[f]);
  std::uint32_t scratch[8];
  const std::uint32_t* number = GltfFaceNumbers(mesh, f, scratch);
  for (int n = 0; n < plan.count; ++n) {
    const std::uint32_t v = number[plan.corner[n]];
    if (kWide) p = PutWord(p, v);
    else *p++ = static_cast<char>(v), *p++ = static_cast<char>(v >> 8);
  }
  return p;
}

enum GlbSection { kGlbHead, kGlbJson, kGlbBinHead, kGlbStreams };

std::size_t NextGlb(const MeshDocument& doc, MeshCursor* cursor, char* out, std::size_t capacity) {
  const Mesh& mesh = *doc.mesh;
  GlbLayout& layout = cursor->glb;
  char* p = out;
  auto room = [&](std::size_t n) { return static_cast<std::size_t>(p - out) + n <= capacity; };
  while (cursor->section >= 0 && room(kMaxItem)) {
    std::uint32_t& i = cursor->index;
    if (cursor->section == kGlbHead) {
      MakeLayout(doc, &layout);
      const std::uint32_t total = 12 + 8 + layout.jsonLength + (layout.count ? 8 + layout.binLength : 0);
      p = PutWord(PutWord(PutWord(p, 0x46546c67u), 2), total);  // "glTF", version 2
      p = PutWord(PutWord(p, layout.jsonLength), 0x4e4f534au);   // "JSON"
      cursor->section = kGlbJson, i = 0;
    } else if (cursor->section == kGlbJson) {
      std::size_t n = layout.jsonLength - i;
      if (!room(n)) n = capacity - static_cast<std::size_t>(p - out);
      std::memcpy(p, layout.json + i, n);
      p += n, i += static_cast<std::uint32_t>(n);
      if (i == layout.jsonLength) cursor->section = kGlbBinHead;
    } else if (cursor->section == kGlbBinHead) {
      if (layout.count) p = PutWord(PutWord(p, layout.binLength), 0x004e4942u);  // "BIN"
      cursor->section = layout.count ? kGlbStreams : -1, i = 0;
    } else if (const int image = cursor->section - kGlbStreams - kStreams * layout.count; image >= 0) {
      // An image's file, as much as fits, then its padding: within the
      // room with its last byte, or the last bytes wait for the next piece.
      const MeshImage& file = doc.images[layout.imageGroup[image]];
      const std::size_t pad = (4 - file.size % 4) % 4;
      std::size_t n = file.size - i;
      if (!room(n + pad)) n = capacity - static_cast<std::size_t>(p - out) - pad;
      std::memcpy(p, file.bytes + i, n);
      p += n, i += static_cast<std::uint32_t>(n);
      if (i == file.size) {
        std::memset(p, 0, pad);
        p += pad;
        ++cursor->section, i = 0;
        if (image + 1 == layout.images) cursor->section = -1;
      }
    } else {
      const auto stream = static_cast<Stream>((cursor->section - kGlbStreams) % kStreams);
      const GlbPrimitive& prim = layout.primitive[(cursor->section - kGlbStreams) / kStreams];
      if (i < prim.first) i = prim.first;
      // Each glTF vertex goes out at its first use; a loop for each stream.
      // Most faces' first uses are one side's four corners, which `four`
      // puts at once: in one go where registers can, else by corners.
      auto byCorners = [](auto put) {
        return [put](char* q, const MeshFace& face, int side) {
#pragma GCC unroll 4
          for (int k = 0; k < 4; ++k) q = put(q, face, side, k);
          return q;
        };
      };
      auto vertices = [&](auto put, auto four) {
        for (; i < prim.end && room(128); ++i) {
          const unsigned firsts = mesh.gltfFirst[i];
          if (firsts == 0x0f || firsts == 0xf0) {
            p = four(p, mesh.faces[i], firsts >> 4 & 1);
            continue;
          }
          for (unsigned rest = firsts; rest; rest &= rest - 1) {
            const int c = std::countr_zero(rest);
            p = put(p, mesh.faces[i], c / 4, c % 4);
          }
        }
      };
      if (stream == kIndices) {
        if (prim.wide)
          for (; i < prim.end && room(128); ++i) p = PutIndices<true>(p, mesh, i);
        else
          for (; i < prim.end && room(128); ++i) p = PutIndices<false>(p, mesh, i);
      } else if (stream == kPositions) {
        auto put = [&](char* q, const MeshFace& face, int, int k) {
          std::memcpy(q, &mesh.vertices[face.corner[k]], 12);
          return q + 12;
        };
        vertices(put, byCorners(put));
      } else if (stream == kNormals) {
        auto put = [](char* q, const MeshFace& face, int side, int) {
          for (int j = 0; j < 3; ++j, q += 4) {
            const float n = SideNormal(face, side, j);
            std::memcpy(q, &n, 4);
          }
          return q;
        };
#if defined(__SSE2__)
        // The normal and what follows it in the face, one register: as
        // SideNormal, the other side's is 0 - n, never -0; then the four
        // copies as three words of four.
        static_assert(offsetof(MeshFace, normal) + 16 <= sizeof(MeshFace));
        vertices(put, [](char* q, const MeshFace& face, int side) {
          __m128 n = _mm_loadu_ps(face.normal);
          if (side) n = _mm_sub_ps(_mm_setzero_ps(), n);
          _mm_storeu_ps(reinterpret_cast<float*>(q), _mm_shuffle_ps(n, n, _MM_SHUFFLE(0, 2, 1, 0)));
          _mm_storeu_ps(reinterpret_cast<float*>(q + 16), _mm_shuffle_ps(n, n, _MM_SHUFFLE(1, 0, 2, 1)));
          _mm_storeu_ps(reinterpret_cast<float*>(q + 32), _mm_shuffle_ps(n, n, _MM_SHUFFLE(2, 1, 0, 2)));
          return q + 48;
        });
#else
        vertices(put, byCorners(put));
#endif
      } else {
        auto put = [](char* q, const MeshFace& face, int, int k) {
          std::memcpy(q, &face.u[k], 4);
          std::memcpy(q + 4, &face.v[k], 4);
          return q + 8;
        };
#if defined(__SSE2__)
        vertices(put, [](char* q, const MeshFace& face, int) {
          const __m128 u = _mm_loadu_ps(face.u), v = _mm_loadu_ps(face.v);
          _mm_storeu_ps(reinterpret_cast<float*>(q), _mm_unpacklo_ps(u, v));
          _mm_storeu_ps(reinterpret_cast<float*>(q + 16), _mm_unpackhi_ps(u, v));
          return q + 32;
        });
#else
        vertices(put, byCorners(put));
#endif
      }
      if (i == prim.end) {
        for (std::uint32_t pad = prim.length[stream]; pad % 4; ++pad) *p++ = 0;
        ++cursor->section, i = 0;
        if (cursor->section == kGlbStreams + kStreams * layout.count && !layout.images) cursor->section = -1;
      }
    }
  }
  return static_cast<std::size_t>(p - out);
}

}  // namespace

std::size_t MeshDocumentNext(const MeshDocument& doc, MeshCursor* cursor, char* out,
                             std::size_t capacity) {
  if (cursor->section < 0) return 0;
  switch (doc.format) {
    case MeshFormat::Mqo: return NextMqo(doc, cursor, out, capacity);
    case MeshFormat::Obj: return NextObj(doc, cursor, out, capacity);
    case MeshFormat::Mtl: return NextMtl(doc, cursor, out, capacity);
    case MeshFormat::Glb: return NextGlb(doc, cursor, out, capacity);
  }
  return 0;
}

unsigned GlbNamesWithoutImage(const MeshDocument& doc) {
  int image[kTextureNameCount], name[kTextureNameCount];
  NumberImages(doc, image, name);
  unsigned without = 0;
  for (int t = 0; t < kTextureNameCount; ++t)
    if (doc.mesh->groupFaceCount[t] && *doc.data->textureNames[t] && image[t] < 0) without |= 1u << t;
  return without;
}

std::size_t FormatMeshLoss(MeshWarning kind, std::uint32_t blocksLeftOut, const char (*names)[kTextureNameField + 1],
                           unsigned without, char* out) {
  if (kind == MeshWarning::BlocksLeftOut)
    return FormatCountedWarning(
        blocksLeftOut,
        "block has an infinite or not-a-number corner or texture coordinate, which this format "
        "cannot hold; it is left out",
        "blocks have an infinite or not-a-number corner or texture coordinate, which this "
        "format cannot hold; they are left out",
        out);
  std::uint32_t count = 0;
  for (int t = 0; t < kTextureNameCount; ++t) count += without >> t & 1;
  std::size_t n = FormatCountedWarning(
      count,
      "texture has no image in the glb (not found, unreadable, or over 8192 pixels a side); its name stays on its "
      "material:",
      "textures have no image in the glb (not found, unreadable, or over 8192 pixels a side); their names stay on "
      "their materials:",
      out);
  // The names as the map has them, control bytes as \xNN.
  char* p = out + n;
  for (int t = 0, listed = 0; t < kTextureNameCount; ++t) {
    if (!(without >> t & 1)) continue;
    p = Put(p, listed++ ? ", " : " ");
    for (const char* c = names[t]; *c; ++c)
      if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7f) p = PutHex(Put(p, "\\x"), static_cast<unsigned char>(*c));
      else *p++ = *c;
  }
  return static_cast<std::size_t>(p - out);
}
