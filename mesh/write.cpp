// The mesh's writers: the MQO document holding it, Wavefront OBJ with its
// MTL, and glTF 2.0 binary. Each is a formatter: whole items into the
// caller's buffer, resumed from the cursor.
//
// OBJ and glTF numbers are the shortest text that reads back as the same
// float (std::to_chars): the mesh keeps exact float values, and a fixed
// number of decimals would move points that meet off each other, or cut
// small maps' detail.
#include <charconv>
#include <cstring>

#include "mesh/mesh.h"
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
char* PutUnsigned(char* p, std::uint32_t value) { return p + FormatUnsigned(value, p); }
// Zero is written without a sign.
char* PutFloat(char* p, float value) { return std::to_chars(p, p + 32, value == 0 ? 0.0f : value).ptr; }

bool EndsWithNoCase(const char* name, const char* suffix) {
  std::size_t n = std::strlen(name), m = std::strlen(suffix);
  if (n < m) return false;
  for (std::size_t i = 0; i < m; ++i) {
    char c = name[n - m + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != suffix[i]) return false;
  }
  return true;
}

// glTF references only PNG and JPEG images.
bool IsImageName(const char* name) {
  return EndsWithNoCase(name, ".png") || EndsWithNoCase(name, ".jpg") ||
         EndsWithNoCase(name, ".jpeg");
}

const char* const kOutOfRangeName = "texture number outside 0-9";

// Whether the polygon, with its corners in this order, turns counter-clockwise
// seen from outside its block: its (Newell) normal points away from the
// block's centre. A face through the centre, as in a flat block, does not.
struct Point {
  double x[3];
};
Point BlockCentre(const MeshDocument& doc, const MeshFace& face) {
  const BlockRecord& block = doc.data->blocks[face.block];
  Point centre{};
  for (int c = 0; c < 8; ++c) {
    centre.x[0] -= block.vx[c] / 8.0, centre.x[1] += block.vy[c] / 8.0, centre.x[2] += block.vz[c] / 8.0;
  }
  return centre;
}
bool TurnsOutward(const MeshDocument& doc, const MeshFace& face, const Point& centre, const int* order, int n) {
  double normal[3] = {}, middle[3] = {};
  for (int i = 0; i < n; ++i) {
    const MeshVertex& a = doc.mesh->vertices[face.corner[order[i]]];
    const MeshVertex& b = doc.mesh->vertices[face.corner[order[(i + 1) % n]]];
    normal[0] += (double{a.y} - b.y) * (double{a.z} + b.z);
    normal[1] += (double{a.z} - b.z) * (double{a.x} + b.x);
    normal[2] += (double{a.x} - b.x) * (double{a.y} + b.y);
    middle[0] += a.x / double(n), middle[1] += a.y / double(n), middle[2] += a.z / double(n);
  }
  double dot = 0;
  for (int j = 0; j < 3; ++j) dot += normal[j] * (middle[j] - centre.x[j]);
  return dot > 0;
}

// ---- MQO: the document's header and materials, the mesh as its object.

enum MqoSection { kMqoHead, kMqoMaterials, kMqoObject, kMqoVertices, kMqoFaceHead, kMqoFaces, kMqoTail };

