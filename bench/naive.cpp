#include "bench/naive.h"

#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "blockdata/blockdata.h"
#include "mqo/mqo.h"

namespace {

std::string TempBeside(const char* outputPath) { return std::string(outputPath) + ".bench-tmp"; }

bool SyncToDisk(std::FILE* f) {
#ifdef _WIN32
  return _commit(_fileno(f)) == 0;
#else
  return fsync(fileno(f)) == 0;
#endif
}

// Flushes, syncs when asked, closes; the temporary file replaces the target
// only when all of that and the writes before it (`ok`) succeeded.
bool Finish(std::FILE* f, const std::string& temp, const char* target, bool sync, bool ok) {
  ok = std::fflush(f) == 0 && ok;
  if (ok && sync) ok = SyncToDisk(f);
  ok = std::fclose(f) == 0 && ok;
#ifdef _WIN32
  return ok && MoveFileExA(temp.c_str(), target, MOVEFILE_REPLACE_EXISTING) != 0;
#else
  return ok && std::rename(temp.c_str(), target) == 0;
#endif
}

}  // namespace

bool WriteFloor(const char* inputPath, const char* outputPath, const std::string& document,
                bool sync) {
  std::FILE* in = std::fopen(inputPath, "rb");
  if (!in) return false;
  bool ok = std::fseek(in, 0, SEEK_END) == 0;
  const long size = ok ? std::ftell(in) : -1;
  ok = size >= 0 && std::fseek(in, 0, SEEK_SET) == 0;
  const auto bytes = static_cast<std::size_t>(size);
  void* buffer = ok ? std::malloc(bytes + 1) : nullptr;
  ok = buffer && std::fread(buffer, 1, bytes, in) == bytes;
  std::fclose(in);
  std::free(buffer);
  if (!ok) return false;

  std::string temp = TempBeside(outputPath);
  std::FILE* out = std::fopen(temp.c_str(), "wb");
  if (!out) return false;
  ok = std::fwrite(document.data(), 1, document.size(), out) == document.size();
  return Finish(out, temp, outputPath, sync, ok);
}

bool WriteNaive(const char* inputPath, const char* outputPath, bool sync) {
  BlockData data;
  if (ReadBlockDataFile(inputPath, &data) != ReadResult::Ok) return false;
  std::string temp = TempBeside(outputPath);
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) {
    ReleaseBlockData(&data);
    return false;
  }
  std::fprintf(f, "Metasequoia Document\r\nFormat Text Ver 1.0\r\n\r\nMaterial %d {\r\n", 10);
  for (const char* name : data.textureNames) {
    std::fprintf(f,
                 "\t\"%s\" shader(3) col(1.000 1.000 1.000 1.000) dif(0.900) amb(0.400) "
                 "emi(0.100) spc(0.000) power(5.00) tex(\"%s\")\r\n",
                 *name ? name : "empty", name);
  }
  std::fprintf(f,
               "}\r\n\r\nObject \"map\" {\r\n\tvisible 15\r\n\tlocking 0\r\n\tshading 1\r\n"
               "\tfacet 0\r\n\tcolor 0.898 0.498 0.698\r\n\tcolor_type 0\r\n");
  std::fprintf(f, "\tvertex %d {\r\n", 8 * data.count);
  for (int b = 0; b < data.count; ++b) {
    const BlockRecord& r = data.blocks[b];
    for (int c = 0; c < 8; ++c)
      std::fprintf(f, "\t\t%.4f %.4f %.4f\r\n", -static_cast<double>(r.vx[c]),
                   static_cast<double>(r.vy[c]), static_cast<double>(r.vz[c]));
  }
  std::fprintf(f, "\t}\r\n\tface %d {\r\n", 6 * data.count);
  for (int b = 0; b < data.count; ++b) {
    const BlockRecord& r = data.blocks[b];
    for (int face = 0; face < 6; ++face) {
      const std::int8_t* t = FaceCornerTable[face];
      std::fprintf(f,
                   "\t\t4 V(%d %d %d %d) M(%d) UV(%.5f %.5f %.5f %.5f %.5f %.5f %.5f %.5f)\r\n",
                   8 * b + t[3], 8 * b + t[2], 8 * b + t[1], 8 * b + t[0], r.textureIndex[face],
                   static_cast<double>(r.u[face][0]), static_cast<double>(r.v[face][0]),
                   static_cast<double>(r.u[face][1]), static_cast<double>(r.v[face][1]),
                   static_cast<double>(r.u[face][2]), static_cast<double>(r.v[face][2]),
                   static_cast<double>(r.u[face][3]), static_cast<double>(r.v[face][3]));
    }
  }
  std::fputs("\t}\r\n}\r\n\r\nEof", f);
  ReleaseBlockData(&data);
  return Finish(f, temp, outputPath, sync, true);
}
