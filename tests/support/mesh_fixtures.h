// The committed OBJ, MTL and glb files beside the examples, which
// make_fixtures rewrites from the writers and tests/mesh/readback.py reads
// back against their maps.
#pragma once

#include <string>
#include <vector>

#include "mesh/mesh.h"

struct MeshFixture {
  std::string map, path;  // from the source folder
  MeshFormat format;
  MeshOptions options;
  std::string mtlFileName;  // Obj only
};
std::vector<MeshFixture> MeshFixtures();

// The file's bytes, written in pieces of `chunk`.
std::string WriteMeshFixture(const BlockData& data, const MeshFixture& fixture, std::size_t chunk);
