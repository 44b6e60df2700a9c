// Block data files for the tests, the benchmarks and the committed fixtures.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "blockdata/blockdata.h"
#include "mesh/mesh.h"

using TextureNames = std::array<std::string, kTextureNameCount>;

// A box from (x0,y0,z0) to (x1,y1,z1) with the corner order the face table
// expects (0..3 on the y1 side, 4..7 below them), full-face texture
// coordinates and one texture number for every face.
BlockRecord Box(float x0, float y0, float z0, float x1, float y1, float z1, std::int32_t texture);

// A map aimed at the position hash: every corner's position is different,
// and every one hashes alike.
std::vector<BlockRecord> CollidingBlocks(int count);

// The file bytes. A name's first 31 bytes fill its field, NUL or not.
// `count` is written as given; by default it is the number of blocks.
std::vector<unsigned char> BuildBd1(const TextureNames& names, const std::vector<BlockRecord>& blocks,
                                    int count = -1 - 32768);

// The worked example: one 2x1x2 box, wall.bmp and floor.bmp.
std::vector<unsigned char> WorkedExample();

bool WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes);  // false on failure
std::string ReadFileBytes(const std::string& path);  // "" when missing

// The committed maps, by path from the source folder without ".bd1":
// examples/NAME (beside its document, NAME.mqo) and fuzz/seeds/NAME.
// make_fixtures rewrites them all.
using Fixtures = std::vector<std::pair<std::string, std::vector<unsigned char>>>;
Fixtures CommittedMaps();

// The committed OBJ, MTL and glb files beside the examples, which
// make_fixtures rewrites from the writers and tests/mesh/readback.py reads
// back against their maps; WriteMeshFixture gives the bytes the writers
// write for it, in pieces of `chunk`, from its map in the source folder.
std::vector<std::string> MeshFixtures();
std::string WriteMeshFixture(const std::string& source, const std::string& path, std::size_t chunk);

// A mesh file's bytes, in pieces of `chunk`.
inline std::string WriteMesh(const MeshDocument& doc, std::size_t chunk) {
  std::string bytes;
  std::vector<char> buffer(chunk);
  MeshCursor cursor{};
  while (std::size_t n = MeshDocumentNext(doc, &cursor, buffer.data(), chunk)) bytes.append(buffer.data(), n);
  return bytes;
}
