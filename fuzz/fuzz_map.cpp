// Fuzz target: any bytes as a block data file. Both readers give the verdict
// the layout alone implies and hold nothing after a failure; an accepted map's
// document, written in pieces of a size varied with the input, each into a
// buffer of exactly that size (an overrun is AddressSanitizer's to catch),
// equals the reference document composed from the bytes. Then the map goes
// through BuildMesh with every option pair for every format, and through
// every writer in pieces of the same size. What must hold of any mesh: at most
// 6 faces a block, every index in range, unit normals on the side each
// triangle shows. Which faces hidden-face removal leaves is
// tests/mesh_test.cpp's table; what the files say, tests/mesh/readback.py's.
// Last, the whole job, with images handed over for the glb and the OBJ.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "job/job.h"
#include "tests/support/bd1.h"
#include "tests/support/reference_document.h"

namespace {

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

void CheckMesh(const BlockData& data, std::size_t capacity) {
  for (MeshFormat format : {MeshFormat::Mqo, MeshFormat::Obj, MeshFormat::Glb}) {
    for (int o = 0; o < 4; ++o) {
      const MeshOptions options{(o & 1) != 0, (o & 2) != 0};
      Mesh mesh;
      Check(BuildMesh(data, format, options, &mesh) == MeshResult::Ok, "mesh");
      Check(mesh.faceCount <= 6u * static_cast<std::uint32_t>(data.count), "at most 6 faces a block");
      // The MQO keeps some of the map's own, in file order, each corner on a vertex kept.
      for (std::uint32_t j = 0; !mesh.faces && j < mesh.faceCount; ++j) {
        const std::uint32_t f = mesh.faceOf ? mesh.faceOf[j] : j;
        Check(f < 6u * static_cast<std::uint32_t>(data.count) && (!j || !mesh.faceOf || f > mesh.faceOf[j - 1]), "MQO face kept");
        for (int k = 0; k < 4 && mesh.cornerNumber; ++k)
          Check(mesh.cornerNumber[f / 6 * 8 + static_cast<std::uint32_t>(FaceCornerTable[f % 6][k])] < mesh.vertexCount,
                "MQO corner in range");
      }
      for (std::uint32_t k = 1; mesh.vertexOf && k < mesh.vertexCount; ++k) Check(mesh.vertexOf[k - 1] < mesh.vertexOf[k], "MQO vertices in order");
      for (std::uint32_t f = 0; mesh.faces && f < mesh.faceCount; ++f) {
        const MeshFace& face = mesh.faces[f];
        for (int k = 0; k < 4; ++k) Check(face.corner[k] < mesh.vertexCount, "corner in range");
        std::uint32_t scratch[8];
        const std::uint32_t* number = format == MeshFormat::Glb ? GltfFaceNumbers(mesh, f, scratch) : nullptr;
        for (int c = 0; number && c < 8; ++c)
          Check(number[c] < mesh.gltfVertexCount[MeshGroup(face.texture)] || number[c] == ~0u, "glTF corner in range");
        if (format != MeshFormat::Glb) continue;  // only the glb carries normals
        Check(std::fabs(std::hypot(face.normal[0], face.normal[1], face.normal[2]) - 1) < 1e-6, "unit normal");
        // Each triangle drawn shows the side its winding turns to.
        for (int t = 0; t < 2; ++t) {
          const MeshVertex* v[3];
          for (int i = 0; i < 3; ++i) v[i] = &mesh.vertices[face.corner[i ? i + t : 0]];
          const double a[3] = {double{v[1]->x} - v[0]->x, double{v[1]->y} - v[0]->y, double{v[1]->z} - v[0]->z};
          const double b[3] = {double{v[2]->x} - v[0]->x, double{v[2]->y} - v[0]->y, double{v[2]->z} - v[0]->z};
          const double cross[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
          // Up to rounding: the build sums edges (Newell), here two edges cross;
          // a sliver far smaller than its coordinates turns either way. The
          // normal is a float, within 1e-6 of unit length and direction, so a
          // triangle at right angles to it may come out either side by that
          // much of its own size.
          double scale = 0, size = std::hypot(cross[0], cross[1], cross[2]);
          for (const MeshVertex* p : v) scale += double{p->x} * p->x + double{p->y} * p->y + double{p->z} * p->z;
          for (int way = 0; way < 2; ++way) {
            if (face.triangle[t] != (way ? Turn::Reversed : Turn::Listed) && face.triangle[t] != Turn::Both) continue;
            double dot = 0;
            for (int j = 0; j < 3; ++j) dot += (way ? -cross[j] : cross[j]) * SideNormal(face, SideShown(face, t, way), j);
            Check(dot >= -1e-12 * scale - 1e-6 * size, "a triangle's normal on the side it shows");
          }
        }
      }
      // What the files say is read back from the committed ones and the CLI's
      // (tests/mesh/readback.py); here every writer runs, for the sanitizers.
      WriteMesh({&data, &mesh, format, format == MeshFormat::Obj ? "map.mtl" : nullptr, nullptr}, capacity);
      if (format == MeshFormat::Obj) WriteMesh({&data, &mesh, MeshFormat::Mtl, nullptr, nullptr}, capacity);
      ReleaseMesh(&mesh);
    }
  }
}

// The whole job from the bytes, with an image handed over for every texture
// name: a good one for even numbers, a piece of the input itself (seldom an
// image) for odd ones. Each name's decision agrees with what the glb holds.
void CheckJob(const std::uint8_t* bytes, std::size_t size, std::size_t capacity) {
  static const unsigned char kBmp[58] = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 1, 0, 0, 0, 1,
                                         0,   0,   0,  1, 0, 24, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                         0,   0,   0,  0, 0, 0,  0, 0, 0xff, 0, 0, 0};
  BlockData names;
  if (ReadBlockDataBytes(bytes, size, &names) != ReadResult::Ok) return;
  JobImage given[kTextureNameCount];
  for (int t = 0; t < kTextureNameCount; ++t) {
    const char* name = names.textureNames[t];
    const char* base = std::max(std::strrchr(name, '/'), std::strrchr(name, '\\'));
    base = base ? base + 1 : name;
    const std::size_t piece = std::min(size, static_cast<std::size_t>(t) * 37);
    given[t] = {{base, std::strlen(base)}, t % 2 ? bytes + size - piece : kBmp, t % 2 ? piece : sizeof kBmp};
  }
  static JobReport report;
  for (MeshFormat format : {MeshFormat::Obj, MeshFormat::Glb}) {
    Job job{};
    job.input = {JobSource::Bytes, nullptr, bytes, size};
    job.output = {JobTarget::Sink, nullptr, {[](void*, JobFile, const char*, std::size_t) { return true; }, nullptr}, nullptr};
    job.format = format;
    job.options = {size % 2 == 1, size % 3 == 1};
    job.images = {nullptr, 0, given, kTextureNameCount};
    job.chunk = capacity;
    Check(RunJob(job, &report).result == JobResult::Ok, "job");
    for (int t = 0; t < kTextureNameCount && format == MeshFormat::Glb; ++t) {
      const bool used = report.image[t].use == JobImageUse::Used;
      Check(!used || (*names.textureNames[t] && report.image[t].given >= 0), "an image used has a name and a file");
      Check(!(report.namesWithoutImage >> t & 1) || (!used && *names.textureNames[t]), "the glb's images as decided");
      Check(report.image[t].use != JobImageUse::Unreadable || report.image[t].given % 2, "a good image read");
    }
  }
  ReleaseBlockData(&names);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  // The file reader reads the same bytes through a memory file.
  static const int fd = memfd_create("bd1", 0);
  Check(fd >= 0 && ftruncate(fd, 0) == 0 && pwrite(fd, bytes, size, 0) == static_cast<ssize_t>(size),
        "memory file");
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);

  const ReadResult expected = ExpectedVerdict(bytes, size);
  BlockData read[2];
  Check(ReadBlockDataFile(path, &read[0]) == expected, "file reader verdict");
  Check(ReadBlockDataBytes(bytes, size, &read[1]) == expected, "bytes reader verdict");
  const std::string reference = expected == ReadResult::Ok ? ReferenceDocument(bytes) : "";
  const std::size_t capacity = kMqoMinChunk + (size * 131 + (size ? bytes[size - 1] : 0)) % 2048;
  for (BlockData& data : read) {
    if (expected == ReadResult::Ok) {
      Check(WrittenDocument(data, capacity) == reference, "document differs from the reference");
      if (&data == read) CheckMesh(data, capacity), CheckJob(bytes, size, capacity);
    } else {
      Check(data.count == 0 && data.blocks == nullptr && data.textureNames[0][0] == '\0', "held after a failure");
    }
    ReleaseBlockData(&data);
  }
  return 0;
}
