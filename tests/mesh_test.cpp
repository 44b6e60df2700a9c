#include "mesh/mesh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include "tests/support/bd1.h"


namespace {

BlockRecord Cube(float x, float y, float z, int texture = 0) { return Box(x, y, z, x + 1, y + 1, z + 1, texture); }
BlockRecord Tile(float y, int texture = 0) { return Box(0, y, 0, 1, y, 1, texture); }
// A cube whose corner `from` lies on its corner `onto`: a face through both
// has a point twice.
BlockRecord Wedge(float y, int from, int onto) {
  BlockRecord b = Cube(0, y, 0);
  b.vx[from] = b.vx[onto], b.vy[from] = b.vy[onto], b.vz[from] = b.vz[onto];
  return b;
}
std::vector<BlockRecord> Twice(std::vector<BlockRecord> blocks) {
  blocks.insert(blocks.end(), blocks.begin(), blocks.end());
  return blocks;
}

// A format's faces, as "block.face" in the order written.
std::string Faces(const Mesh& mesh) {
  std::string s;
  for (std::uint32_t f = 0; f < mesh.faceCount; ++f) {
    if (f) s += ' ';  // appended, not prefixed: GCC 12 -O2 sees a false overlap in "" + string
    const std::uint32_t own = mesh.faces ? 0 : mesh.faceOf ? mesh.faceOf[f] : f;  // the MQO names the map's own
    s += mesh.faces ? std::to_string(mesh.faces[f].block) + "." + std::to_string(mesh.faces[f].side)
                    : std::to_string(own / 6) + "." + std::to_string(own % 6);
  }
  return s;
}
std::set<std::string> Set(const std::string& list) {
  std::istringstream in(list);
  return {std::istream_iterator<std::string>(in), {}};
}

// The OBJ's faces, or the glb's triangles over 2 (its index counts over 6).
std::size_t Drawn(const std::string& file, MeshFormat format) {
  const std::string mark = format == MeshFormat::Obj ? "\nf " : "\"type\":\"SCALAR\"";
  std::size_t n = 0;
  for (std::size_t i = file.find(mark); i != std::string::npos; i = file.find(mark, i + 1))
    n += format == MeshFormat::Obj ? 1 : std::stoul(file.substr(file.rfind("\"count\":", i) + 8)) / 6;
  return n;
}

// A cube beside cube 0 with an Inf or NaN in one value of its corner 0 (x,
// y, z) or of its face 5's first texture coordinate (u, v).
BlockRecord Odd(int slot) {
  BlockRecord odd = Cube(1, 0, 0);
  *(slot < 3 ? &odd.vx[0] + 8 * slot : slot == 3 ? &odd.u[5][0] : &odd.v[5][0]) = slot % 2 ? INFINITY : NAN;
  return odd;
}

// Which faces hidden-face removal leaves, the same in every format: the
// faces of the map less those removed; OBJ and glb also leave out blocks with
// an Inf or NaN (so their own faces may hide fewer) and faces without area.
// Each kept face is written once, or both ways when it turns no way (a flat
// tile): objFaces counts the OBJ's faces, the glb has two triangles for each.
// A non-finite corner hides nothing and is never shared, not even with its
// copy: vertices counts the MQO's with both options. A cube's face 0 lies at
// y1, 1 at y0, 2 at z0, 3 at x1, 4 at z1 and 5 at x0.
const struct {
  const char* name;
  std::vector<BlockRecord> blocks;
  const char *removed, *noArea;
  std::size_t objFaces, vertices;
  const char* removedInObj = nullptr;  // when not the same
} kCases[] = {
    {"one cube", {Cube(0, 0, 0)}, "", "", 6, 8},
    {"one small mirrored cube, its normals shorter than 1", {Box(0.125f, 0, 0, 0, 0.125f, 0.125f, 0)}, "", "", 6, 8},
    {"two cubes side by side", {Cube(0, 0, 0), Cube(1, 0, 0)}, "0.3 1.5", "", 10, 12},
    {"side by side across -0", {Box(-1, 0, 0, 0, 1, 1, 0), Box(-0.0f, 0, 0, 1, 1, 1, 0)}, "0.3 1.5", "", 10, 12},
    {"the same place, facing the same ways", {Cube(0, 0, 0), Cube(0, 0, 0)}, "", "", 12, 8},
    {"three on one place: the first two in file order", {Cube(0, 0, 0), Cube(1, 0, 0), Cube(1, 0, 0)}, "0.3 1.5", "", 16, 12},
    {"three on one place, the lone one first", {Cube(1, 0, 0), Cube(0, 0, 0), Cube(1, 0, 0)}, "0.5 1.3", "", 16, 12},
    {"four on one place pair off", {Cube(0, 0, 0), Cube(0, 0, 0), Cube(1, 0, 0), Cube(1, 0, 0)}, "0.3 1.3 2.5 3.5", "", 20, 12},
    {"a flat tile alone, seen from both sides", {Tile(0)}, "", "0.2 0.3 0.4 0.5", 4, 4},
    {"identical flat tiles stay", {Tile(0), Tile(0)}, "", "0.2 0.3 0.4 0.5 1.2 1.3 1.4 1.5", 8, 4},
    {"a flat tile on a cube hides nothing", {Cube(0, 0, 0), Tile(1)}, "", "1.2 1.3 1.4 1.5", 10, 8},
    // Textures 5, 5, 0: the glb groups by texture but pairs in file order.
    {"the sandwich", {Cube(0, 0, 0, 5), Tile(1, 0), Cube(0, 1, 0, 5)}, "0.0 2.1", "1.2 1.3 1.4 1.5", 14, 12},
    // Its corners listed mirrored, so its faces' corners run the other way.
    {"a mirrored block on a cube's bottom, same side", {Cube(0, 0, 0), Box(1, 0, 0, 0, 2, 1, 0)}, "", "", 12, 12},
    {"a mirrored block below a cube", {Cube(0, 0, 0), Box(1, -1, 0, 0, 0, 1, 0)}, "0.1 1.0", "", 10, 12},
    {"overlapping in part", {Cube(0, 0, 0), Cube(0.5f, 1, 0)}, "", "", 12, 16},
    // 24 positions of one hash, twice: shared by their whole keys, not the
    // hash. Their z values span every exponent, so no face's way is certain
    // (its normal overflows): each is drawn both ways.
    {"a map aimed at the hash, twice", Twice(CollidingBlocks(3)), "", "", 72, 24},
    {"NaN in x", {Cube(0, 0, 0), Odd(0), Odd(0)}, "", "", 6, 14},
    {"Inf in y", {Cube(0, 0, 0), Odd(1), Odd(1)}, "", "", 6, 14},
    {"NaN in z", {Cube(0, 0, 0), Odd(2), Odd(2)}, "", "", 6, 14},
    {"Inf in u", {Cube(0, 0, 0), Odd(3), Odd(3)}, "0.3 1.5", "", 6, 12, ""},
    {"NaN in v", {Cube(0, 0, 0), Odd(4), Odd(4)}, "0.3 1.5", "", 6, 12, ""},
};

TEST(Mesh, HiddenFacesTheSameInEveryFormat) {
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::vector<unsigned char> bytes = BuildBd1({"a.png"}, c.blocks);
    for (MeshFormat format : {MeshFormat::Mqo, MeshFormat::Obj, MeshFormat::Glb}) {
      SCOPED_TRACE(static_cast<int>(format));
      const bool mqo = format == MeshFormat::Mqo;
      std::set<std::string> want;
      int dropped = 0;
      for (std::size_t b = 0; b < c.blocks.size(); ++b) {
        float values[72];
        std::memcpy(values, &c.blocks[b], sizeof values);
        const bool finite = std::all_of(values, values + 72, [](float x) { return std::isfinite(x); });
        for (int f = 0; f < 6 && (mqo || finite); ++f) want.insert(std::to_string(b) + "." + std::to_string(f));
        dropped += !finite;
      }
      std::set<std::string> unhidden = want;  // with shared vertices alone, nothing is hidden
      for (const std::string& gone : Set(mqo || !c.removedInObj ? c.removed : c.removedInObj)) want.erase(gone);
      for (const std::string& gone : Set(mqo ? "" : c.noArea)) want.erase(gone), unhidden.erase(gone);
      for (MeshOptions options : {MeshOptions{true, false}, MeshOptions{true, true}, MeshOptions{false, true}}) {
        const BuiltMesh built(bytes, format, options);
        const Mesh& mesh = built.mesh;
        ASSERT_TRUE(built.ok);
        const std::set<std::string>& kept = options.removeHiddenFaces ? want : unhidden;
        EXPECT_EQ(Set(Faces(mesh)), kept) << Faces(mesh);
        EXPECT_EQ(mesh.faceCount, kept.size());
        EXPECT_EQ(mesh.droppedBlocks, mqo ? 0 : dropped);
        if (!options.removeHiddenFaces) continue;
        EXPECT_TRUE(!mqo || !options.shareVertices || mesh.vertexCount == c.vertices) << mesh.vertexCount;
        const std::string written = built.Write(format);
        EXPECT_TRUE(mqo || Drawn(written, format) == c.objFaces) << written;
      }
    }
  }
}

