#include "tests/support/bd1.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

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

JobSink CollectFiles(CollectedFiles* into) {
  return {[](void* context, JobFile file, const char* bytes, std::size_t size) {
            auto* c = static_cast<CollectedFiles*>(context);
            const char kind = file == JobFile::Mtl ? 'm' : 'd';
            if (c->order.empty() || c->order.back() != kind) c->order += kind;
            (file == JobFile::Mtl ? c->mtl : c->document).append(bytes, size);
            return !c->refuse;
          },
          into};
}

const std::string& Scratch() {
  namespace fs = std::filesystem;
  static const struct Dir {
    std::string path = (fs::temp_directory_path() / ("blockmqo-" + std::to_string(std::random_device{}()))).string() + "/";
    Dir() { fs::create_directories(path); }
    ~Dir() { std::error_code ec; fs::remove_all(path, ec); }
  } dir;
  return dir.path;
}

// The position hash (FNV-style words, each mixed by an
// odd multiplier and a shift, then finished) can be undone word by word, so
// for any x and y there is a z that lands on the chosen value. Sorting by
// the hash alone would then compare every pair of positions.
std::vector<BlockRecord> CollidingBlocks(int count) {
  auto mix = [](std::uint32_t h, std::uint32_t w) {
    h = (h ^ w) * 0x01000193u;
    return h ^ (h >> 15);
  };
  std::uint32_t inverse = 1;  // of 0x01000193 modulo 2^32, by Newton's steps
  for (int i = 0; i < 5; ++i) inverse *= 2 - 0x01000193u * inverse;
  const std::uint32_t target = 0x2545f491u, unmixed = (target ^ (target >> 15) ^ (target >> 30)) * inverse;
  std::vector<BlockRecord> blocks(static_cast<std::size_t>(count));
  std::uint32_t k = 0;
  for (BlockRecord& r : blocks) {
    r = Box(0, 0, 0, 1, 1, 1, 0);
    for (int c = 0; c < 8; ++c) {
      float z;
      do {  // positions on a 1/8 grid in x and y; a z that is finite
        const float x = static_cast<float>(k % 4000 + 1) / 8, y = static_cast<float>(k++ / 4000) / 8;
        const std::uint32_t bits = unmixed ^ mix(mix(0x811c9dc5u, std::bit_cast<std::uint32_t>(-x)), std::bit_cast<std::uint32_t>(y));
        z = std::bit_cast<float>(bits);
        r.vx[c] = x, r.vy[c] = y;
      } while (!std::isfinite(z) || z == 0);
      r.vz[c] = z;
    }
  }
  return blocks;
}
