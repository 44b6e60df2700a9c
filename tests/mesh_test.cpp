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

std::vector<BlockRecord> Solid() {
  std::vector<BlockRecord> blocks;
  for (int i = 0; i < 27; ++i) blocks.push_back(Cube(float(i % 3), float(i / 3 % 3), float(i / 9)));
  return blocks;
}

BlockRecord WithCorner(BlockRecord r, int corner, float x) { return r.vx[corner] = x, r; }

struct Case {
  const char* name;
  std::vector<BlockRecord> blocks;
  std::uint32_t faces;     // hidden faces removed
  std::uint32_t vertices;  // and corners shared
};

// The cube's corners 0..3 lie at y1, 4..7 at y0; corner 1 is at (x1, y1, z0).
const Case kCases[] = {
    {"one cube", {Cube(0, 0, 0)}, 6, 8},
    {"two cubes side by side", {Cube(0, 0, 0), Cube(1, 0, 0)}, 10, 12},
    {"side by side across -0", {Box(-1, 0, 0, 0, 1, 1, 0), Box(-0.0f, 0, 0, 1, 1, 1, 0)}, 10, 12},
    // A flat block's sides have no area and no facing: they stay.
    {"a flat block alone", {Box(0, 0, 0, 1, 0, 1, 0)}, 6, 4},
    {"a flat block lying on a cube", {Cube(0, 0, 0), Box(0, 1, 0, 1, 1, 1, 0)}, 10, 8},
    {"a flat block between two cubes", {Cube(0, 0, 0), Box(0, 1, 0, 1, 1, 1, 0), Cube(0, 1, 0)}, 14, 12},
    {"a 3x3x3 solid keeps its outer faces", Solid(), 54, 56},
    {"overlapping in part", {Cube(0, 0, 0), Cube(0.5f, 1, 0)}, 12, 16},
    {"the same place, facing the same ways", {Cube(0, 0, 0), Cube(0, 0, 0)}, 12, 8},
    {"a NaN corner on the touching face", {Cube(0, 0, 0), WithCorner(Cube(1, 0, 0), 0, NAN)}, 12, 13},
    {"a NaN corner elsewhere", {Cube(0, 0, 0), WithCorner(Cube(1, 0, 0), 1, NAN)}, 10, 12},
};

Mesh Build(const std::vector<BlockRecord>& blocks, MeshOptions options) {
  BlockData data{};
  data.count = static_cast<int>(blocks.size());
  data.blocks = const_cast<BlockRecord*>(blocks.data());
  Mesh mesh;
  EXPECT_EQ(BuildMesh(data, options, &mesh), MeshResult::Ok);
  return mesh;
}

TEST(Mesh, HiddenFacesAndSharedCorners) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Mesh removed = Build(c.blocks, {true, false, false, false});
    Mesh both = Build(c.blocks, {true, true, false, false});
    Mesh shared = Build(c.blocks, {false, true, false, false});
    EXPECT_EQ(removed.faceCount, c.faces);
    EXPECT_EQ(both.faceCount, c.faces);
    EXPECT_EQ(both.vertexCount, c.vertices);
    EXPECT_EQ(shared.faceCount, 6 * c.blocks.size());
    // Every corner of a remaining face survives, and nothing else.
    std::vector<bool> used(removed.vertexCount);
    for (std::uint32_t f = 0; f < removed.faceCount; ++f)
      for (std::uint32_t v : removed.faces[f].corner) used.at(v) = true;
    EXPECT_EQ(std::count(used.begin(), used.end(), true), removed.vertexCount);
    for (Mesh* m : {&removed, &both, &shared}) ReleaseMesh(m);
  }
}

}  // namespace
