// BuildMesh: blocks to faces, then each option as one pass that sorts
// hashes to find equal items.
//
// Memory, for n blocks: the mesh itself, 432n bytes (8n vertices of 12 bytes,
// 6n faces of 56), and beside it, while a pass runs, at most 360n bytes
// (numbering the positions: two 20-byte records and a number a vertex). For
// the largest map (32767 blocks) that is 14.2 MB of mesh and at most 11.8 MB
// more, beside the block array's 10.4 MB.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "mesh/mesh.h"

namespace {

std::uint32_t Bits(const float& f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

// Positions compare as exact float values: the bits, with -0 taken as +0.
std::uint32_t Key(const float& f) {
  std::uint32_t bits = Bits(f);
  return bits << 1 ? bits : 0u;
}

bool Finite(std::uint32_t bits) { return (bits & 0x7f800000u) != 0x7f800000u; }

bool BlockFinite(const BlockRecord& block) {
  // The record's floats are contiguous: vx, vy, vz, u, v.
  const float* values = block.vx;
  for (int i = 0; i < 24 + 48; ++i)
    if (!Finite(Bits(values[i]))) return false;
  return true;
}

std::uint32_t Mix(std::uint32_t h, std::uint32_t word) {
  h = (h ^ word) * 0x01000193u;
  return h ^ (h >> 15);
}
std::uint32_t Finish(std::uint32_t h) {
  h ^= h >> 16, h *= 0x85ebca6bu, h ^= h >> 13, h *= 0xc2b2ae35u;
  return h ^ (h >> 16);
}

template <typename T>
T* Allocate(std::size_t count) {
  return static_cast<T*>(std::malloc(count ? count * sizeof(T) : 1));
}

// Whether the triangle faces away from the block's centre: its normal, dotted
// with the way from the centre to it, is positive. A face through the centre,
// as in a flat block, does not.
bool FacesOut(const MeshVertex* v, const std::uint32_t* corner, const int (&t)[3], const double (&centre)[3]) {
  double a[3] = {v[corner[t[0]]].x, v[corner[t[0]]].y, v[corner[t[0]]].z};
  double b[3] = {v[corner[t[1]]].x, v[corner[t[1]]].y, v[corner[t[1]]].z};
  double c[3] = {v[corner[t[2]]].x, v[corner[t[2]]].y, v[corner[t[2]]].z};
  double dot = 0;
  for (int j = 0; j < 3; ++j) {
    const int k = (j + 1) % 3, l = (j + 2) % 3;
    const double normal = (b[k] - a[k]) * (c[l] - a[l]) - (b[l] - a[l]) * (c[k] - a[k]);
    dot += normal * ((a[j] + b[j] + c[j]) / 3 - centre[j]);
  }
  return dot > 0;
}

std::uint32_t Hash(const std::uint32_t* words, int n) {
  std::uint32_t h = 0x811c9dc5u;
  for (int i = 0; i < n; ++i) h = Mix(h, words[i]);
  return Finish(h);
}

// Finds, for each of n items, the first item equal to it: first[i] = the
// smallest j whose key equals i's (i itself if none). key(i, words) gives an
// item's W words, or false to leave it alone. The keys are sorted, with their
// hashes and items, by a stable radix sort on the hash, so equal keys meet in
// runs and compare side by side: nothing is looked up at random, which costs
// a cache miss an item on large maps. 2 x (8 + 4W) bytes an item while it runs.
template <int W>
struct Keyed {
  std::uint32_t hash, item, key[W];
};
template <int W, typename KeyFn>
bool FirstOfEqual(std::uint32_t n, const KeyFn& key, std::uint32_t* first) {
  auto* a = Allocate<Keyed<W>>(n);
  auto* b = Allocate<Keyed<W>>(n);
  if (!a || !b) {
    std::free(a), std::free(b);
    return false;
  }
  std::uint32_t m = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    first[i] = i;
    if (key(i, a[m].key)) a[m].hash = Hash(a[m].key, W), a[m++].item = i;
  }
  // By the hash's top 22 bits only: equal keys still meet, among a few
  // others whose full hashes or keys tell them apart.
  for (int shift = 10; shift < 32; shift += 11) {
    std::uint32_t start[2049] = {};
    for (std::uint32_t j = 0; j < m; ++j) ++start[(a[j].hash >> shift & 2047) + 1];
    for (int d = 0; d < 2048; ++d) start[d + 1] += start[d];
    for (std::uint32_t j = 0; j < m; ++j) b[start[a[j].hash >> shift & 2047]++] = a[j];
    std::swap(a, b);
  }
  auto same = [](const Keyed<W>& x, const Keyed<W>& y) {
    return x.hash == y.hash && std::memcmp(x.key, y.key, sizeof x.key) == 0;
  };
  for (std::uint32_t j = 0, k; j < m; j = k) {
    for (k = j + 1; k < m && a[k].hash >> 10 == a[j].hash >> 10;) ++k;
    // The run's distinct keys so far go in b; a run seldom holds two.
    std::uint32_t distinct = 0;
    for (std::uint32_t e = j; k - j > 1 && e < k; ++e) {
      std::uint32_t r = 0;
      while (r < distinct && !same(b[r], a[e])) ++r;
      if (r == distinct) b[distinct++] = a[e];
      else first[a[e].item] = b[r].item;
    }
  }
  std::free(a), std::free(b);
  return true;
}

// Positions as numbers: at[v] is the first vertex at v's position, with
// kShared set where another vertex has that position too, or kNonFinite
// where a coordinate is Inf or NaN (such corners hide nothing).
constexpr std::uint32_t kNonFinite = 0xffffffffu, kShared = 0x80000000u;
bool NumberPositions(const Mesh& mesh, std::uint32_t* at) {
  const MeshVertex* v = mesh.vertices;
  auto position = [&](std::uint32_t i, std::uint32_t* key) {
    key[0] = Key(v[i].x), key[1] = Key(v[i].y), key[2] = Key(v[i].z);
    return true;
  };
  if (!FirstOfEqual<3>(mesh.vertexCount, position, at)) return false;
  for (std::uint32_t i = 0; i < mesh.vertexCount; ++i)
    if ((at[i] & ~kShared) != i) at[i] |= kShared, at[at[i] & ~kShared] |= kShared;
  for (std::uint32_t i = 0; i < mesh.vertexCount; ++i)
    if (!Finite(Key(v[i].x)) || !Finite(Key(v[i].y)) || !Finite(Key(v[i].z))) at[i] = kNonFinite;
  return true;
}

enum Facing : std::uint8_t { kForward, kReversed, kNoFacing, kRemoved };

// A face's four positions in a canonical cyclic order (of the four starting
// corners and two directions, the smallest sequence), and which way that
// turns; kNoFacing for a corner that is non-finite or alone at its position,
// or a face whose order reversed is itself (no area and no side to hide).
Facing Canonical(const MeshFace& face, const std::uint32_t* at, std::uint32_t* q) {
  std::uint32_t p[4];
  for (int k = 0; k < 4; ++k) {
    // A face with a corner no other vertex shares cannot lie on another.
    if ((p[k] = at[face.corner[k]]) == kNonFinite || !(p[k] & kShared)) return kNoFacing;
    p[k] &= ~kShared;
  }
  auto compare = [&](int start, int step, int start2, int step2) {
    for (int i = 0; i < 4; ++i) {
      std::uint32_t a = p[(start + step * i + 8) % 4], b = p[(start2 + step2 * i + 8) % 4];
      if (a != b) return a < b ? -1 : 1;
    }
    return 0;
  };
  int forward = 0, reversed = 0;
  for (int s = 1; s < 4; ++s) {
    if (compare(s, 1, forward, 1) < 0) forward = s;
    if (compare(s, -1, reversed, -1) < 0) reversed = s;
  }
  const int order = compare(forward, 1, reversed, -1);
  if (order == 0) return kNoFacing;
  const int start = order < 0 ? forward : reversed, step = order < 0 ? 1 : -1;
  for (int i = 0; i < 4; ++i) q[i] = p[(start + step * i + 8) % 4];
  return order < 0 ? kForward : kReversed;
}

// Faces on the same points are chained in file order; in each chain the
// faces facing one way are paired, in file order, with the first unpaired
// face of another block facing the other way.
bool RemoveHiddenFaces(Mesh* mesh, const std::uint32_t* at) {
  const std::uint32_t n = mesh->faceCount;
  auto* facing = Allocate<std::uint8_t>(n);
  auto* first = Allocate<std::uint32_t>(n);
  auto* next = Allocate<std::uint32_t>(n);
  auto* head = static_cast<std::uint32_t*>(std::calloc(n ? n : 1, sizeof(std::uint32_t)));
  bool ok = facing && first && next && head &&
            FirstOfEqual<4>(
                n,
                [&](std::uint32_t f, std::uint32_t* key) {
                  facing[f] = Canonical(mesh->faces[f], at, key);
                  return facing[f] != kNoFacing;
                },
                first);
  for (std::uint32_t f = n; ok && f-- > 0;) {
    next[f] = head[first[f]];
    head[first[f]] = f + 1;
  }
  auto* reversed = first;  // no longer needed as such
  for (std::uint32_t r = 0; ok && r < n; ++r) {
    std::uint32_t chain = head[r];
    if (!chain || !next[chain - 1]) continue;  // not the first of two or more
    std::uint32_t reversedCount = 0;
    for (std::uint32_t f = chain; f; f = next[f - 1])
      if (facing[f - 1] == kReversed) reversed[reversedCount++] = f - 1;
    std::uint32_t done = 0;  // reversed faces before it are all paired
    for (std::uint32_t f = chain; f && done < reversedCount; f = next[f - 1]) {
      if (facing[f - 1] != kForward) continue;
      for (std::uint32_t k = done; k < reversedCount; ++k) {
        std::uint32_t g = reversed[k];
        if (facing[g] == kReversed && mesh->faces[g].block != mesh->faces[f - 1].block) {
          facing[g] = facing[f - 1] = kRemoved;
          break;
        }
      }
      while (done < reversedCount && facing[reversed[done]] == kRemoved) ++done;
    }
  }
  if (ok) {
    std::uint32_t kept = 0;
    for (std::uint32_t f = 0; f < n; ++f)
      if (facing[f] != kRemoved) mesh->faces[kept++] = mesh->faces[f];
    mesh->faceCount = kept;
  }
  std::free(facing), std::free(first), std::free(next), std::free(head);
  return ok;
}

// Every corner is pointed at the first vertex with its position.
void ShareVertices(Mesh* mesh, const std::uint32_t* at) {
  for (std::uint32_t f = 0; f < mesh->faceCount; ++f)
    for (std::uint32_t& c : mesh->faces[f].corner)
      if (at[c] != kNonFinite) c = at[c] & ~kShared;
}

// Renumbers the vertices that faces use, in their order, and drops the rest.
bool DropUnusedVertices(Mesh* mesh) {
  constexpr std::uint32_t kUnused = 0xffffffffu;
  auto* number = Allocate<std::uint32_t>(mesh->vertexCount);
  if (!number) return false;
  for (std::uint32_t v = 0; v < mesh->vertexCount; ++v) number[v] = kUnused;
  for (std::uint32_t f = 0; f < mesh->faceCount; ++f)
    for (std::uint32_t c : mesh->faces[f].corner) number[c] = 0;
  std::uint32_t kept = 0;
  for (std::uint32_t v = 0; v < mesh->vertexCount; ++v)
    if (number[v] != kUnused) mesh->vertices[kept] = mesh->vertices[v], number[v] = kept++;
  for (std::uint32_t f = 0; f < mesh->faceCount; ++f)
    for (std::uint32_t& c : mesh->faces[f].corner) c = number[c];
  mesh->vertexCount = kept;
  std::free(number);
  return true;
}

// One glTF vertex per group, mesh vertex and exact UV pair.
void CornerKey(const MeshFace& face, int k, std::uint32_t* words) {
  words[0] = static_cast<std::uint32_t>(MeshGroup(face.texture));
  words[1] = face.corner[k], words[2] = Key(face.u[k]), words[3] = Key(face.v[k]);
}
// Equal corners share their vertex: the corners are sorted by vertex (one
// counting pass), and each compared with the distinct ones of its vertex so
// far. Returns false, having changed nothing that matters, when memory runs
// out or a vertex has more than kMaxDistinct distinct corners (a pathological
// map: then FirstOfEqual's sort takes over, to stay linear).
constexpr std::uint32_t kMaxDistinct = 64;
void Include(Mesh* mesh, int group, const MeshVertex& v, bool* seen) {
  const float xyz[3] = {v.x, v.y, v.z};
  for (int j = 0; j < 3; ++j) {
    float& low = mesh->gltfMin[group][j];
    float& high = mesh->gltfMax[group][j];
    if (!seen[group] || xyz[j] < low) low = xyz[j];
    if (!seen[group] || xyz[j] > high) high = xyz[j];
  }
  seen[group] = true;
}

// Also finds each group's bounds, going through the vertices in order.
bool FirstCornerByVertex(Mesh* meshOut, std::uint32_t* first) {
  const Mesh& mesh = *meshOut;
  bool seen[kMeshGroups] = {};
  const std::uint32_t corners = 4 * mesh.faceCount;
  auto* end = static_cast<std::uint32_t*>(std::calloc(mesh.vertexCount + 1, sizeof(std::uint32_t)));
  auto* order = Allocate<std::uint32_t>(corners);
  bool ok = end && order;
  for (std::uint32_t c = 0; ok && c < corners; ++c) ++end[mesh.faces[c / 4].corner[c % 4] + 1];
  for (std::uint32_t v = 0; ok && v < mesh.vertexCount; ++v) end[v + 1] += end[v];
  for (std::uint32_t c = 0; ok && c < corners; ++c) order[end[mesh.faces[c / 4].corner[c % 4]]++] = c;
  for (std::uint32_t v = 0, begin = 0; ok && v < mesh.vertexCount; begin = end[v++]) {
    std::uint32_t distinct[kMaxDistinct][4], count = 0;
    for (std::uint32_t j = begin; ok && j < end[v]; ++j) {
      std::uint32_t key[4], r = 0;
      CornerKey(mesh.faces[order[j] / 4], static_cast<int>(order[j] % 4), key);
      key[1] = order[j];  // the vertex is the same: keep the corner instead
      while (r < count && (distinct[r][0] != key[0] || distinct[r][2] != key[2] || distinct[r][3] != key[3])) ++r;
      if (r < count) first[order[j]] = distinct[r][1];
      else if ((ok = count < kMaxDistinct)) {
        std::memcpy(distinct[count++], key, sizeof key);
        first[order[j]] = order[j];
        Include(meshOut, static_cast<int>(key[0]), mesh.vertices[v], seen);
      }
    }
  }
  std::free(end), std::free(order);
  return ok;
}

bool NumberGltfVertices(Mesh* mesh) {
  const std::uint32_t corners = 4 * mesh->faceCount;
  std::uint32_t* number = mesh->gltfCorner = Allocate<std::uint32_t>(corners);
  auto key = [&](std::uint32_t c, std::uint32_t* words) {
    CornerKey(mesh->faces[c / 4], static_cast<int>(c % 4), words);
    return true;
  };
  bool ok = number && FirstCornerByVertex(mesh, number);
  if (number && !ok) {
    ok = FirstOfEqual<4>(corners, key, number);
    bool seen[kMeshGroups] = {};
    for (std::uint32_t c = 0; ok && c < corners; ++c)
      Include(mesh, MeshGroup(mesh->faces[c / 4].texture), mesh->vertices[mesh->faces[c / 4].corner[c % 4]], seen);
  }
  // A corner's first equal comes before it and is numbered by then.
  for (std::uint32_t c = 0; ok && c < corners; ++c)
    number[c] = number[c] == c ? mesh->gltfVertexCount[MeshGroup(mesh->faces[c / 4].texture)]++
                               : number[number[c]];
  return ok;
}

}  // namespace