std::size_t NextMqo(const MeshDocument& doc, MeshCursor* cursor, char* out, std::size_t capacity) {
  const Mesh& mesh = *doc.mesh;
  char* p = out;
  // Texture numbers outside 0..9 get an eleventh material, after the usual ten.
  const int materials = cursor->section <= kMqoMaterials && mesh.groupFaceCount[kOutOfRangeGroup]
                            ? kTextureNameCount + 1 : kTextureNameCount;
  while (cursor->section >= 0 && static_cast<std::size_t>(p - out) + kMaxItem <= capacity) {
    std::uint32_t& i = cursor->index;
    switch (cursor->section) {
      case kMqoHead:
        p = Put(Put(PutUnsigned(Put(p, kMqoDocumentHead), static_cast<std::uint32_t>(materials)), " {"), "\r\n");
        cursor->section = kMqoMaterials, i = 0;
        break;
      case kMqoMaterials:
        if (i < kTextureNameCount) {
          const char* name = doc.data->textureNames[i];
          p += FormatMqoMaterial(*name ? name : "empty", name, p);
        } else {
          p += FormatMqoMaterial(kOutOfRangeName, "", p);
        }
        if (++i == static_cast<std::uint32_t>(materials)) cursor->section = kMqoObject, i = 0;
        break;
      case kMqoObject:
        p = Put(PutUnsigned(Put(p, kMqoObjectHead), mesh.vertexCount), " {\r\n");
        cursor->section = kMqoVertices;
        break;
      case kMqoVertices:
        if (i < mesh.vertexCount) {
          const MeshVertex& v = mesh.vertices[i++];
          std::uint32_t bits[3];
          std::memcpy(bits, &v, sizeof bits);
          p += FormatMqoVertex(bits[0], bits[1], bits[2], p);
        } else {
          cursor->section = kMqoFaceHead, i = 0;
        }
        break;
      case kMqoFaceHead:
        p = Put(PutUnsigned(Put(p, "\t}\r\n\tface "), mesh.faceCount), " {\r\n");
        cursor->section = kMqoFaces;
        break;
      case kMqoFaces:
        if (i < mesh.faceCount) {
          const MeshFace& face = mesh.faces[i++];
          p += FormatMqoFace(face.corner, MeshGroup(face.texture), face.u, face.v, p);
        } else {
          cursor->section = kMqoTail;
        }
        break;
      default:
        p = Put(p, "\t}\r\n}\r\n\r\nEof");
        cursor->section = -1;
        break;
    }
  }
  return static_cast<std::size_t>(p - out);
}

// ---- OBJ and MTL: LF line ends, one material per group in use.

// A material name is one word: the texture's name with blanks and control
// bytes as "_" ("empty" for an empty name), followed by "_" and the number
// when an earlier group in use already has that name.
char* PutObjName(char* p, const MeshDocument& doc, int group) {
  auto word = [&](int g, char* q) {
    if (g == kOutOfRangeGroup) return Put(q, "texture_number_outside_0-9");
    const char* name = doc.data->textureNames[g];
    if (!*name) return Put(q, "empty");
    for (; *name; ++name) *q++ = static_cast<unsigned char>(*name) <= ' ' || *name == 0x7f ? '_' : *name;
    return q;
  };
  char* end = word(group, p);
  for (int g = 0; g < group; ++g) {
    char earlier[64];
    char* e = doc.mesh->groupFaceCount[g] ? word(g, earlier) : earlier;
    if (e - earlier == end - p && std::memcmp(earlier, p, static_cast<std::size_t>(e - earlier)) == 0)
      return PutUnsigned(Put(end, "_"), static_cast<std::uint32_t>(group));
  }
  return end;
}

enum ObjSection { kObjHead, kObjVertices, kObjTexcoords, kObjGroup, kObjFaces };

std::size_t NextObj(const MeshDocument& doc, MeshCursor* cursor, char* out, std::size_t capacity) {
  const Mesh& mesh = *doc.mesh;
  const std::uint32_t* groups = mesh.groupFaceCount;
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
        p = Put(p, "o map\n");
        cursor->section = kObjVertices, i = 0;
        break;
      case kObjVertices:
        if (i < mesh.vertexCount) {
          const MeshVertex& v = mesh.vertices[i++];
          p = Put(PutFloat(Put(PutFloat(Put(PutFloat(Put(p, "v "), v.x), " "), v.y), " "), v.z), "\n");
        } else {
          cursor->section = kObjTexcoords, i = 0;
        }
        break;
      case kObjTexcoords:
        // Four per face, in corner order; V counts up from the bottom here.
        if (i < 4 * mesh.faceCount) {
          const MeshFace& face = mesh.faces[i / 4];
          p = PutFloat(Put(p, "vt "), face.u[i % 4]);
          p = Put(PutFloat(Put(p, " "), 1.0f - face.v[i % 4]), "\n");
          ++i;
        } else {
          cursor->section = kObjGroup, cursor->part = 0;
        }
        break;
      case kObjGroup:
        // A group at a time, so that each material is named once.
        if (groups[cursor->part])
          p = Put(PutObjName(Put(p, "usemtl "), doc, static_cast<int>(cursor->part)), "\n");
        cursor->section = kObjFaces, i = 0;
        break;
      default:
        if (i == mesh.faceCount) {
          cursor->section = ++cursor->part == kMeshGroups ? -1 : kObjGroup;
        } else if (const MeshFace& face = mesh.faces[i]; MeshGroup(face.texture) != static_cast<int>(cursor->part)) {
          ++i;
        } else {
          static const int kListed[4] = {0, 1, 2, 3}, kReversed[4] = {3, 2, 1, 0};
          const int* order = TurnsOutward(doc, face, BlockCentre(doc, face), kListed, 4) ? kListed : kReversed;
          p = Put(p, "f");
          for (int k = 0; k < 4; ++k) {
            p = PutUnsigned(Put(p, " "), face.corner[order[k]] + 1);
            p = PutUnsigned(Put(p, "/"), 4 * i + static_cast<std::uint32_t>(order[k]) + 1);
          }
          p = Put(p, "\n");
          ++i;
        }
        break;
    }
  }
  return static_cast<std::size_t>(p - out);
}

