#include "tests/support/bd1.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

BlockRecord Box(float x0, float y0, float z0, float x1, float y1, float z1, std::int32_t texture) {
  BlockRecord r{};
  const float xs[8] = {x0, x1, x1, x0, x0, x1, x1, x0}, zs[8] = {z0, z0, z1, z1, z0, z0, z1, z1};
  for (int c = 0; c < 8; ++c) r.vx[c] = xs[c], r.vy[c] = c < 4 ? y1 : y0, r.vz[c] = zs[c];
  for (int f = 0; f < 6; ++f) {
    for (int k = 0; k < 4; ++k) r.u[f][k] = k == 1 || k == 2 ? 1.0f : 0.0f, r.v[f][k] = k < 2 ? 0.0f : 1.0f;
    r.textureIndex[f] = texture;
  }
  return r;
}

std::vector<unsigned char> BuildBd1(const TextureNames& names, const std::vector<BlockRecord>& blocks, int count) {
  std::vector<unsigned char> bytes(kBlockDataHeaderSize, 0);
  for (std::size_t i = 0; i < names.size(); ++i)
    std::memcpy(&bytes[i * kTextureNameField], names[i].data(), std::min<std::size_t>(names[i].size(), 31));
  const auto raw = static_cast<std::uint16_t>(count < -32768 ? static_cast<int>(blocks.size()) : count);
  bytes[310] = static_cast<unsigned char>(raw & 0xff);
  bytes[311] = static_cast<unsigned char>(raw >> 8);
  const auto* p = reinterpret_cast<const unsigned char*>(blocks.data());
  bytes.insert(bytes.end(), p, p + blocks.size() * sizeof(BlockRecord));
  return bytes;
}

std::vector<unsigned char> WorkedExample() {
  BlockRecord r = Box(0, 0, 0, 2, 1, 2, 1);
  r.textureIndex[0] = r.textureIndex[1] = 0;
  return BuildBd1({"wall.bmp", "floor.bmp"}, {r});
}

bool WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return out.flush().good();
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