MeshResult BuildMesh(const BlockData& data, MeshOptions options, Mesh* mesh) {
  *mesh = Mesh{};
  const int count = data.count > 0 ? data.count : 0;
  // For glTF the faces come grouped by texture, in file order within a group,
  // so that each primitive is one run of them.
  std::uint32_t kept = 0, next[kMeshGroups + 1] = {};
  for (int b = 0; b < count; ++b) {
    if (options.dropNonFinite && !BlockFinite(data.blocks[b])) continue;
    ++kept;
    for (std::int32_t texture : data.blocks[b].textureIndex) ++next[MeshGroup(texture) + 1];
  }
  for (int g = 0; g < kMeshGroups; ++g) next[g + 1] += next[g];
  mesh->droppedBlocks = count - static_cast<int>(kept);
  mesh->vertices = Allocate<MeshVertex>(8 * kept);
  mesh->faces = Allocate<MeshFace>(6 * kept);
  bool ok = mesh->vertices && mesh->faces;
  for (int b = 0; ok && b < count; ++b) {
    const BlockRecord& block = data.blocks[b];
    if (options.dropNonFinite && !BlockFinite(block)) continue;
    const std::uint32_t base = mesh->vertexCount;
    for (int c = 0; c < 8; ++c) {
      MeshVertex& v = mesh->vertices[mesh->vertexCount++];
      // The first axis is mirrored by its sign bit, which keeps NaN payloads;
      // every float is moved as bytes, never through a float register.
      std::uint32_t x = Bits(block.vx[c]) ^ 0x80000000u;
      std::memcpy(&v.x, &x, sizeof x);
      std::memcpy(&v.y, &block.vy[c], sizeof v.y);
      std::memcpy(&v.z, &block.vz[c], sizeof v.z);
    }
    double centre[3] = {};
    for (std::uint32_t c = base; options.gltfVertices && c < base + 8; ++c)
      centre[0] += mesh->vertices[c].x / 8.0, centre[1] += mesh->vertices[c].y / 8.0,
          centre[2] += mesh->vertices[c].z / 8.0;
    for (int f = 0; f < 6; ++f) {
      const int group = options.gltfVertices ? MeshGroup(block.textureIndex[f]) : 0;
      MeshFace& face = mesh->faces[options.gltfVertices ? next[group]++ : mesh->faceCount];
      ++mesh->faceCount;
      for (int k = 0; k < 4; ++k)
        face.corner[k] = base + static_cast<std::uint32_t>(FaceCornerTable[f][3 - k]);
      std::memcpy(face.u, block.u[f], sizeof face.u);
      std::memcpy(face.v, block.v[f], sizeof face.v);
      face.texture = block.textureIndex[f];
      face.block = b;
      face.outward = 0;
      static const int kTriangles[2][3] = {{0, 1, 2}, {0, 2, 3}};
      for (int t = 0; options.gltfVertices && t < 2; ++t)
        face.outward |= static_cast<std::uint8_t>(FacesOut(mesh->vertices, face.corner, kTriangles[t], centre) << t);
    }
  }
  if (ok && (options.removeHiddenFaces || options.shareVertices)) {
    auto* at = Allocate<std::uint32_t>(mesh->vertexCount);
    ok = at && NumberPositions(*mesh, at);
    if (ok && options.removeHiddenFaces) ok = RemoveHiddenFaces(mesh, at);
    if (ok && options.shareVertices) ShareVertices(mesh, at);
    std::free(at);
  }
  if (ok && (options.removeHiddenFaces || options.shareVertices)) ok = DropUnusedVertices(mesh);
  if (ok && options.gltfVertices) ok = NumberGltfVertices(mesh);
  for (std::uint32_t f = 0; ok && f < mesh->faceCount; ++f) ++mesh->groupFaceCount[MeshGroup(mesh->faces[f].texture)];
  if (!ok) {
    ReleaseMesh(mesh);
    return MeshResult::OutOfMemory;
  }
  return MeshResult::Ok;
}

void ReleaseMesh(Mesh* mesh) {
  std::free(mesh->vertices);
  std::free(mesh->faces);
  std::free(mesh->gltfCorner);
  *mesh = Mesh{};
}
