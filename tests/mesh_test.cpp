#include "mesh/mesh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "mqo/mqo.h"
#include "tests/support/bd1.h"
#include "tests/support/mesh_fixtures.h"

void ShowError(const char*) {}

namespace {

BlockRecord Cube(float x, float y, float z, int texture = 0) { return Box(x, y, z, x + 1, y + 1, z + 1, texture); }
BlockRecord Tile(float y, int texture = 0) { return Box(0, y, 0, 1, y, 1, texture); }

// A format's faces, as "block.face" in the order written.
std::string Faces(const Mesh& mesh) {
  std::string s;
  for (std::uint32_t f = 0; f < mesh.faceCount; ++f)
    s += (s.empty() ? "" : " ") + std::to_string(mesh.faces[f].block) + "." + std::to_string(mesh.faces[f].side);
  return s;
}
std::set<std::string> Set(const std::string& list) {
  std::set<std::string> s;
  for (std::size_t i = 0; i < list.size(); i = list.find(' ', i) == std::string::npos ? list.size() : list.find(' ', i) + 1)
    s.insert(list.substr(i, list.find(' ', i) - i));
  return s;
}

std::string Write(const MeshDocument& doc, std::size_t chunk) {
  std::string bytes;
  std::vector<char> buffer(chunk);
  MeshCursor cursor{};
  while (std::size_t n = MeshDocumentNext(doc, &cursor, buffer.data(), buffer.size())) bytes.append(buffer.data(), n);
  return bytes;
}
std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t i = text.find(what); i != std::string::npos; i = text.find(what, i + 1)) ++n;
  return n;
}
// The glb's triangles: its index accessors' counts over 3.
std::size_t GlbTriangles(const std::string& glb) {
  std::size_t n = 0;
  for (std::size_t i = glb.find("\"type\":\"SCALAR\""); i != std::string::npos; i = glb.find("\"type\":\"SCALAR\"", i + 1))
    n += std::stoul(glb.substr(glb.rfind("\"count\":", i) + 8)) / 3;
  return n;
}

// Which faces hidden-face removal leaves, the same in every format: the
// faces of the map less those removed; OBJ and glb also leave out faces
// without area. Each kept face is written once, or both ways when it turns no
// way (a flat tile): objFaces counts the OBJ's faces, the glb has two
// triangles for each. A cube's face 0 lies at y1, 1 at y0, 2 at z0, 3 at x1,
// 4 at z1 and 5 at x0.
const char* const kFlat = "2 3 4 5";  // a flat tile's sides have no area
const struct {
  const char* name;
  std::vector<BlockRecord> blocks;
  const char *removed, *noArea;
  std::size_t objFaces;
} kCases[] = {
    {"one cube", {Cube(0, 0, 0)}, "", "", 6},
    {"two cubes side by side", {Cube(0, 0, 0), Cube(1, 0, 0)}, "0.3 1.5", "", 10},
    {"side by side across -0", {Box(-1, 0, 0, 0, 1, 1, 0), Box(-0.0f, 0, 0, 1, 1, 1, 0)}, "0.3 1.5", "", 10},
    {"the same place, facing the same ways", {Cube(0, 0, 0), Cube(0, 0, 0)}, "", "", 12},
    {"three on one place: the first two in file order", {Cube(0, 0, 0), Cube(1, 0, 0), Cube(1, 0, 0)}, "0.3 1.5", "", 16},
    {"three on one place, the lone one first", {Cube(1, 0, 0), Cube(0, 0, 0), Cube(1, 0, 0)}, "0.5 1.3", "", 16},
    {"four on one place pair off", {Cube(0, 0, 0), Cube(0, 0, 0), Cube(1, 0, 0), Cube(1, 0, 0)}, "0.3 1.3 2.5 3.5", "", 20},
    {"a flat tile alone, seen from both sides", {Tile(0)}, "", "0.2 0.3 0.4 0.5", 4},
    {"identical flat tiles stay", {Tile(0), Tile(0)}, "", "0.2 0.3 0.4 0.5 1.2 1.3 1.4 1.5", 8},
    {"a flat tile on a cube hides nothing", {Cube(0, 0, 0), Tile(1)}, "", "1.2 1.3 1.4 1.5", 10},
    // Textures 5, 5, 0: the glb groups by texture but pairs in file order.
    {"the sandwich", {Cube(0, 0, 0, 5), Tile(1, 0), Cube(0, 1, 0, 5)}, "0.0 2.1", "1.2 1.3 1.4 1.5", 14},
    // Its corners listed mirrored, so its faces' corners run the other way.
    {"a mirrored block on a cube's bottom, same side", {Cube(0, 0, 0), Box(1, 0, 0, 0, 2, 1, 0)}, "", "", 12},
    {"a mirrored block below a cube", {Cube(0, 0, 0), Box(1, -1, 0, 0, 0, 1, 0)}, "0.1 1.0", "", 10},
    {"overlapping in part", {Cube(0, 0, 0), Cube(0.5f, 1, 0)}, "", "", 12},
};

