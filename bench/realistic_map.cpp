#include "bench/realistic_map.h"

#include <cstring>

namespace {

// xorshift32: the same sequence with every compiler and library, unlike the
// standard distributions.
struct Random {
  std::uint32_t state = 0x9e3779b9u;
  std::uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
  // A whole number in [lo, hi].
  int Between(int lo, int hi) {
    return lo + static_cast<int>(Next() % static_cast<std::uint32_t>(hi - lo + 1));
  }
};

std::uint32_t Bits(float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

float Eighths(int k) { return static_cast<float>(k) / 8.0f; }
float Sixtyfourths(int k) { return static_cast<float>(k) / 64.0f; }

}  // namespace

std::vector<BlockRecord> RealisticBlocks(int count) {
  Random random;
  std::vector<BlockRecord> blocks;
  blocks.reserve(static_cast<std::size_t>(count));
  for (int b = 0; b < count; ++b) {
    // Corners in eighths; a box of up to 100 units, kept inside +-2000.
    int x0 = random.Between(-15900, 15100), y0 = random.Between(-15900, 15100),
        z0 = random.Between(-15900, 15100);
    int x1 = x0 + random.Between(8, 800), y1 = y0 + random.Between(8, 800),
        z1 = z0 + random.Between(8, 800);
    BlockRecord r = Box(Eighths(x0), Eighths(y0), Eighths(z0), Eighths(x1), Eighths(y1),
                        Eighths(z1), 0);
    // Real maps are seldom square boxes: nudge every corner a little.
    for (int c = 0; c < 8; ++c) {
      r.vx[c] += Eighths(random.Between(-8, 8));
      r.vy[c] += Eighths(random.Between(-8, 8));
      r.vz[c] += Eighths(random.Between(-8, 8));
    }
    for (int f = 0; f < 6; ++f) {
      for (int k = 0; k < 4; ++k) {
        r.u[f][k] = Sixtyfourths(random.Between(0, 64));
        r.v[f][k] = Sixtyfourths(random.Between(0, 64));
      }
      r.textureIndex[f] = random.Between(0, 9);
    }
    blocks.push_back(r);
  }
  return blocks;
}

TextureNames RealisticNames() {
  return {"wall.bmp", "floor.bmp", "ceiling.bmp", "brick_red.bmp", "stone01.bmp",
          "wood_dark.bmp", "metal_plate.bmp", "", "grass.bmp", "water.bmp"};
}

std::vector<std::uint32_t> CoordinateBits(std::size_t n) {
  Random random;
  std::vector<std::uint32_t> bits(n);
  for (auto& b : bits) b = Bits(Eighths(random.Between(-16000, 16000)));
  return bits;
}

std::vector<std::uint32_t> TexCoordBits(std::size_t n) {
  Random random;
  std::vector<std::uint32_t> bits(n);
  for (auto& b : bits) b = Bits(Sixtyfourths(random.Between(0, 64)));
  return bits;
}

std::vector<std::uint32_t> RandomFiniteBits(std::size_t n) {
  Random random;
  std::vector<std::uint32_t> bits(n);
  for (auto& b : bits) {
    do b = random.Next();
    while (((b >> 23) & 0xffu) == 0xffu);
  }
  return bits;
}
