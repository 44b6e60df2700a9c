// Writes one map for the script tests, so that they make their maps here
// rather than patching bytes by hand. Usage: make_map OUT.bd1 [WORD...]
//   from=FILE        take FILE's names and add its blocks (as many as it holds)
//   N=TEXT           texture name N (0-9); \\ \r \n \t \0 \xHH are escapes
//   box=X0,Y0,Z0,X1,Y1,Z1,T  add a box with texture number T on every face
//   B.FIELD=VALUE    set a field of block B: xC yC zC (corner C), uF.K vF.K
//                    (face F, slot K), tF (face F's texture number); a float
//                    as strtof reads it (inf, nan, -nan) or bits:HEX, its bits
//   count=N          the block count written, in place of the number of blocks
//   -                the words that follow, one a line, from standard input
// Words apply in order. Exit 2 on a word it cannot read, 1 when writing fails.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "tests/support/bd1.h"

namespace {

struct Map {
  TextureNames names;
  std::vector<BlockRecord> blocks;
  int count = -1 - 32768;
};

std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char c = s[++i];
    if (c == 'x' && i + 2 < s.size()) {
      out += static_cast<char>(std::strtol(s.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c == '0' ? '\0' : c;
    }
  }
  return out;
}

bool Number(const std::string& text, float* out) {
  char* end = nullptr;
  if (text.starts_with("bits:")) {
    const unsigned long bits = std::strtoul(text.c_str() + 5, &end, 16);
    const auto word = static_cast<std::uint32_t>(bits);
    std::memcpy(out, &word, 4);
  } else {
    *out = std::strtof(text.c_str(), &end);
  }
  return !text.empty() && end && *end == '\0';
}

bool Integer(const std::string& text, long* out) {
  char* end = nullptr;
  *out = std::strtol(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0';
}

bool ReadMap(const std::string& path, Map* map) {
  const std::string bytes = ReadFileBytes(path);
  if (bytes.size() < kBlockDataHeaderSize) return false;
  for (int i = 0; i < kTextureNameCount; ++i) {
    std::string name = bytes.substr(static_cast<std::size_t>(i) * kTextureNameField, kTextureNameField);
    map->names[static_cast<std::size_t>(i)] = name.erase(name.find_last_not_of('\0') + 1);
  }
  const std::size_t held = (bytes.size() - kBlockDataHeaderSize) / sizeof(BlockRecord);
  const auto count = static_cast<std::int16_t>(static_cast<unsigned char>(bytes[310]) | static_cast<unsigned char>(bytes[311]) << 8);
  const std::size_t n = std::min<std::size_t>(held, count > 0 ? static_cast<std::size_t>(count) : 0), at = map->blocks.size();
  map->blocks.resize(at + n);
  if (n) std::memcpy(&map->blocks[at], bytes.data() + kBlockDataHeaderSize, n * sizeof(BlockRecord));
  return true;
}

// One field of a block: "x3", "u2.1", "t5".
bool SetField(BlockRecord& r, const std::string& field, const std::string& value) {
  long a = -1, b = -1;
  const std::size_t dot = field.find('.');
  if (field.size() < 2 || !Integer(field.substr(1, dot - 1), &a) || (dot != std::string::npos && !Integer(field.substr(dot + 1), &b)))
    return false;
  const char kind = field[0];
  float f;
  long t;
  if ((kind == 'x' || kind == 'y' || kind == 'z') && b < 0 && a >= 0 && a < 8 && Number(value, &f)) {
    (kind == 'x' ? r.vx : kind == 'y' ? r.vy : r.vz)[a] = f;
  } else if ((kind == 'u' || kind == 'v') && a >= 0 && a < 6 && b >= 0 && b < 4 && Number(value, &f)) {
    (kind == 'u' ? r.u : r.v)[a][b] = f;
  } else if (kind == 't' && b < 0 && a >= 0 && a < 6 && Integer(value, &t)) {
    r.textureIndex[a] = static_cast<std::int32_t>(t);
  } else {
    return false;
  }
  return true;
}

bool Apply(const std::string& word, Map* map) {
  const std::size_t eq = word.find('=');
  if (eq == std::string::npos) return false;
  const std::string key = word.substr(0, eq), value = word.substr(eq + 1);
  long n;
  if (key == "from") return ReadMap(value, map);
  if (key == "count") return Integer(value, &n) && (map->count = static_cast<int>(n), true);
  if (key.size() == 1 && key[0] >= '0' && key[0] <= '9') {
    map->names[static_cast<std::size_t>(key[0] - '0')] = Unescape(value);
    return true;
  }
  if (key == "box") {
    float v[7];
    std::size_t at = 0;
    for (int i = 0; i < 7; ++i) {
      const std::size_t comma = value.find(',', at);
      if ((comma == std::string::npos) != (i == 6) || !Number(value.substr(at, comma - at), &v[i])) return false;
      at = comma + 1;
    }
    map->blocks.push_back(Box(v[0], v[1], v[2], v[3], v[4], v[5], static_cast<std::int32_t>(v[6])));
    return true;
  }
  const std::size_t dot = key.find('.');
  return dot != std::string::npos && Integer(key.substr(0, dot), &n) && n >= 0 &&
         static_cast<std::size_t>(n) < map->blocks.size() && SetField(map->blocks[static_cast<std::size_t>(n)], key.substr(dot + 1), value);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: make_map OUT.bd1 [WORD...] (see make_map.cpp)\n", stderr);
    return 2;
  }
  Map map;
  for (int i = 2; i < argc; ++i) {
    std::string word = argv[i];
    if (word == "-") {
      while (std::getline(std::cin, word))
        if (!word.empty() && !Apply(word, &map)) return std::fprintf(stderr, "make_map: cannot apply %s\n", word.c_str()), 2;
    } else if (!Apply(word, &map)) {
      return std::fprintf(stderr, "make_map: cannot apply %s\n", argv[i]), 2;
    }
  }
  return WriteFileBytes(argv[1], BuildBd1(map.names, map.blocks, map.count)) ? 0 : 1;
}