// Faces meet whatever order their points come in: cubes filling a box, in
// shuffled file orders and some mirrored, keep only their outside. Two
// wedges meeting on faces with a point twice hide those two: each edge of
// the one face collapsed in turn, in both file orders, and with each of its
// corners numbered first by a block all on that point (with no area, it
// hides nothing and OBJ and glb draw none of it).
TEST(Mesh, FacesMeetInAnyOrderOfTheirPoints) {
  std::vector<std::vector<BlockRecord>> maps;
  for (unsigned seed = 1; seed <= 8; ++seed) {
    std::vector<BlockRecord>& blocks = maps.emplace_back();
    for (int i = 0; i < 27; ++i) {
      const auto x = static_cast<float>(i % 3), y = static_cast<float>(i / 3 % 3), z = static_cast<float>(i / 9);
      blocks.push_back((i + static_cast<int>(seed)) % 3 ? Cube(x, y, z) : Box(x + 1, y, z, x, y + 1, z + 1, 0));
    }
    std::shuffle(blocks.begin(), blocks.end(), std::mt19937(seed));
  }
  for (int w = 0; w < 40; ++w) {
    const int from = w % 4, on = w / 4 % 5;
    const BlockRecord a = Wedge(0, from, (from + 1) % 4), b = Wedge(1, from + 4, (from + 1) % 4 + 4);
    maps.push_back(w < 20 ? std::vector{a, b} : std::vector{b, a});
    if (on < 4) maps.back().insert(maps.back().begin(), Box(a.vx[on], a.vy[on], a.vz[on], a.vx[on], a.vy[on], a.vz[on], 0));
  }
  for (std::size_t m = 0; m < maps.size(); ++m)
    for (MeshFormat format : {MeshFormat::Mqo, MeshFormat::Obj, MeshFormat::Glb}) {
      const BuiltMesh built(BuildBd1({}, maps[m]), format, {true, m % 2 == 0});
      ASSERT_TRUE(built.ok);
      const std::size_t outside = m < 8 ? 54 : format == MeshFormat::Mqo && maps[m].size() == 3 ? 16 : 10;
      EXPECT_EQ(built.mesh.faceCount, outside) << "map " << m << ", format " << static_cast<int>(format);
    }
}

