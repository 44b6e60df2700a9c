// BuildMesh: blocks to faces, then each option as one hashed pass.
//
// Memory, for n blocks: the mesh itself (8n vertices of 12 bytes, 6n faces of
// 56 bytes, 432n bytes in all), plus at most 48n bytes of scratch for a
// pass, freed before the next; the glTF numbering keeps 96n bytes. For the
// largest map that is about 14 MiB for the mesh and 4 MiB at most at a time
// beside it (the block array is another 10 MiB).
#include <cmath>
#include <cstdlib>
#include <cstring>

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

// An open-addressed table of item numbers + 1, twice as large as the items.
struct Table {
  std::uint32_t* slots;
  std::uint32_t mask;
};
bool MakeTable(std::uint32_t items, Table* table) {
  std::uint32_t size = 16;
  while (size < 2 * items) size *= 2;
  table->mask = size - 1;
  table->slots = static_cast<std::uint32_t*>(std::calloc(size, sizeof(std::uint32_t)));
  return table->slots != nullptr;
}

template <typename T>
T* Allocate(std::size_t count) {
  return static_cast<T*>(std::malloc(count ? count * sizeof(T) : 1));
}

// A face's four points in a canonical cyclic order: of the four starting
// corners and two directions, the sequence that is smallest word by word.
struct Quad {
  std::uint32_t w[12];
};
enum Facing : std::uint8_t { kForward, kReversed, kNoFacing, kRemoved };

int Compare(const std::uint32_t (&p)[4][3], int start, int step, int start2, int step2) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 3; ++j) {
      std::uint32_t a = p[(start + step * i + 8) % 4][j], b = p[(start2 + step2 * i + 8) % 4][j];
      if (a != b) return a < b ? -1 : 1;
    }
  return 0;
}

// Which way the face turns, seen from its canonical order; kNoFacing for a
// non-finite corner, or a face whose order reversed is itself (it has no area
// and no side to hide).
Facing Canonical(const Mesh& mesh, const MeshFace& face, Quad* quad) {
  std::uint32_t p[4][3];
  for (int k = 0; k < 4; ++k) {
    const MeshVertex& v = mesh.vertices[face.corner[k]];
    p[k][0] = Key(v.x), p[k][1] = Key(v.y), p[k][2] = Key(v.z);
    if (!Finite(p[k][0]) || !Finite(p[k][1]) || !Finite(p[k][2])) return kNoFacing;
  }
  int forward = 0, reversed = 0;
  for (int s = 1; s < 4; ++s) {
    if (Compare(p, s, 1, forward, 1) < 0) forward = s;
    if (Compare(p, s, -1, reversed, -1) < 0) reversed = s;
  }
  int order = Compare(p, forward, 1, reversed, -1);
  if (order == 0) return kNoFacing;
  int start = order < 0 ? forward : reversed, step = order < 0 ? 1 : -1;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 3; ++j) quad->w[3 * i + j] = p[(start + step * i + 8) % 4][j];
  return order < 0 ? kForward : kReversed;
}

std::uint32_t Hash(const std::uint32_t* words, int n) {
  std::uint32_t h = 0x811c9dc5u;
  for (int i = 0; i < n; ++i) h = Mix(h, words[i]);
  return Finish(h);
}

// Faces on the same points are chained in file order; in each chain the
// faces facing one way are paired, in file order, with the first unpaired
// face of another block facing the other way.
bool RemoveHiddenFaces(Mesh* mesh) {
  const std::uint32_t n = mesh->faceCount;
  Table table;
  auto* facing = Allocate<std::uint8_t>(n);
  auto* next = Allocate<std::uint32_t>(n);
  auto* hash = Allocate<std::uint32_t>(n);
  auto* other = Allocate<std::uint32_t>(n);
  bool ok = facing && next && hash && other && MakeTable(n, &table);
  if (!ok) table.slots = nullptr;
  for (std::uint32_t f = n; ok && f-- > 0;) {
    Quad quad, seen;
    facing[f] = Canonical(*mesh, mesh->faces[f], &quad);
    if (facing[f] == kNoFacing) continue;
    hash[f] = Hash(quad.w, 12);
    std::uint32_t i = hash[f] & table.mask;
    for (; table.slots[i]; i = (i + 1) & table.mask) {
      std::uint32_t head = table.slots[i] - 1;
      if (hash[head] == hash[f] && (Canonical(*mesh, mesh->faces[head], &seen), true) &&
          std::memcmp(seen.w, quad.w, sizeof quad.w) == 0)
        break;
    }
    next[f] = table.slots[i];  // the chain so far, or 0
    table.slots[i] = f + 1;
  }
  for (std::uint32_t i = 0; ok && i <= table.mask; ++i) {
    if (!table.slots[i]) continue;
    // Split the chain: the forward faces stay in `next` order, the reversed
    // ones are listed in `other`.
    std::uint32_t reversedCount = 0;
    for (std::uint32_t f = table.slots[i]; f; f = next[f - 1])
      if (facing[f - 1] == kReversed) other[reversedCount++] = f - 1;
    std::uint32_t first = 0;  // reversed faces before it are all paired
    for (std::uint32_t f = table.slots[i]; f && first < reversedCount; f = next[f - 1]) {
      if (facing[f - 1] != kForward) continue;
      for (std::uint32_t k = first; k < reversedCount; ++k) {
        std::uint32_t r = other[k];
        if (facing[r] == kReversed && mesh->faces[r].block != mesh->faces[f - 1].block) {
          facing[r] = facing[f - 1] = kRemoved;
          break;
        }
      }
      while (first < reversedCount && facing[other[first]] == kRemoved) ++first;
    }
  }
  if (ok) {
    std::uint32_t kept = 0;
    for (std::uint32_t f = 0; f < n; ++f)
      if (facing[f] != kRemoved) mesh->faces[kept++] = mesh->faces[f];
    mesh->faceCount = kept;
  }
  std::free(table.slots);
  std::free(facing), std::free(next), std::free(hash), std::free(other);
  return ok;
}

