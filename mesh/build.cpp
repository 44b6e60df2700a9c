// BuildMesh: for OBJ and glb, blocks to faces with their turns, straight
// into their texture groups, counted as they are made, then each option as
// one pass that finds equal keys, then the vertices renumbered and bounded,
// and the glTF vertices or the OBJ's texture coordinates. For the MQO, which
// is written from the map itself, only which faces and corners it keeps.
//
// Memory, for n blocks: an OBJ or glb mesh itself, 552n bytes (8n vertices of
// 12 bytes, 6n faces of 76), and beside it, while a pass runs, up to 520n
// bytes (the positions: a table of 128 to 256 bytes a block, or where that
// gives up two 20-byte records a vertex, in the faces' room; the hidden
// faces, where any could be hidden: two 24-byte records and 38 bytes a face).
// The OBJ's texture coordinates take a 256 KB table while they are few (up to
// 8192 distinct), and otherwise two 16-byte records a corner, 770n; the glb's
// vertices 33 bytes a face, or 5 where every corner drawn is its vertex's
// first use, as without shared vertices. For the largest map (32767 blocks)
// that is 18.1 MB of mesh and 11 to 25 MB more, beside the block array's
// 10.4 MB. The MQO's takes 64n bytes (the positions' and the vertices' numbers),
// the table's 128n to 256n while it runs, and 4 bytes a face kept with
// removeHiddenFaces: 6 MB for the largest map, and the faces that could be
// hidden, 24 bytes each and 38 more, while they are paired.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// Where doubles are computed in SSE2 registers (x86-64), a block's faces
// turn two at a time, and the bounds take a vertex's three values at once.
#if defined(__SSE2__) && defined(__SSE2_MATH__)
#define BLOCKMQO_PAIRED_TURNS 1
#else
#define BLOCKMQO_PAIRED_TURNS 0
#endif

#include "mesh/equal.h"
#include "mesh/mesh.h"

