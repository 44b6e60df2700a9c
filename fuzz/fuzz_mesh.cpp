// The mesh under the fuzz target: an accepted map through BuildMesh with every
// option pair for every format, then through every writer in pieces of the
// given size. It checks what must hold of any map: at most 6 faces a block,
// every index in range, the glb's stated lengths equal to its bytes and its
// JSON well formed, the OBJ's indices in range, and, for maps of up to 64
// blocks, the faces removed are those a plain quadratic reference removes.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mesh/mesh.h"

void Check(bool ok, const char* what);

namespace {

std::string Write(const MeshDocument& doc, std::size_t capacity) {
  std::vector<char> buffer(capacity);
  std::string bytes;
  MeshCursor cursor{};
  while (std::size_t n = MeshDocumentNext(doc, &cursor, buffer.data(), capacity)) bytes.append(buffer.data(), n);
  return bytes;
}

// Whether text[at..] starts with one JSON value, which it then skips.
bool JsonValue(const std::string& s, std::size_t& at, int depth = 0) {
  auto is = [&](char c) { return at < s.size() && s[at] == c; };
  if (depth > 16) return false;
  if (is('{') || is('[')) {
    const char close = s[at++] == '{' ? '}' : ']';
    for (bool first = true; !is(close); first = false) {
      if (!first && !is(',')) return false;
      at += !first;
      if (close == '}' && !(is('"') && JsonValue(s, at, depth + 1) && is(':'))) return false;
      at += close == '}';
      if (!JsonValue(s, at, depth + 1)) return false;
    }
    return ++at;
  }
  if (is('"')) {
    for (++at; at < s.size() && s[at] != '"'; ++at) {
      if (static_cast<unsigned char>(s[at]) < 0x20) return false;
      if (s[at] == '\\' && !(++at < s.size() && std::strchr("\"\\/bfnrtu", s[at]))) return false;
    }
    return is('"') && ++at;
  }
  const std::size_t start = at;
  while (at < s.size() && std::strchr("-+.eE0123456789", s[at])) ++at;
  return at > start;
}

std::uint32_t Word(const std::string& s, std::size_t at) {
  std::uint32_t w = 0;
  if (at + 4 <= s.size()) std::memcpy(&w, s.data() + at, 4);
  return w;
}

void CheckGlb(const std::string& glb) {
  const std::uint32_t json = Word(glb, 12);
  Check(Word(glb, 0) == 0x46546c67u && Word(glb, 8) == glb.size() && json % 4 == 0 && 20 + json <= glb.size(),
        "glb header and JSON length");
  std::size_t at = 20;
  const std::string text = glb.substr(0, 20 + json);
  Check(JsonValue(text, at) && text.find_first_not_of(' ', at) == std::string::npos, "glb JSON");
  Check(glb.size() == 20 + json || (Word(glb, 20 + json) + 28 + json == glb.size()), "glb BIN length");
}

void CheckObj(const std::string& obj) {
  std::uint32_t v = 0, vt = 0;
  for (std::size_t at = 0, end; at < obj.size(); at = end + 1) {
    end = obj.find('\n', at);
    Check(end != std::string::npos, "OBJ ends its lines");
    const std::string line = obj.substr(at, end - at);
    v += line.starts_with("v "), vt += line.starts_with("vt ");
    if (!line.starts_with("f ")) continue;
    unsigned long a, b;
    for (std::size_t space = 1; space != std::string::npos; space = line.find(' ', space + 1))
      Check(std::sscanf(line.c_str() + space, " %lu/%lu", &a, &b) == 2 && a >= 1 && a <= v && b >= 1 && b <= vt,
            "OBJ index in range");
  }
}

// The plain reference: a face (6b + f) is removed when, going through the
// faces in file order, one facing one way meets the first unremoved face of
// another block on the same points facing the other way. Positions compare
// by exact value; "the same points" and "one way" follow the smallest of the
// face's eight cyclic orders of position numbers, each the first vertex at
// that position. Faces that turn one way only, or have a non-finite corner,
// or a corner no other vertex shares, take no part. The turns are the
// mesh's: the plain mesh of every block, faces in file order.
std::vector<bool> Removed(const Mesh& plain, const std::vector<bool>& kept) {
  const std::uint32_t n = plain.faceCount;
  auto key = [&](std::uint32_t v, int j) {
    std::uint32_t bits;
    std::memcpy(&bits, &plain.vertices[v].x + j, 4);
    return bits << 1 ? bits : 0u;
  };
  auto same = [&](std::uint32_t a, std::uint32_t b) {
    return key(a, 0) == key(b, 0) && key(a, 1) == key(b, 1) && key(a, 2) == key(b, 2);
  };
  std::vector<std::uint32_t> position(plain.vertexCount);
  std::vector<bool> usable(plain.vertexCount);
  for (std::uint32_t v = 0; v < plain.vertexCount; ++v) {
    position[v] = v;
    for (std::uint32_t u = 0; u < plain.vertexCount; ++u) {
      if (u == v || !kept[u / 8] || !same(u, v)) continue;
      usable[v] = true;
      if (u < position[v]) position[v] = u;
    }
    for (int j = 0; j < 3; ++j) usable[v] = usable[v] && (key(v, j) & 0x7f800000u) != 0x7f800000u;
  }
  std::vector<std::vector<std::uint32_t>> points(n);
  std::vector<int> facing(n);  // +1, -1, or 0 for none
  for (std::uint32_t f = 0; f < n; ++f) {
    const MeshFace& face = plain.faces[f];
    bool ok = kept[f / 6] && (face.turn == Turn::Listed || face.turn == Turn::Reversed);
    for (std::uint32_t c : face.corner) ok = ok && usable[c];
    if (!ok) continue;
    std::vector<std::uint32_t> best;
    int bestWay = 0;
    for (int way : {1, -1}) {
      for (int start = 0; start < 4; ++start) {
        std::vector<std::uint32_t> seq;
        for (int k = 0; k < 4; ++k) seq.push_back(position[face.corner[(start + way * k + 8) % 4]]);
        if (best.empty() || seq < best) best = seq, bestWay = way;
        else if (seq == best && way != bestWay) bestWay = 0;  // the same both ways round
      }
    }
    points[f] = best;
    facing[f] = bestWay * (face.turn == Turn::Listed ? 1 : -1);
  }
  std::vector<bool> removed(n);
  for (std::uint32_t f = 0; f < n; ++f) {
    if (facing[f] != 1) continue;
    for (std::uint32_t g = 0; g < n; ++g) {
      if (facing[g] == -1 && !removed[g] && g / 6 != f / 6 && points[g] == points[f]) {
        removed[f] = removed[g] = true;
        break;
      }
    }
  }
  return removed;
}

bool Finite(const BlockRecord& block) {
  for (int i = 0; i < 72; ++i) {
    std::uint32_t bits;
    std::memcpy(&bits, reinterpret_cast<const unsigned char*>(&block) + 4 * i, 4);
    if ((bits & 0x7f800000u) == 0x7f800000u) return false;
  }
  return true;
}

}  // namespace

