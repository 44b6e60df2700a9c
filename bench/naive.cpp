#include "bench/naive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "blockdata/blockdata.h"
#include "mqo/mqo.h"

namespace {

std::string TempBeside(const char* outputPath) { return std::string(outputPath) + ".bench-tmp"; }

}  // namespace

bool WriteFloor(const char* inputPath, const char* outputPath, const std::string& document,
                bool sync) {
  int in = open(inputPath, O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st;
  bool ok = fstat(in, &st) == 0;
  auto size = static_cast<std::size_t>(st.st_size);
  void* bytes = ok ? std::malloc(size) : nullptr;
  ok = bytes && read(in, bytes, size) == static_cast<ssize_t>(size);
  close(in);
  std::free(bytes);
  if (!ok) return false;

  std::string temp = TempBeside(outputPath);
  int out = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) return false;
  ok = write(out, document.data(), document.size()) == static_cast<ssize_t>(document.size());
  if (ok && sync) ok = fsync(out) == 0;
  ok = close(out) == 0 && ok;
  return ok && rename(temp.c_str(), outputPath) == 0;
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
  bool ok = std::fflush(f) == 0;
  if (ok && sync) ok = fsync(fileno(f)) == 0;
  ok = std::fclose(f) == 0 && ok;
  ReleaseBlockData(&data);
  return ok && rename(temp.c_str(), outputPath) == 0;
}
