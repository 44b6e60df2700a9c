// One mesh from a map, for tools that read OBJ and glTF, and an MQO document
// that holds it.
//
// BuildMesh decides every fact of the mesh once, for the format it is built
// for, and the writers only write them out:
//  - every block becomes its six four-sided faces, in the document's
//    coordinates (first axis negated) and corner order, each with its texture
//    number and a UV per corner;
//  - which way each face, and each of its two triangles, turns (Turn below),
//    and, for glb, its flat normal;
//  - with removeHiddenFaces, faces that face each other go (below);
//  - with shareVertices, corners at the same position become one vertex (UVs
//    stay with the face corner, so nothing is lost; in OBJ, equal UV pairs
//    become one texture coordinate);
//  - the grouping by texture, the bounds, and for glb the glTF vertices.
// With either option, a vertex that no remaining face uses is dropped. MQO
// without options is the document's own mesh: 8 vertices and 6 faces a block.
//
// The format decides the rest. OBJ and glTF cannot hold Inf or NaN: blocks
// with any non-finite corner or texture coordinate are left out and counted;
// faces without area are left out; their faces come grouped by texture, in
// file order within a group. The MQO keeps every face, in file order.
//
// Hidden faces: two faces of different blocks on the same four corner points
// (exact float values, -0 equal to +0, any starting corner) whose outward
// directions are opposite face each other, and both go. With more on the same
// points, they are paired off in file order. A face with an Inf or NaN
// corner, without area, or that turns no way (a flat tile) is never hidden.
//
// The writers are formatters in the document writer's shape: start with a
// zeroed cursor, call until 0 comes back; each call fills at most `capacity`
// bytes (at least kMqoMinChunk) and cannot fail.
#pragma once

#include <cstddef>
#include <cstdint>

#include "blockdata/blockdata.h"
#include "mqo/mqo.h"

enum class MeshFormat {
  Mqo,  // the document's header and materials, the object holds the mesh
  Obj,  // Wavefront OBJ, four-sided faces, V flipped; names its MTL
  Mtl,  // the OBJ's materials, one per texture number in use
  Glb,  // glTF 2.0 binary: one mesh, a primitive per texture number in use
};

// The two a user chooses.
struct MeshOptions {
  bool removeHiddenFaces;
  bool shareVertices;
};

// Faces are grouped by texture: numbers 0..9 are groups 0..9, every other
// number falls in group 10, one material of its own in every format.
constexpr int kMeshGroups = kTextureNameCount + 1;
constexpr int kOutOfRangeGroup = kOutOfRangeMaterial;
inline int MeshGroup(std::int32_t texture) {
  return texture >= 0 && texture < kOutOfRangeGroup ? texture : kOutOfRangeGroup;
}

// A group's material name in OBJ, MTL and glb (the MQO document keeps the
// map's names as they are). One rule for every mesh format and the page:
// the texture's name with every byte up to the space, and DEL, as "_";
// "empty" for an empty name; for group 10 the eleventh material's name
// (kOutOfRangeMaterialName, so "texture_number_outside_0-9");
// then, while an earlier group in use already has that name, "_" and the
// group's number is added, so names are unique within a file.
// `groupFaceCount` says which groups are in use (Mesh::groupFaceCount).
// Writes at most kMaterialNameMax bytes and no NUL.
constexpr std::size_t kMaterialNameMax = 80;
std::size_t FormatMaterialName(const BlockData& data, const std::uint32_t* groupFaceCount, int group, char* out);

// Which way a polygon, its corners taken in the order listed, turns seen from
// outside its block: the sign of its (Newell) normal along its outward
// direction, the way from the opposite face's corners to its own.
enum class Turn : std::uint8_t {
  None,      // no area: nothing to draw
  Listed,    // counter-clockwise as listed
  Reversed,  // counter-clockwise with the corners reversed
  Both,      // no depth behind it (a flat tile): seen from both sides
};

// Document coordinates: x is the map's first axis negated.
struct MeshVertex {
  float x, y, z;
};

// The document's face (corners in the order it lists them, a UV per corner
// as the map gives them, the map's texture number), and what BuildMesh found.
struct MeshFace {
  std::uint32_t corner[4];  // vertex numbers, as the document lists them
  float u[4], v[4];         // per corner
  std::int32_t texture;
  std::int32_t block;       // the block it came from
  std::uint8_t side;        // which of the block's faces, 0..5
  Turn turn;                // the face as a whole
  Turn triangle[2];         // corners (0 1 2) and (0 2 3) as listed
  // Glb only (zero otherwise): unit length, the way the listed corners turn
  // counter-clockwise around, outward when the face turns Listed. Its side 0
  // shows this normal, side 1 the opposite: a polygon written with its
  // corners reversed shows side 1, so every side drawn carries its outward
  // normal.
  float normal[3];
  // Glb only: bit t, triangle t, as listed, turns against `normal` (one half
  // of a crossed quad), so it shows the other side.
  std::uint8_t against;
};