// The bounds a glb states and the page frames the map by: those of the
// faces kept, all of them, and for the glb each group's (0 for the others).
// Also on a skewed block whose six faces are each a group of its own.
TEST(Mesh, BoundsAreTheKeptFacesCorners) {
  BlockRecord skewed = Box(0, 0, 0, 1, 1, 1, 0);
  for (int c = 0; c < 8; ++c) skewed.vx[c] += 0.125f * static_cast<float>(c), skewed.vy[c] -= 0.0625f * static_cast<float>(c * c);
  for (int f = 0; f < 6; ++f) skewed.textureIndex[f] = f;
  std::vector<std::vector<BlockRecord>> maps = {{skewed}};
  for (const auto& c : kCases) maps.push_back(c.blocks);
  for (const auto& blocks : maps)
    for (MeshFormat format : {MeshFormat::Obj, MeshFormat::Glb})
      for (MeshOptions options : {MeshOptions{false, false}, MeshOptions{true, true}}) {
        const BuiltMesh built(BuildBd1({}, blocks), format, options);
        ASSERT_TRUE(built.ok);
        const Mesh& mesh = built.mesh;
        float low[kMeshGroups + 1][3], high[kMeshGroups + 1][3];  // the last: all faces
        std::fill(&low[0][0], &low[0][0] + std::size(low) * 3, INFINITY);
        std::fill(&high[0][0], &high[0][0] + std::size(high) * 3, -INFINITY);
        for (std::uint32_t f = 0; f < mesh.faceCount; ++f)
          for (std::uint32_t v : mesh.faces[f].corner)
            for (int g : {MeshGroup(mesh.faces[f].texture), kMeshGroups}) {
              const float xyz[3] = {mesh.vertices[v].x, mesh.vertices[v].y, mesh.vertices[v].z};
              for (int j = 0; j < 3; ++j) low[g][j] = std::min(low[g][j], xyz[j]), high[g][j] = std::max(high[g][j], xyz[j]);
            }
        for (int g = 0; g <= kMeshGroups; ++g)
          for (int j = 0; j < 3; ++j) {
            const bool none = g < kMeshGroups && (format == MeshFormat::Obj || !mesh.groupFaceCount[g]);
            EXPECT_EQ(g < kMeshGroups ? mesh.groupMin[g][j] : mesh.min[j], none ? 0.0f : low[g][j]) << g << " " << j;
            EXPECT_EQ(g < kMeshGroups ? mesh.groupMax[g][j] : mesh.max[j], none ? 0.0f : high[g][j]) << g << " " << j;
          }
      }
}