namespace {

using namespace mesh_equal;

std::uint32_t Bits(const float& f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

// Positions compare as exact float values: the bits, with -0 taken as +0.
std::uint32_t KeyOfBits(std::uint32_t bits) { return bits << 1 ? bits : 0u; }
std::uint32_t Key(const float& f) { return KeyOfBits(Bits(f)); }
// A UV pair's key: U's above V's.
std::uint64_t UvKey(const float& u, const float& v) { return std::uint64_t{Key(u)} << 32 | Key(v); }

bool Finite(std::uint32_t bits) { return (bits & 0x7f800000u) != 0x7f800000u; }

bool BlockFinite(const BlockRecord& block) {
  // The record's floats are contiguous: vx, vy, vz, u, v. Counted without a
  // branch, so that the compiler checks several at once.
  const float* values = block.vx;
  int nonFinite = 0;
  for (int i = 0; i < 24 + 48; ++i) nonFinite += !Finite(Bits(values[i]));
  return nonFinite == 0;
}

// ---- Which way a polygon turns: the one formula for faces and triangles.

// A block's eight corners in double, converted once for its six faces (a
// float's double is exact, so this changes no result).
using BlockCorners = double[8][3];
void MakeBlockCorners(const BlockRecord& block, BlockCorners& corners) {
  for (std::uint32_t c = 0; c < 8; ++c) {
    std::uint32_t bits[3];
    float xyz[3];
    DocumentCornerBits(block, c, bits);
    std::memcpy(xyz, bits, sizeof xyz);
    corners[c][0] = xyz[0], corners[c][1] = xyz[1], corners[c][2] = xyz[2];
  }
}

// A triangle's normal (twice its area), by Newell's sum over its edges; a
// face's is the sum of its two triangles'. C0, C1 and C2 are its corners'
// places in `p` (a block's corners, or a pair of faces' in SSE2 registers),
// known at compile time so that every corner is a fixed place.
template <int C0, int C1, int C2, typename Corners, typename T>
[[gnu::always_inline]] inline void AddNormal(const Corners& p, T (&normal)[3]) {
  constexpr int kCorner[4] = {C0, C1, C2, C0};
#pragma GCC unroll 3
  for (int i = 0; i < 3; ++i) {
    const T* a = p[kCorner[i]];
    const T* b = p[kCorner[i + 1]];
    normal[0] += (a[1] - b[1]) * (a[2] + b[2]);
    normal[1] += (a[2] - b[2]) * (a[0] + b[0]);
    normal[2] += (a[0] - b[0]) * (a[1] + b[1]);
  }
}

// The one formula for faces and triangles: the normal along the outward
// direction. Without area (the normal is 0, or not a number) it turns no
// way; across nothing (the direction is 0, or at right angles) both ways.
[[gnu::always_inline]] inline Turn TurnOf(const double (&normal)[3], const double (&outward)[3]) {
  const double dot = normal[0] * outward[0] + normal[1] * outward[1] + normal[2] * outward[2];
  if ((normal[0] == 0 && normal[1] == 0 && normal[2] == 0) || std::isnan(dot)) return Turn::None;
  return dot > 0 ? Turn::Listed : dot < 0 ? Turn::Reversed : Turn::Both;
}

// Face F's outward direction: from the corners across the block to its own.
// Corner c faces c ^ kAcross[F] across the block, so the direction is exactly
// 0 when each corner lies on its partner, as in a flat tile.
constexpr int kAcross[6] = {4, 4, 3, 1, 3, 1};
template <int F>
void SetFaceTurns(const BlockCorners& p, bool normal, MeshFace* face) {
  constexpr const std::int8_t* kRow = FaceCornerTable[F];
  double outward[3] = {};
#pragma GCC unroll 4
  for (int k = 0; k < 4; ++k) {
    const double* own = p[kRow[k]];
    const double* across = p[kRow[k] ^ kAcross[F]];
#pragma GCC unroll 3
    for (int j = 0; j < 3; ++j) outward[j] += own[j] - across[j];
  }
  // The triangles (0 1 2) and (0 2 3) of the corners as the face lists them.
  double half[2][3] = {}, sum[3];
  AddNormal<kRow[3], kRow[2], kRow[1]>(p, half[0]);
  AddNormal<kRow[3], kRow[1], kRow[0]>(p, half[1]);
  for (int t = 0; t < 2; ++t) face->triangle[t] = TurnOf(half[t], outward);
  for (int j = 0; j < 3; ++j) sum[j] = half[0][j] + half[1][j];
  face->turn = TurnOf(sum, outward);
  // A crossed quad's halves cancel out; it still has area to draw, and its
  // first half with area gives its normal.
  const double* n = sum;
  if (face->turn == Turn::None && (face->triangle[0] != Turn::None || face->triangle[1] != Turn::None)) {
    face->turn = Turn::Both;
    n = face->triangle[0] != Turn::None ? half[0] : half[1];
  }
  face->normal[0] = face->normal[1] = face->normal[2] = 0.0f, face->against = 0;
  if (!normal) return;
  // In double, no float's squares overflow or vanish: every normal with
  // area comes out of unit length.
  const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  for (int j = 0; j < 3 && length > 0 && std::isfinite(length); ++j) face->normal[j] = static_cast<float>(n[j] / length) + 0.0f;
  for (int t = 0; t < 2; ++t)
    if (n[0] * half[t][0] + n[1] * half[t][1] + n[2] * half[t][2] < 0) face->against |= static_cast<std::uint8_t>(1 << t);
}

void SetTurns(const BlockCorners& p, int f, bool normal, MeshFace* face) {
  switch (f) {
    case 0: return SetFaceTurns<0>(p, normal, face);
    case 1: return SetFaceTurns<1>(p, normal, face);
    case 2: return SetFaceTurns<2>(p, normal, face);
    case 3: return SetFaceTurns<3>(p, normal, face);
    case 4: return SetFaceTurns<4>(p, normal, face);
    default: return SetFaceTurns<5>(p, normal, face);
  }
}

// A block's six faces' turns, into turns[f]. Where doubles are computed in
// SSE2 registers (not in x87's, whose rounding follows the optimizer), faces
// go two at a time, one in each half of a register: the same operations in
// the same order as SetFaceTurns, so the same bits, for about half the
// instructions. The corners of OBJ's and glb's blocks are finite, and in
// double no product or sum of theirs overflows, so no value here is Inf or
// NaN, and a face that turns some way has a normal of some length. A face
// that turns no way (without area, or a crossed quad) is taken again on its
// own.
#if BLOCKMQO_PAIRED_TURNS
// TurnOf for both halves: bit h of each mask is half h's.
struct PairTurns {
  int none, positive, negative;
  Turn Of(int h) const {
    return none >> h & 1 ? Turn::None : positive >> h & 1 ? Turn::Listed : negative >> h & 1 ? Turn::Reversed : Turn::Both;
  }
};
PairTurns PairTurnOf(const __m128d (&normal)[3], const __m128d (&outward)[3]) {
  const __m128d dot = normal[0] * outward[0] + normal[1] * outward[1] + normal[2] * outward[2];
  const __m128d zero = _mm_setzero_pd();
  const __m128d flat = _mm_and_pd(_mm_and_pd(_mm_cmpeq_pd(normal[0], zero), _mm_cmpeq_pd(normal[1], zero)),
                                  _mm_cmpeq_pd(normal[2], zero));
  return {_mm_movemask_pd(flat), _mm_movemask_pd(_mm_cmpgt_pd(dot, zero)), _mm_movemask_pd(_mm_cmplt_pd(dot, zero))};
}

template <int F, int G>
void SetFacePairTurns(const BlockCorners& p, bool normal, MeshFace (&turns)[6]) {
  constexpr const std::int8_t* kRow[2] = {FaceCornerTable[F], FaceCornerTable[G]};
  __m128d own[4][3], outward[3] = {};
#pragma GCC unroll 4
  for (int k = 0; k < 4; ++k)
#pragma GCC unroll 3
    for (int j = 0; j < 3; ++j) {
      own[k][j] = _mm_set_pd(p[kRow[1][k]][j], p[kRow[0][k]][j]);
      outward[j] += own[k][j] - _mm_set_pd(p[kRow[1][k] ^ kAcross[G]][j], p[kRow[0][k] ^ kAcross[F]][j]);
    }
  __m128d half[2][3] = {}, sum[3];
  AddNormal<3, 2, 1>(own, half[0]);
  AddNormal<3, 1, 0>(own, half[1]);
  const PairTurns triangle[2] = {PairTurnOf(half[0], outward), PairTurnOf(half[1], outward)};
  for (int j = 0; j < 3; ++j) sum[j] = half[0][j] + half[1][j];
  const PairTurns whole = PairTurnOf(sum, outward);
  __m128d unit[3] = {};
  int against[2] = {};
  if (normal) {
    const __m128d length = _mm_sqrt_pd(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]);
    for (int j = 0; j < 3; ++j) unit[j] = sum[j] / length;
    for (int t = 0; t < 2; ++t)
      against[t] = _mm_movemask_pd(
          _mm_cmplt_pd(sum[0] * half[t][0] + sum[1] * half[t][1] + sum[2] * half[t][2], _mm_setzero_pd()));
  }
  const int side[2] = {F, G};
  for (int h = 0; h < 2; ++h) {
    MeshFace& face = turns[side[h]];
    if (whole.none >> h & 1) {
      SetTurns(p, side[h], normal, &face);
      continue;
    }
    face.triangle[0] = triangle[0].Of(h), face.triangle[1] = triangle[1].Of(h), face.turn = whole.Of(h);
    for (int j = 0; j < 3; ++j) face.normal[j] = normal ? static_cast<float>(unit[j][h]) + 0.0f : 0.0f;
    face.against = static_cast<std::uint8_t>((against[0] >> h & 1) | (against[1] >> h & 1) << 1);
  }
}

void SetBlockTurns(const BlockCorners& p, bool normal, MeshFace (&turns)[6]) {
  SetFacePairTurns<0, 1>(p, normal, turns);
  SetFacePairTurns<2, 3>(p, normal, turns);
  SetFacePairTurns<4, 5>(p, normal, turns);
}
#endif

// ---- The options.

// Positions as numbers: at[v] is the first vertex at v's position, with
// kShared set where another vertex has that position too, or kNonFinite
// where a coordinate is Inf or NaN (such corners hide nothing). position(v,
// bits) gives vertex v's three coordinates' bits. *shared says whether any
// is. The OBJ's and glb's vertices are all finite, and are not read again
// for it (`finite`).
constexpr std::uint32_t kNonFinite = 0xffffffffu, kShared = 0x80000000u;
template <typename PositionFn>
bool NumberPositions(std::uint32_t n, const PositionFn& position, bool finite, std::uint32_t* at, bool* shared,
                     const Room& room = {}) {
  auto key = [&](std::uint32_t i, std::uint32_t* words) {
    position(i, words);
    for (int j = 0; j < 3; ++j) words[j] = KeyOfBits(words[j]);
    return true;
  };
  if (!FirstOfEqual<3>(n, key, at, room)) return false;
  *shared = false;
  for (std::uint32_t i = 0; i < n; ++i)
    if ((at[i] & ~kShared) != i) at[i] |= kShared, at[at[i] & ~kShared] |= kShared, *shared = true;
  for (std::uint32_t i = 0; !finite && i < n; ++i) {
    std::uint32_t bits[3];
    position(i, bits);
    if (!Finite(bits[0]) || !Finite(bits[1]) || !Finite(bits[2])) at[i] = kNonFinite;
  }
  return true;
}

enum Facing : std::uint8_t { kForward, kBackward, kNoFacing, kRemoved };

// A face's four positions in a canonical cyclic order (of the four starting
// corners and two directions, the smallest sequence), and whether its outward
// side is the side that order turns to. kNoFacing for a face that turns one
// way only, or has a corner that is non-finite or alone at its position.
template <typename Face>
Facing Canonical(const Face& face, const std::uint32_t* at, std::uint32_t* q) {
  if (face.turn != Turn::Listed && face.turn != Turn::Reversed) return kNoFacing;
  std::uint32_t p[4];
  for (int k = 0; k < 4; ++k) {
    // A face with a corner no other vertex shares cannot lie on another.
    if ((p[k] = at[face.corner[k]]) == kNonFinite || !(p[k] & kShared)) return kNoFacing;
    p[k] &= ~kShared;
  }
  // The sequence goes from corner `start` by `step`. Four different points,
  // as nearly every face has: each direction's smallest sequence starts at
  // the smallest point, and the points after it each way, which differ,
  // decide between the two. Where a point comes twice, the sequences are
  // compared in full.
  int start = 0, step = 1;
  if (p[0] != p[1] && p[0] != p[2] && p[0] != p[3] && p[1] != p[2] && p[1] != p[3] && p[2] != p[3]) {
    start = p[0] < p[1] ? (p[0] < p[2] ? (p[0] < p[3] ? 0 : 3) : (p[2] < p[3] ? 2 : 3))
                        : (p[1] < p[2] ? (p[1] < p[3] ? 1 : 3) : (p[2] < p[3] ? 2 : 3));
    step = p[(start + 1) % 4] < p[(start + 3) % 4] ? 1 : -1;
  } else {
    auto compare = [&](int start1, int step1, int start2, int step2) {
      for (int i = 0; i < 4; ++i) {
        std::uint32_t a = p[(start1 + step1 * i + 8) % 4], b = p[(start2 + step2 * i + 8) % 4];
        if (a != b) return a < b ? -1 : 1;
      }
      return 0;
    };
    int forward = 0, backward = 0;
    for (int s = 1; s < 4; ++s) {
      if (compare(s, 1, forward, 1) < 0) forward = s;
      if (compare(s, -1, backward, -1) < 0) backward = s;
    }
    const int order = compare(forward, 1, backward, -1);
    if (order == 0) return kNoFacing;
    start = order < 0 ? forward : backward, step = order < 0 ? 1 : -1;
  }
  for (int i = 0; i < 4; ++i) q[i] = p[(start + step * i + 8) % 4];
  return (step > 0) == (face.turn == Turn::Listed) ? kForward : kBackward;
}

// Faces on the same points are chained in file order; in each chain the
// faces facing one way are paired, in file order, with the first unpaired
// face of another block facing the other way. The n faces are taken in file
// order, face f at place[f]; the places of those paired are marked in
// `gone` (a byte a place, in cache, rather than a line of the face) and
// taken off `kept`. Each face's canonical points and block are made once,
// in one pass in file order, and read from there: on a map of blocks most
// faces meet another, and the table and the pairing would otherwise go back
// to the face, far off in its group, for each.
template <typename Face>
bool RemoveHiddenFaces(Face* faces, const std::uint32_t* at, const std::uint32_t* place, std::uint32_t n,
                       std::uint32_t* kept, std::uint8_t* gone, const Room& room = {}) {
  auto face = [&](std::uint32_t f) -> Face& { return faces[place ? place[f] : f]; };
  // Where blocks seldom touch, few faces have every corner shared: with
  // fewer than two that could face another, none is hidden, and the pass
  // touches no memory of its own.
  std::uint32_t candidates = 0, points[4];
  for (std::uint32_t f = 0; f < n && candidates < 2; ++f) candidates += Canonical(face(f), at, points) != kNoFacing;
  if (candidates < 2) return true;
  struct Points {
    std::uint32_t point[4];
    std::int32_t block;
  };
  auto* facing = Allocate<std::uint8_t>(n);
  auto* first = Allocate<std::uint32_t>(n);
  auto* next = Allocate<std::uint32_t>(n);
  auto* head = static_cast<std::uint32_t*>(std::calloc(n ? n : 1, sizeof(std::uint32_t)));
  auto* canonical = Allocate<Points>(n);
  bool ok = facing && first && next && head && canonical;
  for (std::uint32_t f = 0; ok && f < n; ++f) {
    const Face& made = face(f);
    facing[f] = Canonical(made, at, canonical[f].point);
    canonical[f].block = made.block;
  }
  ok = ok && FirstOfEqual<4>(
                 n,
                 [&](std::uint32_t f, std::uint32_t* key) {
                   std::memcpy(key, canonical[f].point, sizeof canonical[f].point);
                   return facing[f] != kNoFacing;
                 },
                 first, room);
  for (std::uint32_t f = n; ok && f-- > 0;) {
    next[f] = head[first[f]];
    head[first[f]] = f + 1;
  }
  auto* backward = first;  // no longer needed as such
  for (std::uint32_t r = 0; ok && r < n; ++r) {
    std::uint32_t chain = head[r];
    if (!chain || !next[chain - 1]) continue;  // not the first of two or more
    std::uint32_t backwardCount = 0;
    for (std::uint32_t f = chain; f; f = next[f - 1])
      if (facing[f - 1] == kBackward) backward[backwardCount++] = f - 1;
    std::uint32_t done = 0;  // backward faces before it are all paired
    for (std::uint32_t f = chain; f && done < backwardCount; f = next[f - 1]) {
      if (facing[f - 1] != kForward) continue;
      for (std::uint32_t k = done; k < backwardCount; ++k) {
        std::uint32_t g = backward[k];
        if (facing[g] == kBackward && canonical[g].block != canonical[f - 1].block) {
          facing[g] = facing[f - 1] = kRemoved;
          break;
        }
      }
      while (done < backwardCount && facing[backward[done]] == kRemoved) ++done;
    }
  }
  for (std::uint32_t f = 0; ok && f < n; ++f)
    if (facing[f] == kRemoved) gone[place ? place[f] : f] = 1, --*kept;
  std::free(facing), std::free(first), std::free(next), std::free(head), std::free(canonical);
  return ok;
}

// Closes up the places of faces left out (gone), keeping the order, with
// their glTF first uses where they were numbered as they were made.
void CloseGaps(Mesh* mesh, const std::uint8_t* gone) {
  std::uint32_t kept = 0;
  for (std::uint32_t f = 0; f < mesh->faceCount; ++f) {
    if (gone[f] || kept++ == f) continue;
    mesh->faces[kept - 1] = mesh->faces[f];
    if (!mesh->gltfBase) continue;
    mesh->gltfBase[kept - 1] = mesh->gltfBase[f], mesh->gltfFirst[kept - 1] = mesh->gltfFirst[f];
  }
  mesh->faceCount = kept;
}

// What the faces' last pass needs: the vertices faces use, each group's
// faces, and for glb each group's triangle corners. number[v] holds bit g
// where a face of group g uses vertex v (0: none); for the OBJ, which needs
// only all faces' bounds, bit 0 for any. Taken as the faces are made, or
// from the faces kept where some could be hidden: each pass over the faces
// costs a read of all of them. The bounds (OBJ and glb hold no Inf or NaN)
// are those of the vertices used, each read once where the vertices are
// settled: a group's are those of the vertices its faces use, and a vertex
// is used by fewer groups than corners.
constexpr std::uint32_t kUnused = 0xffffffffu;
struct Tally {
  bool byGroup;
  std::uint32_t faces[kMeshGroups], indices[kMeshGroups];
};

void StartTally(Tally* tally, bool byGroup, std::uint32_t* number, std::uint32_t vertices) {
  tally->byGroup = byGroup;
  for (int g = 0; g < kMeshGroups; ++g) tally->faces[g] = tally->indices[g] = 0;
  for (std::uint32_t v = 0; v < vertices; ++v) number[v] = 0;
}

inline void TallyFace(Tally* tally, const MeshFace& face, std::uint32_t* number) {
  const int g = MeshGroup(face.texture);
  ++tally->faces[g];
  if (!tally->byGroup) {  // the OBJ's bounds are all faces', as of one group
    for (std::uint32_t c : face.corner) number[c] = 1;
    return;
  }
  for (std::uint32_t c : face.corner) number[c] |= 1u << g;
  tally->indices[g] += static_cast<std::uint32_t>(GlbTrianglesOf(face).count);
}

// The vertices that faces use are renumbered, in their order, and the rest
// dropped (where all are used, no corner changes); the counts and bounds go
// into the mesh. (Which of +0 and -0 a bound comes out is written alike.)
// A bound moves only to a value beyond it, as with std::min and std::max;
// where SSE2 is at hand (x86-64), a vertex's three values go in one
// register, and minps and maxps, given the value first, compare just so.
void SettleFaces(Mesh* mesh, const Tally& tally, std::uint32_t* number) {
  std::uint32_t kept = 0;
  float low[kMeshGroups][3], high[kMeshGroups][3];
  for (int g = 0; g < kMeshGroups; ++g)
    for (int j = 0; j < 3; ++j) low[g][j] = HUGE_VALF, high[g][j] = -HUGE_VALF;
#if BLOCKMQO_PAIRED_TURNS
  __m128 least[kMeshGroups], most[kMeshGroups];
  for (int g = 0; g < kMeshGroups; ++g) least[g] = _mm_set1_ps(HUGE_VALF), most[g] = _mm_set1_ps(-HUGE_VALF);
#endif
  for (std::uint32_t v = 0; v < mesh->vertexCount; ++v) {
    const std::uint32_t groups = number[v];
    if (!groups) continue;
    const MeshVertex vertex = mesh->vertices[v];
    mesh->vertices[kept] = vertex, number[v] = kept++;
#if BLOCKMQO_PAIRED_TURNS
    const __m128 xyz = _mm_setr_ps(vertex.x, vertex.y, vertex.z, 0.0f);
    for (std::uint32_t rest = groups; rest; rest &= rest - 1) {
      const int g = std::countr_zero(rest);
      least[g] = _mm_min_ps(xyz, least[g]), most[g] = _mm_max_ps(xyz, most[g]);
    }
#else
    const float xyz[3] = {vertex.x, vertex.y, vertex.z};
    for (std::uint32_t rest = groups; rest; rest &= rest - 1) {
      const int g = std::countr_zero(rest);
      for (int j = 0; j < 3; ++j) low[g][j] = std::min(low[g][j], xyz[j]), high[g][j] = std::max(high[g][j], xyz[j]);
    }
#endif
  }
#if BLOCKMQO_PAIRED_TURNS
  for (int g = 0; g < kMeshGroups; ++g) {
    alignas(16) float l[4], h[4];
    _mm_store_ps(l, least[g]), _mm_store_ps(h, most[g]);
    for (int j = 0; j < 3; ++j) low[g][j] = l[j], high[g][j] = h[j];
  }
#endif
  for (std::uint32_t f = 0; kept < mesh->vertexCount && f < mesh->faceCount; ++f)
    for (std::uint32_t& c : mesh->faces[f].corner) c = number[c];
  mesh->vertexCount = kept;
  for (int j = 0; j < 3 && kept && !tally.byGroup; ++j) mesh->min[j] = low[0][j], mesh->max[j] = high[0][j];
  for (int g = 0, seen = 0; g < kMeshGroups; ++g) {
    const std::uint32_t faces = mesh->groupFaceCount[g] = tally.faces[g];
    if (!tally.byGroup || !faces) continue;
    mesh->groupIndexCount[g] = tally.indices[g];
    for (int j = 0; j < 3; ++j) {
      mesh->min[j] = seen ? std::min(mesh->min[j], low[g][j]) : low[g][j];
      mesh->max[j] = seen ? std::max(mesh->max[j], high[g][j]) : high[g][j];
      mesh->groupMin[g][j] = low[g][j], mesh->groupMax[g][j] = high[g][j];
    }
    seen = 1;
  }
}

// ---- glTF vertices.

// Where no mesh vertex is used by two blocks, equal glTF corners are of one
// block and one group, whose faces come one after another in the group:
// each corner is looked for only among the corners of its run of such faces
// before it (from face `run`; at most five), which are in cache. A corner
// equals only corners of a side with its normal: SidesAlike gives the
// earlier sides drawn with the normal of face f's side s (bit 2(g - run) + t
// for face g's side t), and the sides with another, as a box's other faces
// all have, are passed over whole. A face's other side's normal is its own
// negated, never zero (a drawn face's normal is of unit length), so a corner
// equals none of its own face's.
std::uint32_t SidesAlike(const Mesh& mesh, std::uint32_t f, int s, std::uint32_t run) {
  const MeshFace& face = mesh.faces[f];
  auto sameNormal = [&](const MeshFace& other, int t) {
    for (int j = 0; j < 3; ++j)
      if (Key(SideNormal(other, t, j)) != Key(SideNormal(face, s, j))) return false;
    return true;
  };
  std::uint32_t alike = 0;
  for (std::uint32_t g = run; g < f; ++g)
    for (int t = 0; t < 2; ++t)
      if (GlbTrianglesOf(mesh.faces[g]).sides >> t & 1 && sameNormal(mesh.faces[g], t)) alike |= 1u << (2 * (g - run) + static_cast<std::uint32_t>(t));
  return alike;
}
// The earlier corner equal to face f's corner k among the sides `alike`
// (8g + 4t + e), or kUnused.
std::uint32_t EarlierEqualCorner(const Mesh& mesh, std::uint32_t f, int k, std::uint32_t run, std::uint32_t alike) {
  const MeshFace& face = mesh.faces[f];
  for (; alike; alike &= alike - 1) {
    const auto bit = static_cast<std::uint32_t>(std::countr_zero(alike));
    const std::uint32_t g = run + bit / 2, t = bit % 2;
    const MeshFace& other = mesh.faces[g];
    for (int e = 0; e < 4; ++e)
      if (other.corner[e] == face.corner[k] && Key(other.u[e]) == Key(face.u[k]) && Key(other.v[e]) == Key(face.v[k]))
        return 8 * g + 4 * t + static_cast<std::uint32_t>(e);
  }
  return kUnused;
}

// Face f's first uses, numbered from gltfBase[f], as the faces are made,
// in their group's order. False, with nothing numbered, where a corner
// drawn equals an earlier one: the numbers then need gltfCorner.
bool NumberFirstUses(Mesh* mesh, std::uint32_t f, std::uint32_t run) {
  const MeshFace& face = mesh->faces[f];
  const unsigned sides = GlbTrianglesOf(face).sides;
  for (int s = 0; s < 2 && run < f; ++s) {
    const std::uint32_t alike = sides >> s & 1 ? SidesAlike(*mesh, f, s, run) : 0;
    for (int k = 0; k < 4 && alike; ++k)
      if (EarlierEqualCorner(*mesh, f, k, run, alike) != kUnused) return false;
  }
  std::uint32_t& count = mesh->gltfVertexCount[MeshGroup(face.texture)];
  mesh->gltfBase[f] = count;
  mesh->gltfFirst[f] = static_cast<std::uint8_t>((sides & 1 ? 0x0fu : 0u) | (sides & 2 ? 0xf0u : 0u));
  count += 4 * ((sides & 1) + (sides >> 1 & 1));  // the sides drawn (std::popcount is a call without POPCNT)
  return true;
}

// One glTF vertex per group, mesh vertex, exact UV pair and normal, numbered
// in each group in order of first use, into gltfCorner. `ownVertices`: no
// mesh vertex is used by two blocks. Where the faces' first uses were all
// numbered as they were made (above), nothing is left to do. Kept out of
// BuildGroupedMesh: inlined there, it cost the chained pass 1.3% more
// instructions on a map whose corners are all shared.
[[gnu::noinline]] bool NumberGltfVertices(Mesh* mesh, bool ownVertices) {
  if (mesh->gltfBase) return true;
  const std::uint32_t corners = 8 * mesh->faceCount;
  std::uint32_t* number = mesh->gltfCorner = Allocate<std::uint32_t>(corners);
  // Bit s: side s is drawn, for the chains; asked for three times a corner.
  auto* drawn = mesh->gltfFirst = Allocate<std::uint8_t>(mesh->faceCount);
  if (number && drawn && ownVertices) {
    // Every equal corner has the same number.
    for (std::uint32_t f = 0, run = 0; f < mesh->faceCount; ++f) {
      const MeshFace& face = mesh->faces[f];
      if (f && (face.block != mesh->faces[f - 1].block || MeshGroup(face.texture) != MeshGroup(mesh->faces[f - 1].texture))) run = f;
      std::uint32_t& count = mesh->gltfVertexCount[MeshGroup(face.texture)];
      const unsigned sides = GlbTrianglesOf(face).sides;
      std::uint32_t firsts = 0;
      for (int s = 0; s < 2; ++s) {
        const std::uint32_t alike = sides >> s & 1 && run < f ? SidesAlike(*mesh, f, s, run) : 0;
        for (int k = 0; k < 4; ++k) {
          const std::uint32_t c = 8 * f + static_cast<std::uint32_t>(4 * s + k);
          const std::uint32_t found = alike ? EarlierEqualCorner(*mesh, f, k, run, alike) : kUnused;
          if (!(sides >> s & 1)) number[c] = kUnused;
          else if (found != kUnused) number[c] = number[found];
          else number[c] = count++, firsts |= 1u << (c % 8);
        }
      }
      drawn[f] = static_cast<std::uint8_t>(firsts);
    }
    return true;
  }
  auto shown = [&](std::uint32_t c) { return drawn[c / 8] >> (c / 4 % 2) & 1; };
  auto vertex = [&](std::uint32_t c) { return shown(c) ? mesh->faces[c / 8].corner[c % 4] : mesh->vertexCount; };
  auto key = [&](std::uint32_t c, std::uint32_t* words) {
    const MeshFace& face = mesh->faces[c / 8];
    words[0] = static_cast<std::uint32_t>(MeshGroup(face.texture));
    words[1] = Key(face.u[c % 4]), words[2] = Key(face.v[c % 4]);
    for (int j = 0; j < 3; ++j) words[3 + j] = Key(SideNormal(face, c / 4 % 2, j));
    return true;
  };
  for (std::uint32_t f = 0; drawn && f < mesh->faceCount; ++f) drawn[f] = GlbTrianglesOf(mesh->faces[f]).sides;
  const bool ok = number && drawn &&
                  (FirstOfEqualChained(corners, mesh->vertexCount, vertex, key, number) ||
                   FirstOfEqualInBuckets<6>(corners, mesh->vertexCount, vertex, key, number));
  // A corner's first equal comes before it and is numbered by then. Each
  // face's byte then says which of its corners are first uses.
  for (std::uint32_t f = 0; ok && f < mesh->faceCount; ++f) {
    std::uint32_t& count = mesh->gltfVertexCount[MeshGroup(mesh->faces[f].texture)];
    std::uint32_t firsts = 0;
    for (std::uint32_t c = 8 * f; c < 8 * f + 8; ++c) {
      if (!shown(c)) number[c] = kUnused;
      else if (number[c] == c) number[c] = count++, firsts |= 1u << (c % 8);
      else number[c] = number[number[c]];
    }
    drawn[f] = static_cast<std::uint8_t>(firsts);
  }
  return ok;
}

// A face's UV pairs' keys (UvKey), a corner each.
void FaceUvKeys(const MeshFace& face, std::uint64_t (&keys)[4]) {
#if defined(__SSE2__)
  // As Key: -0, and only it, becomes +0.
  const __m128i negativeZero = _mm_set1_epi32(INT32_MIN);
  __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(face.u));
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(face.v));
  u = _mm_andnot_si128(_mm_cmpeq_epi32(u, negativeZero), u), v = _mm_andnot_si128(_mm_cmpeq_epi32(v, negativeZero), v);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(keys), _mm_unpacklo_epi32(v, u));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(keys + 2), _mm_unpackhi_epi32(v, u));