std::size_t NextMtl(const MeshDocument& doc, MeshCursor* cursor, char* out, std::size_t capacity) {
  const std::uint32_t* groups = doc.mesh->groupFaceCount;
  char* p = out;
  if (cursor->section == 0) p = Put(p, "# blockmqo\n"), cursor->section = 1;
  for (int& g = cursor->section; g > 0 && static_cast<std::size_t>(p - out) + kMaxItem <= capacity;) {
    const int group = g - 1;
    g = g == kMeshGroups ? -1 : g + 1;
    if (!groups[group]) continue;
    p = Put(PutObjName(Put(p, "\nnewmtl "), doc, group), "\nKd 1 1 1\n");
    const char* name = group < kTextureNameCount ? doc.data->textureNames[group] : "";
    if (*name) {
      p = Put(p, "map_Kd ");
      for (; *name; ++name) *p++ = *name == '\r' || *name == '\n' ? '_' : *name;
      p = Put(p, "\n");
    }
  }
  return static_cast<std::size_t>(p - out);
}

// ---- glTF 2.0 binary: a JSON chunk, then a BIN chunk holding, for each
// primitive, its positions, texture coordinates and indices.

struct Primitive {
  int group;
  std::uint32_t faces, vertices;
  std::uint32_t first, end;  // where its faces lie: one run when glTF vertices are numbered
  bool wide;                 // 32-bit indices
  int image;                 // its image's number, or -1
  std::uint32_t offset[3];   // positions, texture coordinates, indices
  std::uint32_t length[3];
};
struct Layout {
  int count, images;
  Primitive primitive[kMeshGroups];
  std::uint32_t binLength;
};

Layout MakeLayout(const MeshDocument& doc) {
  const std::uint32_t* groups = doc.mesh->groupFaceCount;
  Layout layout{};
  std::uint32_t run = 0;
  for (int g = 0; g < kMeshGroups; ++g) {
    if (!groups[g]) continue;
    Primitive& prim = layout.primitive[layout.count++];
    prim.group = g;
    prim.faces = groups[g];
    const bool grouped = doc.mesh->gltfCorner != nullptr;
    prim.first = grouped ? run : 0;
    prim.end = grouped ? run + prim.faces : doc.mesh->faceCount;
    run += prim.faces;
    prim.vertices = doc.mesh->gltfCorner ? doc.mesh->gltfVertexCount[g] : 4 * prim.faces;
    // 65535 is the restart value, which no index may take.
    prim.wide = prim.vertices > 65535;
    prim.image = g < kTextureNameCount && IsImageName(doc.data->textureNames[g]) ? layout.images++ : -1;
    prim.length[0] = 12 * prim.vertices;
    prim.length[1] = 8 * prim.vertices;
    prim.length[2] = (prim.wide ? 4 : 2) * 6 * prim.faces;
    for (int s = 0; s < 3; ++s) {
      prim.offset[s] = layout.binLength;
      layout.binLength += (prim.length[s] + 3) & ~3u;
    }
  }
  return layout;
}