// With shared corners, an OBJ's texture coordinates are one per exact UV pair
// (-0 as +0), numbered in order of first use: on a map of few pairs, and on
// one of more than the small table holds (10^4 pairs, each used by two blocks
// in a row but the last 16, so that the last number has five digits); the
// file's faces name each corner's vertex and texture coordinate.
TEST(Mesh, TexcoordsOnePerPairInOrderOfFirstUse) {
  for (int blocks : {3, 833}) {
    std::vector<BlockRecord> map;
    for (int b = 0; b < blocks; ++b) {
      map.push_back(Cube(static_cast<float>(2 * b), 0, 0));
      for (int k = 0; k < 24; ++k) {
        const float few = b == 0 && k % 3 == 0 ? -0.0f : static_cast<float>(k % 3);
        map.back().u[k / 4][k % 4] = blocks < 10 ? few : static_cast<float>(b / 2);
        const float zeros = b == 1 ? (k % 2 ? -0.0f : 0.0f) : 0.5f;  // V's -0 too
        map.back().v[k / 4][k % 4] = blocks < 10 ? zeros : static_cast<float>(b + 1 < blocks ? k : k % 16);
      }
    }
    const BuiltMesh built(BuildBd1({}, map), MeshFormat::Obj, {.removeHiddenFaces = false, .shareVertices = true});
    const Mesh& mesh = built.mesh;
    ASSERT_TRUE(built.ok);
    std::map<std::pair<float, float>, std::uint32_t> first;  // -0 == +0 as map keys
    for (std::uint32_t c = 0; c < 4 * mesh.faceCount; ++c) {
      const auto number = first.emplace(std::pair{mesh.faces[c / 4].u[c % 4], mesh.faces[c / 4].v[c % 4]}, first.size());
      ASSERT_EQ(mesh.texcoord[c], number.first->second) << blocks << " blocks, corner " << c;
    }
    EXPECT_EQ(mesh.texcoordCount, blocks < 10 ? 6u : 10000u);
    std::ostringstream expected, written;
    for (std::uint32_t f = 0; f < mesh.faceCount; ++f)
      for (int way = 0; way < 2; ++way) {
        if (mesh.faces[f].turn == (way ? Turn::Listed : Turn::Reversed)) continue;
        for (int k = 0; k < 4; ++k) {
          const std::uint32_t c = 4 * f + static_cast<std::uint32_t>(way ? 3 - k : k);
          expected << mesh.faces[f].corner[c % 4] + 1 << '/' << mesh.texcoord[c] + 1 << ' ';
        }
      }
    std::istringstream obj(built.Write(MeshFormat::Obj));
    for (std::string line; std::getline(obj, line);)
      if (line.starts_with("f ")) written << line.substr(2) << ' ';
    EXPECT_EQ(written.str(), expected.str()) << blocks << " blocks";
  }
}

