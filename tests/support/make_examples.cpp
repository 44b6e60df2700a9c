// Writes the example maps shipped in examples/: make_examples DIR.
#include <cstdio>
#include <string>

#include "tests/support/bd1.h"

namespace {

std::vector<BlockRecord> Stairs() {
  std::vector<BlockRecord> blocks;
  for (int step = 0; step < 12; ++step) {
    float y = 0.5f * static_cast<float>(step);
    float z = 2.0f * static_cast<float>(step);
    blocks.push_back(Box(-4, y, z, 4, y + 0.5f, z + 2, step % 3));
  }
  return blocks;
}

// A walled courtyard with towers: a few hundred blocks, texture coordinates
// on 1/64 steps, coordinates on 1/8 steps, some out-of-range texture numbers.
std::vector<BlockRecord> Courtyard() {
  std::vector<BlockRecord> blocks;
  for (int i = -20; i < 20; ++i) {
    float a = static_cast<float>(i) * 2.5f;
    blocks.push_back(Box(a, 0, -50, a + 2.5f, 6, -49.375f, 0));
    blocks.push_back(Box(a, 0, 49.375f, a + 2.5f, 6, 50, 0));
    blocks.push_back(Box(-50, 0, a, -49.375f, 6, a + 2.5f, 1));
    blocks.push_back(Box(49.375f, 0, a, 50, 6, a + 2.5f, 1));
  }
  for (int t = 0; t < 4; ++t) {
    float x = t % 2 ? 45.0f : -50.0f, z = t / 2 ? 45.0f : -50.0f;
    for (int level = 0; level < 8; ++level) {
      float y = 1.25f * static_cast<float>(level);
      BlockRecord r = Box(x, y, z, x + 5, y + 1.25f, z + 5, 2 + level % 3);
      for (int f = 0; f < 6; ++f)
        for (int k = 0; k < 4; ++k) r.v[f][k] = r.v[f][k] * 0.171875f + 0.015625f * static_cast<float>(level);
      blocks.push_back(r);
    }
  }
  BlockRecord odd = Box(-0.0625f, 0, -0.0625f, 0.0625f, 12.375f, 0.0625f, -1);
  odd.textureIndex[1] = 12;
  blocks.push_back(odd);
  return blocks;
}

bool Write(const std::string& dir, const char* name, const std::vector<unsigned char>& bytes) {
  std::string path = dir + "/" + name;
  WriteFileBytes(path, bytes);
  return ReadFileBytes(path).size() == bytes.size();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_examples DIR\n");
    return 2;
  }
  std::string dir = argv[1];
  bool ok = Write(dir, "cube.bd1", WorkedExample()) &&
            Write(dir, "stairs.bd1", BuildBd1({"stone.bmp", "moss.bmp", "wood.bmp"}, Stairs())) &&
            Write(dir, "courtyard.bd1",
                  BuildBd1({"wall_a.bmp", "wall_b.bmp", "tower1.bmp", "tower2.bmp", "tower3.bmp",
                            "", "empty"},
                           Courtyard()));
  return ok ? 0 : 1;
}
