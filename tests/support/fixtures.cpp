#include <algorithm>
#include <cstring>

#include "image/image.h"
#include "job/job.h"
#include "tests/support/bd1.h"

namespace {

std::vector<BlockRecord> Stairs() {
  std::vector<BlockRecord> blocks;
  for (float y = 0; y < 6; y += 0.5f)
    blocks.push_back(Box(-4, y, 4 * y, 4, y + 0.5f, 4 * y + 2, static_cast<int>(2 * y) % 3));
  return blocks;
}

// A walled courtyard with towers: a few hundred blocks, texture coordinates
// on 1/64 steps, coordinates on 1/8 steps, some out-of-range texture numbers.
std::vector<BlockRecord> Courtyard() {
  std::vector<BlockRecord> blocks;
  for (float a = -50; a < 50; a += 2.5f) {
    for (float s : {-50.0f, 49.375f}) blocks.push_back(Box(a, 0, s, a + 2.5f, 6, s + 0.625f, 0));
    for (float s : {-50.0f, 49.375f}) blocks.push_back(Box(s, 0, a, s + 0.625f, 6, a + 2.5f, 1));
  }
  for (int tower = 0; tower < 4; ++tower) {
    for (int level = 0; level < 8; ++level) {
      const float x = tower % 2 ? 45.0f : -50.0f, z = tower / 2 ? 45.0f : -50.0f, y = 1.25f * static_cast<float>(level);
      BlockRecord r = Box(x, y, z, x + 5, y + 1.25f, z + 5, 2 + level % 3);
      for (auto& face : r.v)
        for (float& v : face) v = v * 0.171875f + 0.015625f * static_cast<float>(level);
      blocks.push_back(r);
    }
  }
  blocks.push_back(Box(-0.0625f, 0, -0.0625f, 0.0625f, 12.375f, 0.0625f, -1));
  blocks.back().textureIndex[1] = 12;
  return blocks;
}

// Infinities, NaNs of each kind, denormals, extremes, ties, and a pattern whose
// bytes are 0x1A, CR and LF (which a reader in text mode would mangle).
BlockRecord OddValues() {
  const std::uint32_t odd[] = {0x7f800000, 0xff800000, 0xffc00000, 0x7fc00001, 0x7f800001,
                               0x00000001, 0x80000001, 0x7f7fffff, 0xff7fffff, 0x60ad78ec,
                               0x3c800000, 0xbd000000, 0x80000000, 0x3f840000, 0x3f0a0d1a};
  const std::int32_t textures[6] = {-1, 12, 2147483647, -2147483647 - 1, 9, 10};
  BlockRecord r{};
  for (int i = 0; i < 72; ++i) std::memcpy(reinterpret_cast<char*>(&r) + 4 * i, &odd[i % std::size(odd)], 4);
  std::memcpy(r.textureIndex, textures, sizeof textures);
  return r;
}

// Two boxes whose faces use every texture name, and numbers outside 0-9.
std::vector<BlockRecord> NamesEdge() {
  std::vector<BlockRecord> blocks = {Box(0, 0, 0, 1, 1, 1, 0), Box(2, 0, 0, 3, 1, 1, 0)};
  const std::int32_t textures[2][6] = {{0, 1, 2, 3, 4, 5}, {6, 7, 8, 9, -1, 12}};
  for (int b = 0; b < 2; ++b) std::memcpy(blocks[b].textureIndex, textures[b], sizeof textures[b]);
  return blocks;
}

// What hidden-face removal must judge by where blocks lie: a sandwich of a
// cube, a flat tile and a cube; two identical flat tiles; a block listed
// mirrored on a cube; three and four faces on one place.
std::vector<BlockRecord> MeshCrafted() {
  auto cube = [](float x, float y, int texture) { return Box(x, y, 0, x + 1, y + 1, 1, texture); };
  return {cube(0, 0, 5), Box(0, 1, 0, 1, 1, 1, 0), cube(0, 1, 5), Box(3, 0, 0, 4, 0, 1, 1), Box(3, 0, 0, 4, 0, 1, 1),
          cube(6, 0, 0), Box(7, 0, 0, 6, 2, 1, 2), Box(7, -1, 0, 6, 0, 1, 2), cube(9, 0, 0), cube(10, 0, 1),
          cube(10, 0, 1), cube(9, 0, 0)};
}

}  // namespace