// A glb's vertices: one per group, shared vertex, exact UV pair and normal
// (-0 as +0), numbered in each group in order of first use: on cubes in one
// place whose corners are of few kinds, and of more at one vertex than are
// looked through there (UVs of their own for each two cubes of a texture),
// on two textures in turn; and with vertices not shared, where corners meet
// only within a block, on a flat frame whose faces all lie in one plane, and
// on a block whose front lies in its top's plane, so that the two faces
// share two vertices (unless their U or V differs), and on a block whose top
// is crossed. Every corner a face is drawn with has its vertex, and every
// triangle, as written, turns to the normal of the side it shows, whose
// parts are never -0, not even when they are too small for a float. Without
// options the same, numbered as the faces are made: beside the cubes, the
// bow and a flat tile, whose sides without area leave gaps in their group,
// have every corner its vertex's first use; the ramp, and the ramp turned
// inside out, have not.
TEST(Mesh, GltfVerticesOnePerKindInOrderOfFirstUse) {
  for (int kind : {0, 1, 2, 3, 4, 5}) {
    const bool own = kind == 1;
    std::vector<BlockRecord> map(80, Cube(0, 0, 0));
    for (int b = 0; b < 80; ++b)
      for (int k = 0; k < 24; ++k)
        map[b].u[k / 4][k % 4] = own ? static_cast<float>(b / 4) : b / 2 % 2 ? 0.0f : -0.0f, map[b].textureIndex[k / 4] = b % 2;
    BlockRecord frame = Box(0, 0, 0, 1, 0, 1, 0);
    for (int c = 4; c < 8; ++c) frame.vx[c] = 3 * frame.vx[c] - 1, frame.vz[c] = 3 * frame.vz[c] - 1;
    for (int k = 0; k < 24; ++k) frame.u[k / 4][k % 4] = frame.v[k / 4][k % 4] = 0;
    BlockRecord ramp = Box(5, 0, 5, 6, 1, 6, 0);
    for (int c : {4, 5}) ramp.vy[c] = 1, ramp.vz[c] = 4;
    for (int k = 0; k < 24; ++k) ramp.u[k / 4][k % 4] = ramp.v[k / 4][k % 4] = 0;
    BlockRecord bow = Box(8, 0, 8, 9, 1, 9, 0);
    std::swap(bow.vx[0], bow.vx[1]);
    BlockRecord wings = bow;  // crossed faces whose halves differ: each shows one side, a half against its normal
    wings.vx[1] = 7.5f;
    BlockRecord upturned = bow;  // the bow turned over: corners 4 to 7 are the crossed side
    for (int c = 0; c < 4; ++c)
      std::swap(upturned.vx[c], upturned.vx[c + 4]), std::swap(upturned.vy[c], upturned.vy[c + 4]),
          std::swap(upturned.vz[c], upturned.vz[c + 4]);
    BlockRecord tilted = Box(-1e30f, -1, -1e30f, 1e30f, 0, 1e30f, 0);  // a normal whose z is below any float's
    tilted.vy[0] = 1e-20f;
    BlockRecord tile = Tile(5);
    for (int f = 0; f < 6; ++f) tile.textureIndex[f] = f < 2 ? 2 + f : 0;
    if (kind == 2) map.push_back(frame);
    for (int axis = 0; axis < 2 && kind == 2; ++axis) {  // the ramp's faces told apart by one UV coordinate
      map.push_back(ramp);
      for (int k = 0; k < 24; ++k) (axis ? map.back().v[k / 4][k % 4] : map.back().u[k / 4][k % 4]) = static_cast<float>(k / 4);
    }
    if (kind == 5)
      for (float& x : ramp.vx) x = -x;
    if (kind == 2 || kind >= 4) map.push_back(ramp);
    if (kind == 3) map.push_back(tile);
    if (kind >= 2) map.insert(map.end(), {bow, wings, tilted, upturned});
    const BuiltMesh built(BuildBd1({}, map), MeshFormat::Glb, {.removeHiddenFaces = kind < 3, .shareVertices = kind < 2});
    const Mesh& mesh = built.mesh;
    ASSERT_TRUE(built.ok);
    std::map<std::vector<float>, std::uint32_t> first[kMeshGroups];  // -0 == +0 as map keys
    std::uint32_t scratch[8];
    for (std::uint32_t c = 0; c < 8 * mesh.faceCount; ++c) {
      const MeshFace& face = mesh.faces[c / 8];
      const std::uint32_t* number = GltfFaceNumbers(mesh, c / 8, scratch);
      if (number[c % 8] == 0xffffffffu) continue;
      const int s = static_cast<int>(c / 4 % 2), k = static_cast<int>(c % 4), g = MeshGroup(face.texture);
      const std::vector<float> key = {static_cast<float>(face.corner[k]), face.u[k], face.v[k], SideNormal(face, s, 0),
                                      SideNormal(face, s, 1), SideNormal(face, s, 2)};
      ASSERT_EQ(number[c % 8], first[g].emplace(key, first[g].size()).first->second) << kind << ", corner " << c;
    }
    for (int g = 0; g < kMeshGroups; ++g) EXPECT_EQ(mesh.gltfVertexCount[g], first[g].size()) << kind;
    for (std::uint32_t f = 0; f < mesh.faceCount; ++f)
      for (int n = 0; n < GlbTrianglesOf(mesh.faces[f]).count; n += 3) {
        for (float x : mesh.faces[f].normal) EXPECT_FALSE(x == 0 && std::signbit(x)) << kind << ", face " << f;
        const GlbTriangles& plan = GlbTrianglesOf(mesh.faces[f]);
        double p[3][3], dot = 0;
        const std::uint32_t* number = GltfFaceNumbers(mesh, f, scratch);
        for (int i = 0; i < 3; ++i) {
          ASSERT_NE(number[plan.corner[n + i]], 0xffffffffu) << kind << ", face " << f;
          const MeshVertex& v = mesh.vertices[mesh.faces[f].corner[plan.corner[n + i] % 4]];
          p[i][0] = v.x, p[i][1] = v.y, p[i][2] = v.z;
        }
        for (int j = 0; j < 3; ++j)
          dot += ((p[1][(j + 1) % 3] - p[0][(j + 1) % 3]) * (p[2][(j + 2) % 3] - p[0][(j + 2) % 3]) -
                  (p[1][(j + 2) % 3] - p[0][(j + 2) % 3]) * (p[2][(j + 1) % 3] - p[0][(j + 1) % 3])) *
                 SideNormal(mesh.faces[f], plan.corner[n] / 4, j);
        EXPECT_GT(dot, 0) << kind << ", face " << f << ", triangle " << n / 3;
      }
    // The frame's 8 corners, each seen from both sides, in 6 faces; the
    // ramp's 24 corners, two of its front's on its top's; the bow's, the
    // wings', the tilted and the upturned block's faces each show one side, the
    // crossed ones too.
    EXPECT_EQ(mesh.gltfVertexCount[0] + mesh.gltfVertexCount[1],
              kind == 0 ? 2u * 24 : kind == 1 ? 40u * 24 : 80u * 24 + (kind == 2 ? 16 + 2 * 24 : 0) + (kind != 3 ? 22 : 0) + 4 * 24);
  }
}