TEST(Mesh, HiddenFacesTheSameInEveryFormat) {
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<unsigned char> bytes = BuildBd1({"a.png"}, c.blocks);
    BlockData data;
    ASSERT_EQ(ReadBlockDataBytes(bytes.data(), bytes.size(), &data), ReadResult::Ok);
    for (MeshFormat format : {MeshFormat::Mqo, MeshFormat::Obj, MeshFormat::Glb}) {
      SCOPED_TRACE(static_cast<int>(format));
      std::set<std::string> want;
      for (std::size_t b = 0; b < c.blocks.size(); ++b)
        for (int f = 0; f < 6; ++f) want.insert(std::to_string(b) + "." + std::to_string(f));
      for (const std::string& gone : Set(c.removed)) want.erase(gone);
      for (const std::string& gone : Set(format == MeshFormat::Mqo ? "" : c.noArea)) want.erase(gone);
      for (MeshOptions options : {MeshOptions{true, false}, MeshOptions{true, true}}) {
        Mesh mesh;
        ASSERT_EQ(BuildMesh(data, format, options, &mesh), MeshResult::Ok);
        EXPECT_EQ(Set(Faces(mesh)), want) << Faces(mesh);
        EXPECT_EQ(mesh.faceCount, want.size());
        const std::string written = Write({&data, &mesh, format, nullptr}, kMqoMinChunk);
        if (format != MeshFormat::Mqo) {
          EXPECT_EQ(format == MeshFormat::Obj ? Count(written, "\nf ") : GlbTriangles(written) / 2, c.objFaces);
        }
        ReleaseMesh(&mesh);
      }
    }
    ReleaseBlockData(&data);
  }
}

// An Inf or NaN in any coordinate or texture coordinate leaves its block out
// of OBJ and glb; in MQO a non-finite corner hides nothing and is never
// shared, not even with its copy, while a non-finite texture coordinate
// changes nothing.
TEST(Mesh, NonFiniteValuesInEachCoordinate) {
  for (int slot = 0; slot < 5; ++slot) {
    SCOPED_TRACE(slot);
    BlockRecord odd = Cube(1, 0, 0);
    float* values[5] = {&odd.vx[0], &odd.vy[0], &odd.vz[0], &odd.u[5][0], &odd.v[5][0]};
    *values[slot] = slot % 2 ? INFINITY : NAN;
    std::vector<BlockRecord> blocks = {Cube(0, 0, 0), odd, odd};
    const BlockData data{{}, 3, blocks.data()};
    Mesh mesh;
    for (MeshFormat format : {MeshFormat::Obj, MeshFormat::Glb}) {
      ASSERT_EQ(BuildMesh(data, format, {true, true}, &mesh), MeshResult::Ok);
      EXPECT_EQ(mesh.droppedBlocks, 2);
      EXPECT_EQ(Faces(mesh), "0.0 0.1 0.2 0.3 0.4 0.5");
      EXPECT_EQ(mesh.vertexCount, 8u);
      ReleaseMesh(&mesh);
    }
    ASSERT_EQ(BuildMesh(data, MeshFormat::Mqo, {true, true}, &mesh), MeshResult::Ok);
    EXPECT_EQ(mesh.faceCount, slot < 3 ? 18u : 16u);
    EXPECT_EQ(mesh.vertexCount, slot < 3 ? 14u : 12u);
    ReleaseMesh(&mesh);
  }
}

// The committed OBJ, MTL and glb of the examples are what the writers write,
// in any buffer size; tests/mesh/readback.py reads them back against the maps.
TEST(MeshDocument, TheCommittedFilesInAnyChunks) {
  for (const MeshFixture& fixture : MeshFixtures()) {
    SCOPED_TRACE(fixture.path);
    BlockData data;
    const std::string map = ReadFileBytes(BLOCKMQO_SOURCE_DIR "/" + fixture.map);
    ASSERT_EQ(ReadBlockDataBytes(map.data(), map.size(), &data), ReadResult::Ok);
    const std::string expected = ReadFileBytes(BLOCKMQO_SOURCE_DIR "/" + fixture.path);
    for (std::size_t chunk : {kMqoMinChunk, kMqoMinChunk + 3, std::size_t{1} << 20})
      EXPECT_TRUE(WriteMeshFixture(data, fixture, chunk) == expected) << "rerun make_fixtures";
    ReleaseBlockData(&data);
  }
}

}  // namespace