Fixtures CommittedMaps() {
  const BlockRecord unit = Box(0, 0, 0, 1, 1, 1, 0);
  auto trailing = BuildBd1({"a.bmp"}, {Box(-1, 0, -1, 1, 2, 1, 0), Box(0.5f, 0.25f, 3, 1.03125f, 9.99995f, 4, 9)});
  trailing.insert(trailing.end(), {'t', 'a', 'i', 'l'});
  auto shortHeader = BuildBd1({"cut"}, {});
  shortHeader.resize(200);
  return {{"examples/cube", WorkedExample()},
          {"examples/stairs", BuildBd1({"stone.bmp", "moss.png", "wood.tga"}, Stairs())},
          {"examples/courtyard",
           BuildBd1({"wall_a.bmp", "wall_b.bmp", "tower1.bmp", "tower2.bmp", "tower3.bmp", "", "empty"}, Courtyard())},
          {"fuzz/seeds/empty-map", BuildBd1({}, {})}, {"fuzz/seeds/worked-example", WorkedExample()},
          {"fuzz/seeds/two-boxes-trailing", trailing}, {"fuzz/seeds/short-header", shortHeader},
          {"fuzz/seeds/names-edge", BuildBd1({"empty", std::string(30, 'x'), std::string(31, 'y'), "cr\r\nlf\n\"q\"\x1a\xe0\x80\xaf",
                                              "\x01\x82\xa0\xe9", std::string("\0after-nul", 10), "a b.PNG",
                                              "\xc3\xbc\\x.jpg", "\xe9t\xe9\x7f.jpeg", "a_b.PNG"},
                                             NamesEdge())},
          {"fuzz/seeds/odd-values", BuildBd1({"n.bmp"}, {OddValues()})},
          {"fuzz/seeds/mesh-crafted", BuildBd1({"a.png", "b.jpg"}, MeshCrafted())},
          {"tests/mesh/textured/steps", BuildBd1({"C:\\maps\\Stone.BMP", "moss.png", "tex/wood.tga"}, Stairs())},
          {"fuzz/seeds/negative-count", BuildBd1({"n"}, {unit}, -1)},
          {"fuzz/seeds/count-beyond-data", BuildBd1({"n"}, {unit}, 3)}};
}

std::vector<std::string> MeshFixtures() {
  std::vector<std::string> paths;
  for (const char* name : {"examples/cube", "examples/stairs", "examples/courtyard", "examples/courtyard-optimized",
                           "fuzz/seeds/names-edge", "tests/mesh/textured/steps"})
    for (const char* extension : {".obj", ".mtl", ".glb"}) paths.push_back(name + std::string(extension));
  paths.push_back("fuzz/seeds/names-edge-optimized.mqo");  // the mesh in a document, texture numbers outside 0-9
  return paths;
}

std::string WriteMeshFixture(const std::string& source, const std::string& path, std::size_t chunk) {
  // FOLDER/NAME[-optimized].EXT: the map NAME.bd1, with --optimize or without,
  // its textures found beside it, as blockmqo-cli finds them by default.
  const std::size_t dot = path.rfind('.'), slash = path.rfind('/'), dash = path.find("-optimized");
  const std::string map = source + "/" + path.substr(0, std::min(dot, dash)) + ".bd1", ext = path.substr(dot);
  const std::string mtl = path.substr(slash + 1, dot - slash - 1) + ".mtl";  // without the folder
  CollectedFiles collected;
  const bool optimized = dash != std::string::npos;
  Job job{};
  job.input = {JobSource::Path, map.c_str(), nullptr, 0};
  job.output = {JobTarget::Sink, nullptr, CollectFiles(&collected), mtl.c_str()};
  job.format = ext == ".glb" ? MeshFormat::Glb : ext == ".mqo" ? MeshFormat::Mqo : MeshFormat::Obj;
  job.options = {optimized, optimized};
  job.chunk = chunk;
  const JobOutcome outcome = RunJob(job, nullptr);
  if (outcome.result != JobResult::Ok) return std::string("<failed: ") + JobStep(outcome.result) + ">";
  return ext == ".mtl" ? collected.mtl : collected.document;
}