// A glb's material name is the map's bytes when they are well-formed UTF-8;
// any other name is taken as Latin-1, its bytes from 0x80 escaped.
TEST(MeshDocument, GlbNamesAreWellFormedUtf8OrLatin1) {
  const struct {
    const char *name, *json;
  } kNames[] = {
      {"\xc3\xbc \xe2\x82\xac \xed\x9f\xbf \xf4\x8f\xbf\xbf", "\xc3\xbc_\xe2\x82\xac_\xed\x9f\xbf_\xf4\x8f\xbf\xbf"},
      {"\xe0\xa0\x80", "\xe0\xa0\x80"},                        // U+0800, the first of three bytes
      {"\xc1\xbf", "\\u00C1\\u00BF"},                        // overlong, two bytes
      {"\xe0\x80\xaf", "\\u00E0\\u0080\\u00AF"},          // overlong
      {"\xe0\x9f\xbf", "\\u00E0\\u009F\\u00BF"},          // overlong, the last before U+0800
      {"\xed\xa0\x80", "\\u00ED\\u00A0\\u0080"},          // a surrogate
      {"\xf0\x8f\xbf\xbf", "\\u00F0\\u008F\\u00BF\\u00BF"},  // overlong
      {"\xf4\x90\x80\x80", "\\u00F4\\u0090\\u0080\\u0080"},  // past U+10FFFF
      {"\xf5\x80\x80\x80", "\\u00F5\\u0080\\u0080\\u0080"},  // no lead byte
      {"a\xc3", "a\\u00C3"},                          // cut short
  };
  for (const auto& c : kNames) {
    const BuiltMesh built(BuildBd1({c.name}, {Cube(0, 0, 0)}), MeshFormat::Glb);
    ASSERT_TRUE(built.ok);
    EXPECT_NE(built.Write(MeshFormat::Glb).find("\"materials\":[{\"name\":\"" + std::string(c.json) + "\""), std::string::npos) << c.json;
  }
}