// JSON strings must be UTF-8: a name that is not is taken as Latin-1.
bool IsUtf8(const unsigned char* s) {
  while (*s) {
    int more = *s < 0x80 ? 0 : *s >= 0xc2 && *s <= 0xdf ? 1 : *s >= 0xe0 && *s <= 0xef ? 2
             : *s >= 0xf0 && *s <= 0xf4 ? 3 : -1;
    if (more < 0) return false;
    for (++s; more > 0; --more, ++s)
      if ((*s & 0xc0) != 0x80) return false;
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
// A relative URI: unreserved bytes and "/" as they are ("\" becomes "/"),
// everything else percent-encoded.
char* PutUri(char* p, const char* name) {
  *p++ = '"';
  for (; *name; ++name) {
    auto c = static_cast<unsigned char>(*name);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
        std::strchr("-._~/", c))
      *p++ = static_cast<char>(c);
    else if (c == '\\')
      *p++ = '/';
    else
      p = PutHex(Put(p, "%"), c);
  }
  *p++ = '"';
  return p;
}

// Piece i of the JSON, in order: the head, each primitive, each material, the
// textures, each image, three accessors and three buffer views a primitive,
// the tail. Returns its length; 0 for a piece that is empty.
int JsonPieces(const Layout& layout) { return 3 + 9 * layout.count; }
std::size_t JsonPiece(const MeshDocument& doc, const Layout& layout, int i, char* out) {
  const int n = layout.count;
  char* p = out;
  if (i == 0) {
    p = Put(p, "{\"asset\":{\"generator\":\"blockmqo\",\"version\":\"2.0\"},\"scene\":0,"
               "\"scenes\":[{\"nodes\":[0]}],\"nodes\":[{\"name\":\"map\"");
    p = Put(p, n ? ",\"mesh\":0}],\"meshes\":[{\"name\":\"map\",\"primitives\":[" : "}]");
  } else if ((i -= 1) < n) {
    p = Put(p, i ? ",{\"attributes\":{\"POSITION\":" : "{\"attributes\":{\"POSITION\":");
    p = PutUnsigned(p, 3u * static_cast<std::uint32_t>(i));
    p = PutUnsigned(Put(p, ",\"TEXCOORD_0\":"), 3u * static_cast<std::uint32_t>(i) + 1);
    p = PutUnsigned(Put(p, "},\"indices\":"), 3u * static_cast<std::uint32_t>(i) + 2);
    p = PutUnsigned(Put(p, ",\"material\":"), static_cast<std::uint32_t>(i));
    p = Put(p, i == n - 1 ? ",\"mode\":4}]}]" : ",\"mode\":4}");
  } else if ((i -= n) < n) {
    const Primitive& prim = layout.primitive[i];
    const char* name = prim.group < kTextureNameCount ? doc.data->textureNames[prim.group] : kOutOfRangeName;
    p = PutJsonString(Put(p, i ? ",{\"name\":" : ",\"materials\":[{\"name\":"), *name ? name : "empty");
    // Blocks are not metal; the default (fully metallic) shows them black.
    p = Put(p, ",\"pbrMetallicRoughness\":{\"metallicFactor\":0");
    if (prim.image >= 0)
      p = Put(PutUnsigned(Put(p, ",\"baseColorTexture\":{\"index\":"), static_cast<std::uint32_t>(prim.image)), "}");
    p = Put(p, i == n - 1 ? "}}]" : "}}");
  } else if ((i -= n) == 0) {
    for (int t = 0; t < layout.images; ++t)
      p = Put(PutUnsigned(Put(p, t ? ",{\"source\":" : ",\"textures\":[{\"source\":"), static_cast<std::uint32_t>(t)),
              t == layout.images - 1 ? "}]" : "}");
  } else if ((i -= 1) < n) {
    const Primitive& prim = layout.primitive[i];
    if (prim.image >= 0) {
      p = PutUri(Put(p, prim.image ? ",{\"uri\":" : ",\"images\":[{\"uri\":"), doc.data->textureNames[prim.group]);
      p = Put(p, prim.image == layout.images - 1 ? "}]" : "}");
    }
  } else if ((i -= n) < 3 * n) {
    const Primitive& prim = layout.primitive[i / 3];
    p = Put(p, i ? ",{\"bufferView\":" : ",\"accessors\":[{\"bufferView\":");
    p = PutUnsigned(p, static_cast<std::uint32_t>(i));
    p = Put(p, i % 3 == 2 ? (prim.wide ? ",\"componentType\":5125" : ",\"componentType\":5123")
                          : ",\"componentType\":5126");
    p = PutUnsigned(Put(p, ",\"count\":"), i % 3 == 2 ? 6 * prim.faces : prim.vertices);
    p = Put(p, i % 3 == 0 ? ",\"type\":\"VEC3\"" : i % 3 == 1 ? ",\"type\":\"VEC2\"" : ",\"type\":\"SCALAR\"");
    if (i % 3 == 0) {  // positions must state their bounds
      float low[3] = {}, high[3] = {};
      bool first = true;
      if (doc.mesh->gltfCorner) {  // found as the vertices were numbered
        std::memcpy(low, doc.mesh->gltfMin[prim.group], sizeof low);
        std::memcpy(high, doc.mesh->gltfMax[prim.group], sizeof high);
      }
      for (std::uint32_t f = prim.first; !doc.mesh->gltfCorner && f < prim.end; ++f) {
        const MeshFace& face = doc.mesh->faces[f];
        if (MeshGroup(face.texture) != prim.group) continue;
        for (std::uint32_t c : face.corner) {
          const float* xyz = &doc.mesh->vertices[c].x;
          for (int j = 0; j < 3; ++j) {
            if (first || xyz[j] < low[j]) low[j] = xyz[j];
            if (first || xyz[j] > high[j]) high[j] = xyz[j];
          }
          first = false;
        }
      }
      for (int j = 0; j < 6; ++j)
        p = PutFloat(Put(p, j == 0 ? ",\"min\":[" : j == 3 ? "],\"max\":[" : ","), j < 3 ? low[j] : high[j - 3]);
      p = Put(p, "]");
    }
    p = Put(p, i == 3 * n - 1 ? "}]" : "}");
  } else if ((i -= 3 * n) < 3 * n) {
    const Primitive& prim = layout.primitive[i / 3];
    p = Put(p, i ? ",{\"buffer\":0,\"byteOffset\":" : ",\"bufferViews\":[{\"buffer\":0,\"byteOffset\":");
    p = PutUnsigned(p, prim.offset[i % 3]);
    p = PutUnsigned(Put(p, ",\"byteLength\":"), prim.length[i % 3]);
    p = Put(p, i % 3 == 2 ? ",\"target\":34963" : ",\"target\":34962");
    p = Put(p, i == 3 * n - 1 ? "}]" : "}");
  } else {
    if (n) p = Put(PutUnsigned(Put(p, ",\"buffers\":[{\"byteLength\":"), layout.binLength), "}]");
    p = Put(p, "}");
  }
  return static_cast<std::size_t>(p - out);
}

char* PutWord(char* p, std::uint32_t value) {  // little-endian
  for (int b = 0; b < 4; ++b) *p++ = static_cast<char>(value >> (8 * b));
  return p;
}

// The six indices of a face: two triangles, each turned to face out of its
// block.
void FaceIndices(const MeshDocument& doc, std::uint32_t f, std::uint32_t ordinal, std::uint32_t (&out)[6]) {
  const MeshFace& face = doc.mesh->faces[f];
  static const int kTriangles[2][2][3] = {{{0, 1, 2}, {0, 2, 1}}, {{0, 2, 3}, {0, 3, 2}}};
  for (int t = 0; t < 2; ++t) {
    // BuildMesh found the way out when it numbered the glTF vertices.
    const bool outward = doc.mesh->gltfCorner ? face.outward >> t & 1
                                          : TurnsOutward(doc, face, BlockCentre(doc, face), kTriangles[t][0], 3);
    const int* order = kTriangles[t][outward ? 0 : 1];
    for (int k = 0; k < 3; ++k)
      out[3 * t + k] = doc.mesh->gltfCorner ? doc.mesh->gltfCorner[4 * f + static_cast<std::uint32_t>(order[k])]
                                            : 4 * ordinal + static_cast<std::uint32_t>(order[k]);
  }
}

enum GlbSection { kGlbHead, kGlbJson, kGlbBinHead, kGlbStreams };

std::size_t NextGlb(const MeshDocument& doc, MeshCursor* cursor, char* out, std::size_t capacity) {
  const Mesh& mesh = *doc.mesh;
  const Layout layout = MakeLayout(doc);
  char* p = out;
  auto room = [&](std::size_t n) { return static_cast<std::size_t>(p - out) + n <= capacity; };
  while (cursor->section >= 0 && room(kMaxItem)) {
    std::uint32_t& i = cursor->index;
    if (cursor->section == kGlbHead) {
      std::uint32_t json = 0;
      char piece[kMaxItem];
      for (int k = 0; k < JsonPieces(layout); ++k)
        json += static_cast<std::uint32_t>(JsonPiece(doc, layout, k, piece));
      json = (json + 3) & ~3u;
      const std::uint32_t total = 12 + 8 + json + (layout.count ? 8 + layout.binLength : 0);
      p = PutWord(PutWord(PutWord(p, 0x46546c67u), 2), total);  // "glTF", version 2
      p = PutWord(PutWord(p, json), 0x4e4f534au);                // "JSON"
      cursor->section = kGlbJson, i = 0, cursor->part = 0;
    } else if (cursor->section == kGlbJson) {
      if (i < static_cast<std::uint32_t>(JsonPieces(layout))) {
        std::size_t n = JsonPiece(doc, layout, static_cast<int>(i++), p);
        p += n;
        cursor->part += static_cast<std::uint32_t>(n);  // JSON bytes so far
      } else {
        cursor->section = kGlbBinHead;
      }
    } else if (cursor->section == kGlbBinHead) {
      for (; cursor->part % 4; ++cursor->part) *p++ = ' ';
      if (layout.count) p = PutWord(PutWord(p, layout.binLength), 0x004e4942u);  // "BIN"
      cursor->section = layout.count ? kGlbStreams : -1, i = 0, cursor->part = 0;
    } else {
      const int stream = (cursor->section - kGlbStreams) % 3;
      const Primitive& prim = layout.primitive[(cursor->section - kGlbStreams) / 3];
      if (i < prim.first) i = prim.first;
      for (; i < prim.end && room(64); ++i) {
        const MeshFace& face = mesh.faces[i];
        if (MeshGroup(face.texture) != prim.group) continue;
        if (stream == 2) {
          std::uint32_t index[6];
          FaceIndices(doc, i, cursor->part++, index);
          for (std::uint32_t v : index) {
            if (prim.wide) {
              p = PutWord(p, v);
            } else {
              *p++ = static_cast<char>(v), *p++ = static_cast<char>(v >> 8);
            }
          }
          continue;
        }
        for (int k = 0; k < 4; ++k) {
          // With glTF vertices numbered, each goes out at its first use.
          if (mesh.gltfCorner && mesh.gltfCorner[4 * i + static_cast<std::uint32_t>(k)] != cursor->part) continue;
          ++cursor->part;
          if (stream == 0) {
            std::memcpy(p, &mesh.vertices[face.corner[k]], 12);
            p += 12;
          } else {
            std::memcpy(p, &face.u[k], 4);
            std::memcpy(p + 4, &face.v[k], 4);
            p += 8;
          }
        }
      }
      if (i == prim.end) {
        for (std::uint32_t pad = prim.length[stream]; pad % 4; ++pad) *p++ = 0;
        ++cursor->section, i = 0, cursor->part = 0;
        if (cursor->section == kGlbStreams + 3 * layout.count) cursor->section = -1;
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

std::size_t FormatMeshWarning(const BlockData& data, const Mesh& mesh, MeshFormat format,
                              MeshWarning kind, char* out) {
  std::uint32_t count = 0;
  const char *one = "", *many = "";
  if (kind == MeshWarning::BlocksLeftOut) {
    count = static_cast<std::uint32_t>(mesh.droppedBlocks);
    one = "block has an infinite or not-a-number corner or texture coordinate, which this format "
          "cannot hold; it is left out";
    many = "blocks have an infinite or not-a-number corner or texture coordinate, which this "
           "format cannot hold; they are left out";
  } else if (format == MeshFormat::Glb) {
    for (int g = 0; g < kTextureNameCount; ++g)
      if (mesh.groupFaceCount[g] && *data.textureNames[g] && !IsImageName(data.textureNames[g])) ++count;
    one = "texture is not a PNG or JPEG image, which glTF cannot reference; its name stays on its "
          "material";
    many = "textures are not PNG or JPEG images, which glTF cannot reference; their names stay on "
           "their materials";
  }
  return FormatCountedWarning(count, one, many, out);
}
