#include "mesh/mesh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "tests/support/bd1.h"

void ShowError(const char*) {}

namespace {

BlockRecord Cube(float x, float y, float z) { return Box(x, y, z, x + 1, y + 1, z + 1, 0); }
BlockRecord WithCorner(BlockRecord r, int corner, float x) { return r.vx[corner] = x, r; }
std::vector<BlockRecord> Solid() {
  std::vector<BlockRecord> blocks;
  for (int i = 0; i < 27; ++i) blocks.push_back(Cube(float(i % 3), float(i / 3 % 3), float(i / 9)));
  return blocks;
}

// Faces left with hidden faces removed, and vertices left when corners are
// shared too. A cube's corners 0..3 lie at y1, 4..7 at y0; corner 1 is at
// (x1, y1, z0). A flat block's sides have no area and no facing: they stay.
const struct {
  const char* name;
  std::vector<BlockRecord> blocks;
  std::uint32_t faces, vertices;
} kCases[] = {
    {"one cube", {Cube(0, 0, 0)}, 6, 8},
    {"two cubes side by side", {Cube(0, 0, 0), Cube(1, 0, 0)}, 10, 12},
    {"side by side across -0", {Box(-1, 0, 0, 0, 1, 1, 0), Box(-0.0f, 0, 0, 1, 1, 1, 0)}, 10, 12},
    {"a flat block alone", {Box(0, 0, 0, 1, 0, 1, 0)}, 6, 4},
    {"a flat block lying on a cube", {Cube(0, 0, 0), Box(0, 1, 0, 1, 1, 1, 0)}, 10, 8},
    {"a flat block between two cubes", {Cube(0, 0, 0), Box(0, 1, 0, 1, 1, 1, 0), Cube(0, 1, 0)}, 14, 12},
    {"a 3x3x3 solid keeps its outer faces", Solid(), 54, 56},
    {"overlapping in part", {Cube(0, 0, 0), Cube(0.5f, 1, 0)}, 12, 16},
    {"the same place, facing the same ways", {Cube(0, 0, 0), Cube(0, 0, 0)}, 12, 8},
    {"a NaN corner on the touching face", {Cube(0, 0, 0), WithCorner(Cube(1, 0, 0), 0, NAN)}, 12, 13},
    {"a NaN corner elsewhere", {Cube(0, 0, 0), WithCorner(Cube(1, 0, 0), 1, NAN)}, 10, 12},
};

TEST(Mesh, HiddenFacesAndSharedCorners) {
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const BlockData data{{}, static_cast<int>(c.blocks.size()), const_cast<BlockRecord*>(c.blocks.data())};
    Mesh removed, both;
    ASSERT_EQ(BuildMesh(data, {true, false, false, false}, &removed), MeshResult::Ok);
    ASSERT_EQ(BuildMesh(data, {true, true, false, false}, &both), MeshResult::Ok);
    EXPECT_EQ(removed.faceCount, c.faces);
    EXPECT_EQ(both.faceCount, c.faces);
    EXPECT_EQ(both.vertexCount, c.vertices);
    // Every corner of a remaining face survives, and nothing else.
    std::vector<int> used(removed.vertexCount);
    for (std::uint32_t f = 0; f < removed.faceCount; ++f)
      for (std::uint32_t v : removed.faces[f].corner) used.at(v) = 1;
    EXPECT_EQ(std::count(used.begin(), used.end(), 1), removed.vertexCount);
    ReleaseMesh(&removed), ReleaseMesh(&both);
  }
}

std::string Write(const MeshDocument& doc, std::size_t chunk) {
  std::string bytes;
  std::vector<char> buffer(chunk);
  MeshCursor cursor{};
  while (std::size_t n = MeshDocumentNext(doc, &cursor, buffer.data(), buffer.size())) bytes.append(buffer.data(), n);
  return bytes;
}

// The writers resume where they stopped, whatever the buffer; without options
// the mesh's document is the document itself.
TEST(MeshDocument, SameBytesInAnyChunksAndTheDocumentWithoutOptions) {
  std::vector<BlockRecord> blocks = Solid();
  blocks.push_back(Box(5, 0, 0, 6, 1, 1, 3));
  blocks.push_back(Box(7, 0, 0, 8, 1, 1, -1));  // last: an eleventh material
  BlockData data;
  std::vector<unsigned char> bytes = BuildBd1({"wall.png", "floor.bmp", "", "a b.JPG"}, blocks);
  ASSERT_EQ(ReadBlockDataBytes(bytes.data(), bytes.size(), &data), ReadResult::Ok);
  for (MeshOptions options : {MeshOptions{}, MeshOptions{true, true, true, true}}) {
    Mesh mesh;
    ASSERT_EQ(BuildMesh(data, options, &mesh), MeshResult::Ok);
    for (MeshFormat format : {MeshFormat::Mqo, MeshFormat::Obj, MeshFormat::Mtl, MeshFormat::Glb}) {
      const MeshDocument doc{&data, &mesh, format, "map.mtl"};
      EXPECT_EQ(Write(doc, kMqoMinChunk), Write(doc, 1 << 20)) << int(format);
    }
    ReleaseMesh(&mesh);
  }
  --data.count;
  Mesh mesh;
  ASSERT_EQ(BuildMesh(data, {}, &mesh), MeshResult::Ok);
  std::string document(1 << 20, '\0');
  MqoCursor cursor{};
  document.resize(MqoDocumentNext(data, &cursor, document.data(), document.size()));
  EXPECT_EQ(Write({&data, &mesh, MeshFormat::Mqo, nullptr}, kMqoMinChunk), document);
  ReleaseMesh(&mesh);
  ReleaseBlockData(&data);
}

}  // namespace