// Images go in while they fit kGlbImagesMax together, and one that does not
// fit is left out, the next that fits still in. (Names given the same bytes
// share one image: the job's image test.)
TEST(MeshDocument, ImagesFitTheBudget) {
  const BuiltMesh built(BuildBd1({"a.png", "b.png", "c.png", "d.png"},
                                 {Cube(0, 0, 0, 0), Cube(2, 0, 0, 1), Cube(4, 0, 0, 2), Cube(6, 0, 0, 3)}), MeshFormat::Glb);
  ASSERT_TRUE(built.ok);
  static const unsigned char kOne[4] = {1, 2, 3, 4}, kTwo[4] = {5, 6, 7, 8}, kThree[4] = {9}, kFour[4] = {10};
  // Sizes only: the layout is made on the first piece, and the BIN chunk
  // that would read the bytes is never reached.
  const MeshImage large[kTextureNameCount] = {{kOne, kGlbImagesMax - 5, "image/png", nullptr}, {kTwo, 6, "image/png", nullptr},
                                              {kThree, 5, "image/png", nullptr}, {kFour, 1, "image/png", nullptr}};
  MeshCursor cursor{};
  std::vector<char> piece(kMqoMinChunk);
  ASSERT_GT(MeshDocumentNext({&built.data, &built.mesh, MeshFormat::Glb, nullptr, large}, &cursor, piece.data(), piece.size()), 0u);
  EXPECT_EQ(std::vector<int>(cursor.glb.imageGroup, cursor.glb.imageGroup + cursor.glb.images), (std::vector<int>{0, 2}));
}

