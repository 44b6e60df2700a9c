// The mesh formats' material names: one rule for OBJ, MTL, glb and the page.
#include <cstring>

#include "mesh/mesh.h"
#include "numtext/numtext.h"

namespace {

// The word a group's name starts from.
std::size_t MaterialWord(const BlockData& data, int group, char* out) {
  const char* name = group < kTextureNameCount ? data.textureNames[group] : kOutOfRangeMaterialName;
  if (!*name) name = "empty";
  char* q = out;
  for (; *name; ++name) *q++ = static_cast<unsigned char>(*name) <= ' ' || *name == 0x7f ? '_' : *name;
  return static_cast<std::size_t>(q - out);
}

}  // namespace

std::size_t FormatMaterialName(const BlockData& data, const std::uint32_t* groupFaceCount, int group, char* out) {
  // Every earlier group's name in turn, each by this rule, so that a suffix
  // added to one is seen by the groups after it. A name grows by at most
  // "_10" for each earlier group, so 31 + 10 x 3 bytes at most.
  char names[kMeshGroups][kMaterialNameMax];
  std::size_t length[kMeshGroups];
  for (int g = 0; g <= group; ++g) {
    length[g] = 0;
    if (g < group && !groupFaceCount[g]) continue;
    length[g] = MaterialWord(data, g, names[g]);
    for (int e = 0; e < g; ++e) {
      if (!length[e] || length[e] != length[g] || std::memcmp(names[e], names[g], length[g]) != 0) continue;
      names[g][length[g]++] = '_';
      length[g] += FormatUnsigned(static_cast<std::uint32_t>(g), names[g] + length[g]);
      e = -1;  // compare the longer name with them all again
    }
  }
  std::memcpy(out, names[group], length[group]);
  return length[group];
}