inline float SideNormal(const MeshFace& face, int side, int axis) {
  return side ? 0.0f - face.normal[axis] : face.normal[axis];  // never -0
}
// The side triangle t shows, written as listed (way 0) or reversed (1).
constexpr int SideShown(const MeshFace& face, int t, int way) { return way ^ (face.against >> t & 1); }

// Glb only: the triangle corners a face is drawn with, in order, each
// triangle written the way(s) it turns (corner[n] is 4s + k: its corner k
// showing side s), and the sides shown (bit s). One plan for each kind of
// face, by its two triangles' turns and `against`, made at compile time.
struct GlbTriangles {
  int count;
  std::uint8_t corner[12];
  std::uint8_t sides;
};
inline const GlbTriangles& GlbTrianglesOf(const MeshFace& face);

struct Mesh {
  // Obj and glb: the vertices, and the faces grouped by texture. The MQO
  // document is written from the map, and holds neither (null): vertexOf,
  // faceOf and cornerNumber below say which of its own it keeps.
  MeshVertex* vertices;
  std::uint32_t vertexCount;
  MeshFace* faces;
  std::uint32_t faceCount;
  // Mqo only, as MqoSource takes them: the map's corners (8b + c) and faces
  // (6b + f) kept, in file order, and each corner's vertex number; each null
  // where it would be the map's own.
  std::uint32_t* vertexOf;
  std::uint32_t* faceOf;
  std::uint32_t* cornerNumber;
  int droppedBlocks;  // left out as non-finite (OBJ, glb)
  std::uint32_t groupFaceCount[kMeshGroups];   // faces in each texture group
  std::uint32_t groupIndexCount[kMeshGroups];  // triangle corners written for glb (0 otherwise)
  // The corners of all faces, and for glb of each group's faces (0 when there
  // are none, and for a group of the other formats).
  float groupMin[kMeshGroups][3], groupMax[kMeshGroups][3];
  float min[3], max[3];
  // Glb only: face f's corner k showing side s (SideShown) has a vertex
  // number within its group's primitive (GltfFaceNumbers, 4s + k):
  // one per mesh vertex, texture, exact UV pair and normal, numbered in order
  // of first use (sides not drawn get none); gltfVertexCount[g] in group g.
  // Bit 4s + k of gltfFirst[f] is set where that corner is its vertex's first
  // use, where the vertex goes out. Where every corner drawn is a first use,
  // as where no two faces of a block share a vertex and a normal, face f's
  // first uses are numbered from gltfBase[f] on, and gltfCorner is null;
  // otherwise gltfCorner[8f + 4s + k] holds each number (~0u for none).
  std::uint32_t* gltfCorner;
  std::uint32_t* gltfBase;
  std::uint32_t gltfVertexCount[kMeshGroups];
  std::uint8_t* gltfFirst;
  // Obj with shareVertices: texcoord[4f + k] is the number of face f's corner
  // k's texture coordinate, one per exact UV pair, in order of first use;
  // texcoordCount of them. Otherwise null: one a corner.
  std::uint32_t* texcoord;
  std::uint32_t texcoordCount;
};

// Face f's eight glTF vertex numbers, 4s + k as above (~0u for none): its
// row of gltfCorner, or made into `scratch`.
inline const std::uint32_t* GltfFaceNumbers(const Mesh& mesh, std::uint32_t f, std::uint32_t (&scratch)[8]) {
  if (mesh.gltfCorner) return mesh.gltfCorner + 8 * std::size_t{f};
  // Each side drawn has its four corners as first uses, side 0's first.
  const std::uint32_t base = mesh.gltfBase[f], firsts = mesh.gltfFirst[f], second = base + (firsts & 1 ? 4 : 0);
  for (std::uint32_t k = 0; k < 4; ++k) scratch[k] = firsts & 1 ? base + k : ~0u;
  for (std::uint32_t k = 0; k < 4; ++k) scratch[4 + k] = firsts & 0x10 ? second + k : ~0u;
  return scratch;
}

enum class MeshResult { Ok, OutOfMemory };

// On success the caller owns the mesh and frees it with ReleaseMesh; on
// failure nothing is held. Mtl builds the mesh as Obj does.
MeshResult BuildMesh(const BlockData& data, MeshFormat format, MeshOptions options, Mesh* mesh);
void ReleaseMesh(Mesh* mesh);