#else
  for (int k = 0; k < 4; ++k) keys[k] = UvKey(face.u[k], face.v[k]);
#endif
}

// With shared corners, the OBJ's texture coordinates are shared too: one per
// exact UV pair, numbered in order of first use. Most maps use few pairs, so
// the OBJ holds far fewer lines than one a corner.
bool NumberTexcoords(Mesh* mesh) {
  const std::uint32_t corners = 4 * mesh->faceCount;
  std::uint32_t* number = mesh->texcoord = Allocate<std::uint32_t>(corners);
  auto pair = [&](std::uint32_t c) {
    return UvKey(mesh->faces[c / 4].u[c % 4], mesh->faces[c / 4].v[c % 4]);
  };
  if (!number) return false;
  // NumberFew asks for the corners in order: a face's four keys are made at
  // once, at its first corner.
  std::uint64_t four[4];
  auto inOrder = [&](std::uint32_t c) {
    if (c % 4 == 0) FaceUvKeys(mesh->faces[c / 4], four);
    return four[c % 4];
  };
  if (NumberFew(corners, inOrder, number, &mesh->texcoordCount)) return true;
  auto key = [&](std::uint32_t c, std::uint32_t* words) {
    const std::uint64_t k = pair(c);
    words[0] = static_cast<std::uint32_t>(k >> 32), words[1] = static_cast<std::uint32_t>(k);
    return true;
  };
  if (!FirstOfEqual<2>(corners, key, number)) return false;
  mesh->texcoordCount = 0;
  for (std::uint32_t c = 0; c < corners; ++c) number[c] = number[c] == c ? mesh->texcoordCount++ : number[number[c]];
  return true;
}