// The OBJ's positions read back as the mesh's exact floats: grid values
// whose text runs past the short form's first word (-1014.625), and values
// off the grid.
TEST(MeshDocument, ObjPositionsReadBackExactly) {
  const BuiltMesh built(BuildBd1({}, {Box(1014.625f, -0.015625f, 1e-45f, 1234.5677f, 3.4028235e38f, -2047.875f, 0)}),
                        MeshFormat::Obj);
  ASSERT_TRUE(built.ok);
  std::istringstream obj(built.Write(MeshFormat::Obj));
  std::uint32_t v = 0;
  for (std::string line; std::getline(obj, line);) {
    if (!line.starts_with("v ")) continue;
    ASSERT_LT(v, built.mesh.vertexCount);
    const MeshVertex& want = built.mesh.vertices[v++];
    std::istringstream numbers(line.substr(2));
    for (const float expected : {want.x, want.y, want.z}) {
      std::string text;
      numbers >> text;
      EXPECT_EQ(std::strtof(text.c_str(), nullptr), expected) << line;
    }
  }
  EXPECT_EQ(v, built.mesh.vertexCount);
}

// An image cut between pieces ends with its padding in the piece that holds
// its last byte, never past that piece's capacity: here a piece one to three
// bytes short of the whole file.
TEST(MeshDocument, ImagePaddingStaysWithinThePiece) {
  const BuiltMesh built(BuildBd1({"a.png"}, {Cube(0, 0, 0, 0)}), MeshFormat::Glb);
  ASSERT_TRUE(built.ok);
  const std::vector<unsigned char> png(3001, 7);  // three bytes of padding
  const MeshImage images[kTextureNameCount] = {{png.data(), png.size(), "image/png", nullptr}};
  const std::string whole = built.Write(MeshFormat::Glb, images, std::size_t{1} << 16);
  for (std::size_t shorter = 1; shorter <= 3; ++shorter)
    EXPECT_TRUE(built.Write(MeshFormat::Glb, images, whole.size() - shorter) == whole) << shorter;
}

// Every view in the BIN chunk ends in zeros up to the next 4 bytes: here two
// primitives of one triangle each, whose 16-bit indices take 6 bytes.
TEST(MeshDocument, GlbViewsArePaddedWithZeros) {
  BlockRecord wedge = Wedge(0, 0, 1);  // faces 0 and 2 run through corners 0 and 1: one triangle each
  for (int f = 0; f < 6; ++f) wedge.textureIndex[f] = f;
  const BuiltMesh built(BuildBd1({}, {wedge}), MeshFormat::Glb);
  ASSERT_TRUE(built.ok);
  const std::string glb = built.Write(MeshFormat::Glb);
  std::uint32_t jsonLength;
  std::memcpy(&jsonLength, glb.data() + 12, 4);
  const std::string json = glb.substr(20, jsonLength), offset = "\"byteOffset\":", length = ",\"byteLength\":";
  int padded = 0;
  for (std::size_t at = json.find(offset); at != std::string::npos; at = json.find(offset, at + 1)) {
    const std::size_t numbers = at + offset.size(), second = json.find(length, numbers) + length.size();
    for (std::size_t i = 28 + jsonLength + std::stoul(json.substr(numbers)) + std::stoul(json.substr(second)); i % 4;
         ++i, ++padded)
      EXPECT_EQ(glb.at(i), '\0') << i;
  }
  EXPECT_EQ(padded, 4);
}

// The committed OBJ, MTL and glb of the examples are what the writers write,
// in any buffer size; tests/mesh/readback.py reads them back against the maps.
TEST(MeshDocument, TheCommittedFilesInAnyChunks) {
  for (const std::string& path : MeshFixtures())
    for (std::size_t chunk : {kMqoMinChunk, kMqoMinChunk + 3, std::size_t{1} << 20})
      EXPECT_TRUE(WriteMeshFixture(BLOCKMQO_SOURCE_DIR, path, chunk) == ReadFileBytes(BLOCKMQO_SOURCE_DIR "/" + path))
          << path << ": rerun make_fixtures";
}

}  // namespace
