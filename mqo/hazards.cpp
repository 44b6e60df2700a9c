#include <cmath>
#include <cstring>

#include "mqo/mqo.h"

namespace {

int NonFinite(const float* values, int n) {
  int count = 0;
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(values[i])) ++count;
  return count;
}

}  // namespace

MqoHazards CountMqoHazards(const BlockData& data) {
  MqoHazards hazards{};
  for (const char* name : data.textureNames)
    if (std::strpbrk(name, "\"\r\n{}()")) ++hazards.unsafeNames;
  for (int b = 0; b < data.count; ++b) {
    const BlockRecord& block = data.blocks[b];
    for (std::int32_t texture : block.textureIndex)
      if (texture < 0 || texture >= kTextureNameCount) ++hazards.texturesOutOfRange;
    // Every float the document prints: corners and texture coordinates.
    hazards.nonFiniteNumbers += NonFinite(block.vx, 8) + NonFinite(block.vy, 8) +
                                NonFinite(block.vz, 8) + NonFinite(&block.u[0][0], 24) +
                                NonFinite(&block.v[0][0], 24);
  }
  return hazards;
}
