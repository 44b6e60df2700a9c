// One mesh from a map, for tools that read OBJ and glTF, and an MQO document
// that holds it.
//
// BuildMesh turns every block into its six four-sided faces, in the
// document's coordinates (first axis negated) and corner order, each with its
// texture number and a UV per corner. Two options, each on its own:
//  - removeHiddenFaces: two faces of different blocks on the same four corner
//    points (exact float values, -0 equal to +0, any corner order) that face
//    opposite ways are both removed; nothing else is;
//  - shareVertices: corners at the same position become one vertex (UVs stay
//    with the face corner, so nothing is lost).
// With either option, a vertex that no remaining face uses is dropped. Without
// either, the mesh is the document's own: 8 vertices and 6 faces a block.
//
// The writers are formatters in the document writer's shape: start with a
// zeroed cursor, call until 0 comes back; each call fills at most `capacity`
// bytes (at least kMqoMinChunk) and cannot fail.
#pragma once

#include <cstddef>
#include <cstdint>

#include "blockdata/blockdata.h"
#include "mqo/mqo.h"

struct MeshOptions {
  bool removeHiddenFaces;
  bool shareVertices;
  // OBJ and glTF cannot hold Inf or NaN: blocks with any non-finite corner
  // coordinate or texture coordinate are left out and counted.
  bool dropNonFinite;
  // For the glb writer: number the glTF vertices of each primitive, one per
  // mesh vertex and UV pair. Without it every face corner is its own vertex.
  bool gltfVertices;
};

// Faces are grouped by texture: numbers 0..9 are groups 0..9, every other
// number falls in group 10, one material of its own in every format.
constexpr int kMeshGroups = 11;
constexpr int kOutOfRangeGroup = 10;
inline int MeshGroup(std::int32_t texture) {
  return texture >= 0 && texture < kOutOfRangeGroup ? texture : kOutOfRangeGroup;
}

struct MeshVertex {
  float x, y, z;  // document coordinates: x is the map's first axis negated
};

struct MeshFace {
  std::uint32_t corner[4];  // vertex numbers, in the order the document lists them
  float u[4], v[4];         // per corner, as the map gives them
  std::int32_t texture;     // the map's texture number, any value
  std::int32_t block;       // the block it came from
  // With gltfVertices: bit t set when triangle t, corners (0 1 2) or (0 2 3)
  // as listed, faces out of its block; otherwise the triangle is reversed.
  std::uint8_t outward;
};

struct Mesh {
  MeshVertex* vertices;
  std::uint32_t vertexCount;
  MeshFace* faces;
  std::uint32_t faceCount;
  int droppedBlocks;  // left out by dropNonFinite
  std::uint32_t groupFaceCount[kMeshGroups];  // faces in each texture group
  // With gltfVertices: for face f's corner k, gltfCorner[4f + k] is its vertex
  // number within its group's primitive, numbered in order of first use;
  // gltfVertexCount[g] vertices in group g. Otherwise null.
  std::uint32_t* gltfCorner;
  std::uint32_t gltfVertexCount[kMeshGroups];
  float gltfMin[kMeshGroups][3], gltfMax[kMeshGroups][3];  // each group's corners' bounds
};

enum class MeshResult { Ok, OutOfMemory };

// On success the caller owns the mesh and frees it with ReleaseMesh; on
// failure nothing is held.
MeshResult BuildMesh(const BlockData& data, MeshOptions options, Mesh* mesh);
void ReleaseMesh(Mesh* mesh);

enum class MeshFormat {
  Mqo,  // the document's header and materials, the object holds the mesh
  Obj,  // Wavefront OBJ, four-sided faces, V flipped; names its MTL
  Mtl,  // the OBJ's materials, one per texture number in use
  Glb,  // glTF 2.0 binary: one mesh, a primitive per texture number in use
};

struct MeshDocument {
  const BlockData* data;    // texture names
  const Mesh* mesh;
  MeshFormat format;
  const char* mtlFileName;  // Obj only: the name its mtllib line gives
};

struct MeshCursor {
  int section;
  std::uint32_t index;
  std::uint32_t part;  // a writer's own position within a section
};

std::size_t MeshDocumentNext(const MeshDocument& doc, MeshCursor* cursor, char* out,
                             std::size_t capacity);

// What the mesh's formats lose, as front ends warn of it (like
// FormatMqoWarning: at most kMqoWarningMax bytes, 0 when there is nothing):
// blocks left out by dropNonFinite, and texture names in use that glb cannot
// reference as images.
enum class MeshWarning { BlocksLeftOut, TexturesNotImages };
constexpr int kMeshWarningKinds = 2;
std::size_t FormatMeshWarning(const BlockData& data, const Mesh& mesh, MeshFormat format,
                              MeshWarning kind, char* out);
