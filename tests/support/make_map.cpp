// Writes one map for the script tests, so that none of them makes its maps by
// hand. Usage: make_map OUT.bd1 [WORD...], the words applied in order:
//   from=FILE        take FILE's names and add its blocks (a map that reads)
//   N=TEXT           texture name N (0-9); \\ \r \n \t \0 \xHH are escapes
//   box=X0,Y0,Z0,X1,Y1,Z1,T  add a box with texture number T on every face
//   B.FIELD=VALUE    set a field of block B: xC yC zC (corner C), uF.K vF.K
//                    (face F, slot K) to a float as strtof reads it (inf,
//                    nan, -nan), or tF (face F's texture number)
//   count=N          the block count written, in place of the number of blocks
// Exit 2 on a word it cannot apply, 1 when the file cannot be written.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>

#include "tests/support/bd1.h"

namespace {

std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char c = s[++i];
    if (c == 'x' && i + 2 < s.size())
      out += static_cast<char>(std::strtol(s.substr(i + 1, 2).c_str(), nullptr, 16)), i += 2;
    else
      out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c == '0' ? '\0' : c;
  }
  return out;
}

// The number a whole text spells, if it spells one.
template <typename T>
bool Read(const std::string& text, T* out) {
  char* end = nullptr;
  if constexpr (std::is_floating_point_v<T>) *out = std::strtof(text.c_str(), &end);
  else *out = static_cast<T>(std::strtol(text.c_str(), &end, 10));
  return !text.empty() && *end == '\0';
}

// B.xC, B.yC, B.zC, B.uF.K, B.vF.K or B.tF.
bool SetField(std::vector<BlockRecord>& blocks, const std::string& key, const std::string& value) {
  std::vector<std::string> part{""};
  for (char c : key)
    if (c == '.') part.emplace_back();
    else part.back() += c;
  int b, a, k = 0;
  if (part.size() < 2 || part.size() > 3 || part[1].size() < 2 || !Read(part[0], &b) || b < 0 ||
      static_cast<std::size_t>(b) >= blocks.size() || !Read(part[1].substr(1), &a) || a < 0 ||
      (part.size() == 3 && (!Read(part[2], &k) || k < 0 || k > 3)))
    return false;
  BlockRecord& r = blocks[static_cast<std::size_t>(b)];
  const char kind = part[1][0];
  if ((kind == 'u' || kind == 'v') != (part.size() == 3)) return false;
  switch (kind) {
    case 'x': return a < 8 && Read(value, &r.vx[a]);
    case 'y': return a < 8 && Read(value, &r.vy[a]);
    case 'z': return a < 8 && Read(value, &r.vz[a]);
    case 'u': return a < 6 && Read(value, &r.u[a][k]);
    case 'v': return a < 6 && Read(value, &r.v[a][k]);
    case 't': return a < 6 && Read(value, &r.textureIndex[a]);
    default: return false;
  }
}

bool Apply(const std::string& word, TextureNames& names, std::vector<BlockRecord>& blocks, int& count) {
  const std::size_t eq = word.find('=');
  if (eq == std::string::npos) return false;
  const std::string key = word.substr(0, eq), value = word.substr(eq + 1);
  if (key == "from") {
    BlockData data;
    if (ReadBlockDataFile(value.c_str(), &data) != ReadResult::Ok) return false;
    for (int i = 0; i < kTextureNameCount; ++i) names[static_cast<std::size_t>(i)] = data.textureNames[i];
    blocks.insert(blocks.end(), data.blocks, data.blocks + data.count);
    return ReleaseBlockData(&data), true;
  }
  if (key.size() == 1 && key[0] >= '0' && key[0] <= '9') return names[static_cast<std::size_t>(key[0] - '0')] = Unescape(value), true;
  if (key == "count") return Read(value, &count);
  if (key != "box") return SetField(blocks, key, value);
  float v[7];
  std::size_t at = 0;
  for (float& x : v) {
    const std::size_t comma = value.find(',', at);
    if ((comma == std::string::npos) != (&x == v + 6) || !Read(value.substr(at, comma - at), &x)) return false;
    at = comma + 1;
  }
  return blocks.push_back(Box(v[0], v[1], v[2], v[3], v[4], v[5], static_cast<std::int32_t>(v[6]))), true;
}

}  // namespace

int main(int argc, char** argv) {
  TextureNames names;
  std::vector<BlockRecord> blocks;
  int count = -1 - 32768;
  for (int i = 2; i < argc; ++i)
    if (!Apply(argv[i], names, blocks, count)) return std::fprintf(stderr, "make_map: cannot apply %s\n", argv[i]), 2;
  if (argc < 2) return std::fputs("usage: make_map OUT.bd1 [WORD...]\n", stderr), 2;
  return WriteFileBytes(argv[1], BuildBd1(names, blocks, count)) ? 0 : 1;
}