// ---- OBJ and glb: the faces made, grouped by texture, with what the
// writers need.

bool BuildGroupedMesh(const BlockData& data, MeshFormat format, MeshOptions options, Mesh* mesh) {
  const auto count = static_cast<std::uint32_t>(data.count > 0 ? data.count : 0);
  // Room for every block, rather than a pass to count the finite ones first
  // (non-finite blocks are rare, and cost only unused room).
  mesh->vertices = Allocate<MeshVertex>(8 * count);
  mesh->faces = Allocate<MeshFace>(6 * count);
  bool ok = mesh->vertices && mesh->faces;
  // Faces go straight to their groups, in file order within each, every
  // group given room for all of its faces: no pass has to move them into
  // groups after, which costs a cache miss a face on large maps. Faces left
  // out (without area, or hidden) leave places that one pass closes up at
  // the end.
  std::uint32_t next[kMeshGroups], end[kMeshGroups] = {};
  for (std::uint32_t b = 0; ok && b < count; ++b) {
    const BlockRecord& block = data.blocks[b];
    if (!BlockFinite(block)) {
      ++mesh->droppedBlocks;
      continue;
    }
    for (int f = 0; f < 6; ++f) ++end[MeshGroup(block.textureIndex[f])];
    for (int c = 0; c < 8; ++c) {
      std::uint32_t bits[3];
      DocumentCornerBits(block, static_cast<std::uint32_t>(c), bits);
      std::memcpy(&mesh->vertices[mesh->vertexCount++], bits, sizeof bits);
    }
  }
  // The positions are numbered before the faces are made, in the faces' room
  // (456 bytes a block; the table needs at most 256, the sort 320): fresh
  // memory costs the system a page fault a page, once, where the page then
  // serves twice.
  std::uint32_t* at = nullptr;
  auto position = [&](std::uint32_t v, std::uint32_t* bits) {
    bits[0] = Bits(mesh->vertices[v].x), bits[1] = Bits(mesh->vertices[v].y), bits[2] = Bits(mesh->vertices[v].z);
  };
  // A hidden face has every corner on a shared position: where none is
  // shared, no face is hidden. Otherwise each face made, in file order, has
  // its place, and the faces kept are tallied after; else as they are made.
  bool shared = false;
  if (ok && (options.removeHiddenFaces || options.shareVertices))
    ok = (at = Allocate<std::uint32_t>(mesh->vertexCount)) != nullptr &&
         NumberPositions(mesh->vertexCount, position, true, at, &shared,
                         Room{mesh->faces, 6 * std::size_t{count} * sizeof(MeshFace)});
  for (int g = 0; g < kMeshGroups; ++g) next[g] = g ? end[g - 1] : 0, end[g] += next[g];
  const bool hiding = options.removeHiddenFaces && shared;
  std::uint32_t* place = ok && hiding ? Allocate<std::uint32_t>(6 * std::size_t{count}) : nullptr;
  std::uint32_t* number = ok ? Allocate<std::uint32_t>(mesh->vertexCount) : nullptr;
  std::uint32_t made = 0;
  ok = ok && number && (place || !hiding);
  // Where no face is hidden and no mesh vertex is used by two blocks, the
  // glb's corners are numbered as their faces are made, while the block's
  // faces are in cache, rather than in a pass over all faces after.
  const bool ownVertices = !options.shareVertices || !shared;
  if (ok && format == MeshFormat::Glb && ownVertices && !hiding) {
    mesh->gltfBase = Allocate<std::uint32_t>(6 * std::size_t{count});
    mesh->gltfFirst = Allocate<std::uint8_t>(6 * std::size_t{count});
    ok = mesh->gltfBase && mesh->gltfFirst;
  }
  bool asMade = mesh->gltfBase != nullptr;
  // With shareVertices, every corner is pointed at the first vertex at its
  // position as it is made.
  const std::uint32_t* share = options.shareVertices ? at : nullptr;
  Tally tally;
  if (ok) StartTally(&tally, format == MeshFormat::Glb, number, mesh->vertexCount);
  for (std::uint32_t b = 0, base = 0; ok && b < count; ++b) {
    const BlockRecord& block = data.blocks[b];
    if (mesh->droppedBlocks && !BlockFinite(block)) continue;  // none dropped: no block to judge again
    BlockCorners corners;
    for (int c = 0; c < 8; ++c) {
      const MeshVertex& v = mesh->vertices[base + static_cast<std::uint32_t>(c)];
      corners[c][0] = v.x, corners[c][1] = v.y, corners[c][2] = v.z;
    }
    // Each group's run of this block's faces starts where the group stands.
    std::uint32_t run[kMeshGroups];
    if (asMade) std::memcpy(run, next, sizeof run);
#if BLOCKMQO_PAIRED_TURNS
    MeshFace turns[6];
    SetBlockTurns(corners, format == MeshFormat::Glb, turns);
#endif
    for (int f = 0; f < 6; ++f) {
      std::uint32_t& to = next[MeshGroup(block.textureIndex[f])];
      MeshFace& face = mesh->faces[to];
      for (int k = 0; k < 4; ++k) {
        const std::uint32_t c = base + static_cast<std::uint32_t>(FaceCornerTable[f][3 - k]);
        face.corner[k] = share ? share[c] & ~kShared : c;
      }
      std::memcpy(face.u, block.u[f], sizeof face.u);
      std::memcpy(face.v, block.v[f], sizeof face.v);
      face.texture = block.textureIndex[f];
      face.block = static_cast<std::int32_t>(b);
      face.side = static_cast<std::uint8_t>(f);
#if BLOCKMQO_PAIRED_TURNS
      face.turn = turns[f].turn, face.triangle[0] = turns[f].triangle[0], face.triangle[1] = turns[f].triangle[1];
      std::memcpy(face.normal, turns[f].normal, sizeof face.normal);
      face.against = turns[f].against;
#else
      SetTurns(corners, f, format == MeshFormat::Glb, &face);  // face by face in x87, as it always went
#endif
      // OBJ and glTF would draw nothing of a face without area.
      if (face.turn != Turn::None) {
        if (!hiding) TallyFace(&tally, face, number);
        if (asMade && !NumberFirstUses(mesh, to, run[MeshGroup(face.texture)])) {
          std::free(mesh->gltfBase), std::free(mesh->gltfFirst), mesh->gltfBase = nullptr, mesh->gltfFirst = nullptr;
          asMade = false;
          for (std::uint32_t& n : mesh->gltfVertexCount) n = 0;
        }
        if (place) place[made] = to;
        ++made, ++to;
      }
    }
    base += 8;
  }
  if (ok) mesh->faceCount = end[kMeshGroups - 1];
  // Places left out: those of faces hidden, and at each group's end those of
  // faces without area.
  const bool gaps = ok && (hiding || made < mesh->faceCount);
  auto* gone = gaps ? static_cast<std::uint8_t*>(std::calloc(mesh->faceCount ? mesh->faceCount : 1, 1)) : nullptr;
  ok = ok && (gone || !gaps);
  for (int g = 0; ok && gone && g < kMeshGroups; ++g)
    for (std::uint32_t f = next[g]; f < end[g]; ++f) gone[f] = 1;
  if (ok && hiding) ok = RemoveHiddenFaces(mesh->faces, at, place, made, &made, gone);
  std::free(place);
  if (ok && made < mesh->faceCount) CloseGaps(mesh, gone);
  std::free(gone);
  for (std::uint32_t f = 0; ok && hiding && f < mesh->faceCount; ++f) TallyFace(&tally, mesh->faces[f], number);
  if (ok) SettleFaces(mesh, tally, number);
  std::free(number);
  std::free(at);
  if (ok && format == MeshFormat::Glb) ok = NumberGltfVertices(mesh, ownVertices);
  if (ok && format != MeshFormat::Glb && options.shareVertices) ok = NumberTexcoords(mesh);
  return ok;
}