std::uint32_t VertexHash(const MeshVertex& v) {
  const std::uint32_t words[3] = {Key(v.x), Key(v.y), Key(v.z)};
  return Hash(words, 3);
}
bool SamePosition(const MeshVertex& a, const MeshVertex& b) {
  return Key(a.x) == Key(b.x) && Key(a.y) == Key(b.y) && Key(a.z) == Key(b.z);
}

// Every corner is pointed at the first vertex with its position.
bool ShareVertices(Mesh* mesh) {
  Table table;
  auto* first = Allocate<std::uint32_t>(mesh->vertexCount);
  bool ok = first && MakeTable(mesh->vertexCount, &table);
  for (std::uint32_t v = 0; ok && v < mesh->vertexCount; ++v) {
    std::uint32_t i = VertexHash(mesh->vertices[v]) & table.mask;
    while (table.slots[i] && !SamePosition(mesh->vertices[table.slots[i] - 1], mesh->vertices[v]))
      i = (i + 1) & table.mask;
    if (!table.slots[i]) table.slots[i] = v + 1;
    first[v] = table.slots[i] - 1;
  }
  if (ok) {
    for (std::uint32_t f = 0; f < mesh->faceCount; ++f)
      for (std::uint32_t& c : mesh->faces[f].corner) c = first[c];
    std::free(table.slots);
  }
  std::free(first);
  return ok;
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
void CornerKey(const MeshFace& face, int k, std::uint32_t (&words)[4]) {
  words[0] = static_cast<std::uint32_t>(MeshGroup(face.texture));
  words[1] = face.corner[k], words[2] = Key(face.u[k]), words[3] = Key(face.v[k]);
}
bool NumberGltfVertices(Mesh* mesh) {
  const std::uint32_t corners = 4 * mesh->faceCount;
  Table table;
  mesh->gltfCorner = Allocate<std::uint32_t>(corners);
  if (!mesh->gltfCorner || !MakeTable(corners, &table)) return false;
  for (std::uint32_t c = 0; c < corners; ++c) {
    std::uint32_t key[4], seen[4];
    CornerKey(mesh->faces[c / 4], static_cast<int>(c % 4), key);
    std::uint32_t i = Hash(key, 4) & table.mask;
    for (; table.slots[i]; i = (i + 1) & table.mask) {
      std::uint32_t s = table.slots[i] - 1;
      CornerKey(mesh->faces[s / 4], static_cast<int>(s % 4), seen);
      if (std::memcmp(key, seen, sizeof key) == 0) break;
    }
    if (table.slots[i]) {
      mesh->gltfCorner[c] = mesh->gltfCorner[table.slots[i] - 1];
    } else {
      table.slots[i] = c + 1;
      mesh->gltfCorner[c] = mesh->gltfVertexCount[key[0]]++;
    }
  }
  std::free(table.slots);
  return true;
}

}  // namespace

MeshResult BuildMesh(const BlockData& data, MeshOptions options, Mesh* mesh) {
  *mesh = Mesh{};
  const int count = data.count > 0 ? data.count : 0;
  std::uint32_t kept = 0;
  for (int b = 0; b < count; ++b)
    if (!options.dropNonFinite || BlockFinite(data.blocks[b])) ++kept;
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
    for (int f = 0; f < 6; ++f) {
      MeshFace& face = mesh->faces[mesh->faceCount++];
      for (int k = 0; k < 4; ++k)
        face.corner[k] = base + static_cast<std::uint32_t>(FaceCornerTable[f][3 - k]);
      std::memcpy(face.u, block.u[f], sizeof face.u);
      std::memcpy(face.v, block.v[f], sizeof face.v);
      face.texture = block.textureIndex[f];
      face.block = b;
    }
  }
  if (ok && options.removeHiddenFaces) ok = RemoveHiddenFaces(mesh);
  if (ok && options.shareVertices) ok = ShareVertices(mesh);
  if (ok && (options.removeHiddenFaces || options.shareVertices)) ok = DropUnusedVertices(mesh);
  if (ok && options.gltfVertices) ok = NumberGltfVertices(mesh);
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