void CheckMesh(const BlockData& data, std::size_t capacity) {
  Mesh plain;
  Check(BuildMesh(data, MeshFormat::Mqo, {}, &plain) == MeshResult::Ok, "plain mesh");
  const bool small = data.count <= 64;
  std::vector<bool> removed[2];  // by the reference: for MQO, and for OBJ and glb (finite blocks only)
  for (int b = 0; b < 2 && small; ++b) {
    std::vector<bool> kept(static_cast<std::size_t>(data.count));
    for (int i = 0; i < data.count; ++i) kept[static_cast<std::size_t>(i)] = b == 0 || Finite(data.blocks[i]);
    removed[b] = Removed(plain, kept);
  }
  for (MeshFormat format : {MeshFormat::Mqo, MeshFormat::Obj, MeshFormat::Glb}) {
    for (int o = 0; o < 4; ++o) {
      const MeshOptions options{(o & 1) != 0, (o & 2) != 0};
      Mesh mesh;
      Check(BuildMesh(data, format, options, &mesh) == MeshResult::Ok, "mesh");
      Check(mesh.faceCount <= 6u * static_cast<std::uint32_t>(data.count), "at most 6 faces a block");
      for (std::uint32_t f = 0; f < mesh.faceCount; ++f) {
        const MeshFace& face = mesh.faces[f];
        for (int k = 0; k < 4; ++k) {
          Check(face.corner[k] < mesh.vertexCount, "corner in range");
          Check(!mesh.gltfCorner || mesh.gltfCorner[4 * f + static_cast<std::uint32_t>(k)] <
                                        mesh.gltfVertexCount[MeshGroup(face.texture)], "glTF corner in range");
        }
      }
      if (small) {
        const bool document = format == MeshFormat::Mqo;
        std::vector<bool> want(6 * static_cast<std::size_t>(data.count));
        for (std::uint32_t f = 0; f < want.size(); ++f)
          want[f] = (document || (Finite(data.blocks[f / 6]) && plain.faces[f].turn != Turn::None)) &&
                    !(options.removeHiddenFaces && removed[!document][f]);
        std::vector<bool> have(want.size());
        for (std::uint32_t f = 0; f < mesh.faceCount; ++f)
          have[6 * static_cast<std::size_t>(mesh.faces[f].block) + mesh.faces[f].side] = true;
        Check(have == want, "the faces the reference keeps");
      }
      if (format == MeshFormat::Glb) CheckGlb(Write({&data, &mesh, format, nullptr}, capacity));
      if (format == MeshFormat::Obj) {
        CheckObj(Write({&data, &mesh, format, "map.mtl"}, capacity));
        Check(Write({&data, &mesh, MeshFormat::Mtl, nullptr}, capacity).starts_with("# blockmqo\n"), "MTL");
      }
      if (format == MeshFormat::Mqo) Check(Write({&data, &mesh, format, nullptr}, capacity).ends_with("Eof"), "MQO");
      ReleaseMesh(&mesh);
    }
  }
  ReleaseMesh(&plain);
}
