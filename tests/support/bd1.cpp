#include "tests/support/bd1.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

BlockRecord Box(float x0, float y0, float z0, float x1, float y1, float z1, std::int32_t texture) {
  BlockRecord r{};
  const float xs[8] = {x0, x1, x1, x0, x0, x1, x1, x0};
  const float zs[8] = {z0, z0, z1, z1, z0, z0, z1, z1};
  for (int c = 0; c < 8; ++c) {
    r.vx[c] = xs[c];
    r.vy[c] = c < 4 ? y1 : y0;
    r.vz[c] = zs[c];
  }
  const float us[4] = {0, 1, 1, 0}, vs[4] = {0, 0, 1, 1};
  for (int f = 0; f < 6; ++f) {
    for (int k = 0; k < 4; ++k) {
      r.u[f][k] = us[k];
      r.v[f][k] = vs[k];
    }
    r.textureIndex[f] = texture;
  }
  return r;
}

std::vector<unsigned char> BuildBd1(const TextureNames& names,
                                    const std::vector<BlockRecord>& blocks, std::int16_t count) {
  std::vector<unsigned char> bytes(kBlockDataHeaderSize, 0);
  for (int i = 0; i < kTextureNameCount; ++i) {
    const std::string& name = names[static_cast<std::size_t>(i)];
    std::memcpy(&bytes[static_cast<std::size_t>(i * kTextureNameField)], name.data(),
                std::min<std::size_t>(name.size(), kTextureNameField));
  }
  auto raw = static_cast<std::uint16_t>(count);
  bytes[310] = static_cast<unsigned char>(raw & 0xff);
  bytes[311] = static_cast<unsigned char>(raw >> 8);
  for (const BlockRecord& r : blocks) {
    const auto* p = reinterpret_cast<const unsigned char*>(&r);
    bytes.insert(bytes.end(), p, p + sizeof r);
  }
  return bytes;
}

std::vector<unsigned char> BuildBd1(const TextureNames& names,
                                    const std::vector<BlockRecord>& blocks) {
  return BuildBd1(names, blocks, static_cast<std::int16_t>(blocks.size()));
}

TextureNames WorkedExampleNames() { return {"wall.bmp", "floor.bmp"}; }

BlockRecord WorkedExampleBlock() {
  BlockRecord r = Box(0, 0, 0, 2, 1, 2, 1);
  r.textureIndex[0] = r.textureIndex[1] = 0;
  return r;
}

void WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

std::string MakeTempDir() {
  namespace fs = std::filesystem;
  static int serial = 0;
  for (;;) {
    fs::path dir = fs::temp_directory_path() /
                   ("blockmqo-test-" + std::to_string(std::rand()) + "-" + std::to_string(++serial));
    std::error_code ec;
    if (fs::create_directory(dir, ec)) return dir.string();
  }
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(path, ec))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}