// ---- The MQO document's mesh: which of the map's own faces and corners it
// keeps, decided without copying either.

// What pairing needs of a face: 24 bytes rather than a mesh face's 76.
struct HideableFace {
  std::uint32_t corner[4];
  std::int32_t block;
  std::uint8_t side;
  Turn turn;
};
// The map's faces that could face another (every corner shared, finite):
// made as such records, with their turns, to be paired off; the rest face
// nothing. Returns the faces hidden, 6b + f, in file order, into `hidden`
// (room for 6 a block), or false when out of memory.
bool FindHiddenDocumentFaces(const BlockData& data, const std::uint32_t* at, std::uint32_t* hidden,
                             std::uint32_t* hiddenCount, const Room& room) {
  const auto count = static_cast<std::uint32_t>(data.count);
  auto candidate = [&](std::uint32_t b, int f) {
    for (int k = 0; k < 4; ++k) {
      const std::uint32_t p = at[8 * b + static_cast<std::uint32_t>(FaceCornerTable[f][k])];
      if (p == kNonFinite || !(p & kShared)) return false;
    }
    return true;
  };
  std::uint32_t n = 0;
  for (std::uint32_t b = 0; b < count; ++b)
    for (int f = 0; f < 6; ++f) n += candidate(b, f);
  *hiddenCount = 0;
  if (n < 2) return true;
  auto* faces = Allocate<HideableFace>(n);
  if (!faces) return false;
  for (std::uint32_t b = 0, m = 0; b < count; ++b) {
    BlockCorners corners;
    bool cornersMade = false;
    for (int f = 0; f < 6; ++f) {
      if (!candidate(b, f)) continue;
      if (!cornersMade) MakeBlockCorners(data.blocks[b], corners), cornersMade = true;
      HideableFace& face = faces[m++];
      for (int k = 0; k < 4; ++k) face.corner[k] = 8 * b + static_cast<std::uint32_t>(FaceCornerTable[f][3 - k]);
      face.block = static_cast<std::int32_t>(b);
      face.side = static_cast<std::uint8_t>(f);
      MeshFace turns;
      SetTurns(corners, f, false, &turns);
      face.turn = turns.turn;
    }
  }
  std::uint32_t kept = n;
  auto* gone = static_cast<std::uint8_t*>(std::calloc(n, 1));
  const bool ok = gone && RemoveHiddenFaces(faces, at, nullptr, n, &kept, gone, room);
  for (std::uint32_t f = 0; ok && f < n; ++f)
    if (gone[f]) hidden[(*hiddenCount)++] = faces[f].corner[0] / 8 * 6 + faces[f].side;
  std::free(faces), std::free(gone);
  return ok;
}