// A texture's image as the caller found and loaded it: this library reads
// no files. Glb embeds `bytes`, a PNG or JPEG file (null when the texture was
// not found or its file was refused: the material then keeps only its name);
// Mtl's map_Kd names `path` (null: the texture's own name).
struct MeshImage {
  const unsigned char* bytes;
  std::size_t size;
  const char* mimeType;  // "image/png" or "image/jpeg"
  const char* path;      // the file found, relative to the OBJ's folder
};

struct MeshDocument {
  const BlockData* data;    // texture names
  const Mesh* mesh;         // built for this format (Obj for Mtl)
  MeshFormat format;
  const char* mtlFileName;  // Obj only: the name its mtllib line gives
  const MeshImage* images;  // one a texture name (kTextureNameCount), or null
};

// The glb embeds an image for each texture name in use given bytes (names
// given the same bytes share one), while they take at most kGlbImagesMax
// together, so that its lengths fit 32 bits.
constexpr std::size_t kGlbImagesMax = 0x7fffffff;

// The glb writer's own, made once when it starts: each primitive's place in
// the BIN chunk, and the whole JSON chunk.
struct GlbPrimitive {
  int group;
  std::uint32_t first, end;  // its faces
  std::uint32_t vertices, indices;
  bool wide;                 // 32-bit indices
  int image;                 // its texture's number, or -1
  std::uint32_t offset[4];   // positions, normals, texture coordinates, indices
  std::uint32_t length[4];
};
constexpr std::size_t kGlbJsonMax = 24576;
struct GlbLayout {
  int count, images;
  GlbPrimitive primitive[kMeshGroups];
  int imageGroup[kTextureNameCount];        // each image's texture name
  std::uint32_t imageOffset[kTextureNameCount];
  std::uint32_t binLength, jsonLength;
  char json[kGlbJsonMax];
};

struct MeshCursor {
  int section;
  std::uint32_t index;
  std::uint32_t part;  // a writer's own position within a section
  GlbLayout glb;
};

std::size_t MeshDocumentNext(const MeshDocument& doc, MeshCursor* cursor, char* out,
                             std::size_t capacity);

// What the mesh's formats lose, as front ends warn of it (like
// FormatMqoWarning: at most kMeshWarningMax bytes, 0 when there is nothing):
// blocks left out as non-finite, and the textures in use that a glb holds
// no image of, with their names.
enum class MeshWarning { BlocksLeftOut, TexturesNotEmbedded };
constexpr std::size_t kMeshWarningMax = kMqoWarningMax + kTextureNameCount * (4 * kTextureNameField + 2);
// The texture names in use (not empty) whose image the glb does not hold:
// bit t for name t.
unsigned GlbNamesWithoutImage(const MeshDocument& doc);
// The warning from what a caller kept: the blocks left out, or the names of
// `without` (GlbNamesWithoutImage's bits).
std::size_t FormatMeshLoss(MeshWarning kind, std::uint32_t blocksLeftOut,
                           const char (*names)[kTextureNameField + 1], unsigned without, char* out);

// ---- Inline definitions.

// The plans, made at compile time from the rules for each of the 64 kinds of
// face: asked for several times a face, by the builder and the glb writer.
inline constexpr struct GlbPlans {
  GlbTriangles plan[64];
  constexpr GlbPlans() : plan{} {
    constexpr int kTriangles[2][2][3] = {{{0, 1, 2}, {0, 2, 1}}, {{0, 2, 3}, {0, 3, 2}}};
    for (int kind = 0; kind < 64; ++kind) {
      MeshFace like{};
      like.triangle[0] = static_cast<Turn>(kind & 3), like.triangle[1] = static_cast<Turn>(kind >> 2 & 3);
      like.against = static_cast<std::uint8_t>(kind >> 4);
      GlbTriangles& p = plan[kind];
      for (int t = 0; t < 2; ++t)
        for (int way = 0; way < 2; ++way) {
          if (like.triangle[t] != (way ? Turn::Reversed : Turn::Listed) && like.triangle[t] != Turn::Both) continue;
          const int side = SideShown(like, t, way);
          p.sides = static_cast<std::uint8_t>(p.sides | 1 << side);
          for (int k : kTriangles[t][way]) p.corner[p.count++] = static_cast<std::uint8_t>(4 * side + k);
        }
    }
  }
} kGlbPlans{};

inline const GlbTriangles& GlbTrianglesOf(const MeshFace& face) {
  return kGlbPlans.plan[static_cast<int>(face.triangle[0]) | static_cast<int>(face.triangle[1]) << 2 | face.against << 4];
}
