// Block data files for the tests, the benchmarks and the committed fixtures.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "blockdata/blockdata.h"
#include "job/job.h"
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
// A folder of this process's own in the temporary folder, removed at exit:
// test runs from several build trees may share the machine. Ends in a slash.
const std::string& Scratch();

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

// A mesh file's bytes, in pieces of `chunk`; a piece longer than that gives
// a text no file holds.
inline std::string WriteMesh(const MeshDocument& doc, std::size_t chunk) {
  std::string bytes;
  std::vector<char> buffer(chunk + 64);
  MeshCursor cursor{};
  while (std::size_t n = MeshDocumentNext(doc, &cursor, buffer.data(), chunk)) {
    if (n > chunk) return "<a piece over its capacity>";
    bytes.append(buffer.data(), n);
  }
  return bytes;
}

// Every file a job writes through the sink CollectFiles gives, by kind, and
// the kinds in the order given ('m' the MTL, 'd' the document, once for each
// run); a sink told to refuse stops the job at its first piece.
struct CollectedFiles {
  std::string order, mtl, document;
  bool refuse = false;
};
JobSink CollectFiles(CollectedFiles* into);

// A map's bytes read and built into one format's mesh, both released with
// it; `ok` when both steps succeed. Write gives one of its files.
struct BuiltMesh {
  BlockData data{};
  Mesh mesh{};
  bool ok;
  BuiltMesh(const std::vector<unsigned char>& map, MeshFormat format, MeshOptions options = {})
      : ok(ReadBlockDataBytes(map.data(), map.size(), &data) == ReadResult::Ok &&
           BuildMesh(data, format, options, &mesh) == MeshResult::Ok) {}
  BuiltMesh(const BuiltMesh&) = delete;
  BuiltMesh& operator=(const BuiltMesh&) = delete;
  ~BuiltMesh() { ReleaseMesh(&mesh), ReleaseBlockData(&data); }
  std::string Write(MeshFormat as, const MeshImage* images = nullptr, std::size_t chunk = kMqoMinChunk) const {
    return WriteMesh({&data, &mesh, as, nullptr, images}, chunk);
  }
};