// With either option: the faces kept (faceOf, unless all are), the vertices
// their corners use, renumbered in their order (vertexOf and cornerNumber,
// unless every corner stays its own vertex), and the groups' face counts.
bool KeepDocumentMesh(const BlockData& data, MeshOptions options, Mesh* mesh) {
  const auto count = static_cast<std::uint32_t>(data.count > 0 ? data.count : 0);
  const std::uint32_t corners = 8 * count;
  mesh->vertexCount = corners, mesh->faceCount = 6 * count;
  if (!options.removeHiddenFaces && !options.shareVertices) {
    for (std::uint32_t b = 0; b < count; ++b)
      for (int f = 0; f < 6; ++f) ++mesh->groupFaceCount[MeshGroup(data.blocks[b].textureIndex[f])];
    return true;
  }
  // In the document's coordinates, as for OBJ and glb.
  auto position = [&](std::uint32_t v, std::uint32_t* bits) { DocumentCornerBits(data.blocks[v / 8], v % 8, bits); };
  std::uint32_t* at = Allocate<std::uint32_t>(corners);
  std::uint32_t* number = Allocate<std::uint32_t>(corners);
  std::uint32_t* faceOf = options.removeHiddenFaces ? Allocate<std::uint32_t>(mesh->faceCount) : nullptr;
  // One table's room for the positions, then for the faces that could be
  // hidden (fewer), rather than fresh memory for each.
  const std::size_t slots = std::size_t{1} << TableBits(corners);
  const Room table{Allocate<std::uint64_t>(slots), slots * sizeof(std::uint64_t)};
  std::uint32_t hidden = 0;
  // Where no position is shared no face is hidden, and the faces are not
  // looked through for any.
  bool shared = false;
  bool ok = at && number && table.at && (faceOf || !options.removeHiddenFaces) &&
            NumberPositions(corners, position, false, at, &shared, table) &&
            (!faceOf || !shared || FindHiddenDocumentFaces(data, at, faceOf, &hidden, table));
  std::free(table.at);
  // The faces kept, from those hidden (in file order), in the same room.
  if (ok && hidden) {
    std::uint32_t* gone = number;
    std::memcpy(gone, faceOf, hidden * sizeof *gone);
    for (std::uint32_t f = 0, g = 0, k = 0; f < mesh->faceCount; ++f)
      if (g < hidden && gone[g] == f) ++g;
      else faceOf[k++] = f;
    mesh->faceCount -= hidden;
    mesh->faceOf = faceOf, faceOf = nullptr;
  }
  std::free(faceOf);
  auto face = [&](std::uint32_t j) { return mesh->faceOf ? mesh->faceOf[j] : j; };
  auto vertex = [&](std::uint32_t c) {
    return options.shareVertices && at[c] != kNonFinite ? at[c] & ~kShared : c;
  };
  std::uint32_t kept = 0;
  if (ok) {
    for (std::uint32_t v = 0; v < corners; ++v) number[v] = kUnused;
    for (std::uint32_t j = 0; j < mesh->faceCount; ++j) {
      const std::uint32_t b = face(j) / 6, f = face(j) % 6;
      ++mesh->groupFaceCount[MeshGroup(data.blocks[b].textureIndex[f])];
      for (int k = 0; k < 4; ++k) number[vertex(8 * b + static_cast<std::uint32_t>(FaceCornerTable[f][k]))] = 0;
    }
    for (std::uint32_t v = 0; v < corners; ++v)
      if (number[v] != kUnused) number[v] = kept++;
  }
  if (ok && kept < corners) {
    // Each corner's number, over its position's number; then the vertices
    // kept, in order, over their numbers (the kth is never past the kth
    // corner).
    for (std::uint32_t c = 0; c < corners; ++c) at[c] = number[vertex(c)];
    for (std::uint32_t v = 0, k = 0; v < corners; ++v)
      if (number[v] != kUnused) number[k++] = v;
    mesh->cornerNumber = at, mesh->vertexOf = number, at = number = nullptr;
    mesh->vertexCount = kept;
  }
  std::free(at), std::free(number);
  return ok;
}

}  // namespace

MeshResult BuildMesh(const BlockData& data, MeshFormat format, MeshOptions options, Mesh* mesh) {
  *mesh = Mesh{};
  const bool ok = format == MeshFormat::Mqo ? KeepDocumentMesh(data, options, mesh) : BuildGroupedMesh(data, format, options, mesh);
  if (!ok) {
    ReleaseMesh(mesh);
    return MeshResult::OutOfMemory;
  }
  return MeshResult::Ok;
}

void ReleaseMesh(Mesh* mesh) {
  std::free(mesh->vertices);
  std::free(mesh->faces);
  std::free(mesh->vertexOf);
  std::free(mesh->faceOf);
  std::free(mesh->cornerNumber);
  std::free(mesh->gltfCorner);
  std::free(mesh->gltfBase);
  std::free(mesh->gltfFirst);
  std::free(mesh->texcoord);
  *mesh = Mesh{};
}
