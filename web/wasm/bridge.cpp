// The page's way into the converter: a few plain C functions over one map held
// in memory, exported from the WebAssembly module. The page copies a file's
// bytes in (and the images given with it, by name), then runs conversion jobs
// on them: each job's files come out through the one import, bm_sink, a piece
// at a time, and its report stays readable until the next job. The view's
// mesh is laid out for drawing by bm_view, at offsets bm_view_offset names.
// Nothing here touches a file system, so the module needs no WASI calls.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "blockdata/blockdata.h"
#include "image/image.h"
#include "job/job.h"
#include "mesh/mesh.h"
#include "mqo/mqo.h"

#define BRIDGE_EXPORT(name) extern "C" __attribute__((export_name(#name)))

// Takes each piece of a job's files (a JobFile); false stops the job.
extern "C" __attribute__((import_module("env"), import_name("bm_sink"))) bool bm_sink(int file, const char* bytes,
                                                                                     std::size_t size);

namespace {

unsigned char* g_input;
std::size_t g_inputSize;
char g_name[1024];  // the map's file name, which the outputs are named after

JobImage* g_given;
int g_givenCount;

JobOutcome g_outcome;
MeshFormat g_format;
JobReport g_report;

// The view: the map read for it, its mesh's counts and the arrays drawn.
BlockData g_map;
std::uint32_t g_groups[kMeshGroups];
void* g_view;
enum ViewField { kFaces, kDropped, kPerClass, kMin, kMax, kPositions, kUvs, kViewFields };
std::size_t g_viewOffset[kViewFields];

ImagePixels g_pixels;  // see bm_pixels

void ReleaseImages() {
  for (int i = 0; i < g_givenCount; ++i) std::free(const_cast<char*>(g_given[i].name.bytes));
  std::free(g_given);
  g_given = nullptr;
  g_givenCount = 0;
}

void ReleaseAll() {
  std::free(g_input);
  g_input = nullptr;
  g_inputSize = 0;
  ReleaseImages();
  ReleaseBlockData(&g_map);
  std::memset(g_groups, 0, sizeof g_groups);
  std::free(g_view);
  g_view = nullptr;
  ReleaseImagePixels(&g_pixels);
}

bool Sink(void*, JobFile file, const char* bytes, std::size_t size) {
  return bm_sink(static_cast<int>(file), bytes, size);
}
bool Refuse(void*, JobFile, const char*, std::size_t) { return false; }

const char* Text(std::size_t (*format)(char*)) {
  static char line[kSystemErrorMax + kJobWarningMax + 1];
  line[format(line)] = '\0';
  return line;
}

}  // namespace

// Room for the map's file of `size` bytes, held until bm_close; the page
// writes the file there. Returns 0 when the memory cannot be had.
BRIDGE_EXPORT(bm_input) unsigned char* bm_input(std::size_t size) {
  ReleaseAll();
  g_input = static_cast<unsigned char*>(std::malloc(size ? size : 1));
  g_inputSize = g_input ? size : 0;
  return g_input;
}

// Where the page writes the map's file name, NUL-terminated.
BRIDGE_EXPORT(bm_name) char* bm_name() { return g_name; }

// Room for `count` images handed over with the map (their bytes are read by
// the jobs that use images). Returns 0 when the memory cannot be had.
BRIDGE_EXPORT(bm_images) JobImage* bm_images(int count) {
  ReleaseImages();
  if (count < 0) return nullptr;
  g_given = static_cast<JobImage*>(std::calloc(static_cast<std::size_t>(count) + 1, sizeof(JobImage)));
  if (g_given) g_givenCount = count;
  return g_given;
}

// Room for image i: its name (`nameSize` bytes), then its `size` bytes.
BRIDGE_EXPORT(bm_image) unsigned char* bm_image(int i, std::size_t nameSize, std::size_t size) {
  if (i < 0 || i >= g_givenCount) return nullptr;
  auto* room = static_cast<unsigned char*>(std::malloc(nameSize + size + 1));
  if (!room) return nullptr;
  g_given[i] = JobImage{{reinterpret_cast<char*>(room), nameSize}, room + nameSize, size};
  return room;
}

// Converts the map into a format's files (a MeshFormat; `optimized`: hidden
// faces removed and corners shared, as blockmqo-cli --optimize), handing each
// piece to `write`. Returns a JobResult; the report is read below.
static int Run(int format, bool optimized, bool (*write)(void*, JobFile, const char*, std::size_t)) {
  static char mtl[sizeof g_name + kOutputNameExtra];
  g_format = static_cast<MeshFormat>(format);
  const bool named = FormatOutputName(g_name, MeshFormat::Mtl, false, mtl, sizeof mtl) != 0;
  // The OBJ names its MTL by its name alone, as if beside it.
  const char* slash = std::strrchr(mtl, '/');
  Job job{};
  job.input = {JobSource::Bytes, nullptr, g_input, g_inputSize};
  job.output = {JobTarget::Sink, nullptr, {write, nullptr}, named ? (slash ? slash + 1 : mtl) : nullptr};
  job.format = g_format;
  if (optimized) job.options = MeshOptions{.removeHiddenFaces = true, .shareVertices = true};
  job.images = {nullptr, 0, g_given, g_givenCount};
  g_outcome = g_input ? RunJob(job, &g_report) : JobOutcome{JobResult::OutOfMemory, JobFile::Input, 0};
  if (!g_input) g_report.read = false;
  return static_cast<int>(g_outcome.result);
}

// The files to bm_sink.
BRIDGE_EXPORT(bm_run) int bm_run(int format, bool optimized) { return Run(format, optimized, Sink); }

// What a job decides of the map, its files not made: its sink takes nothing,
// so it stops at the first piece, its report filled (the read, the map's
// names and warnings). Returns a JobResult: OutputWriteFailed once read.
BRIDGE_EXPORT(bm_decide) int bm_decide(int format, bool optimized) { return Run(format, optimized, Refuse); }

// The last job's failure: the desktop programs' text, and why in words.
BRIDGE_EXPORT(bm_message) const char* bm_message() {
  return Text([](char* out) { return FormatJobMessage(g_outcome, g_format, out); });
}
BRIDGE_EXPORT(bm_reason) const char* bm_reason() {
  return Text([](char* out) { return FormatJobReason(g_outcome, out, kSystemErrorMax); });
}

// The output file named for the map's name (FormatOutputName).
BRIDGE_EXPORT(bm_output_name) const char* bm_output_name(int format, bool optimized) {
  static char name[sizeof g_name + kOutputNameExtra];
  return FormatOutputName(g_name, static_cast<MeshFormat>(format), optimized, name, sizeof name) ? name : nullptr;
}

// The last job's warning i (a JobWarning), in the core's words; 0 when it
// has nothing to say.
BRIDGE_EXPORT(bm_warning) const char* bm_warning(int i) {
  static char line[kJobWarningMax + 1];
  if (i < 0 || i >= kJobWarningKinds || !g_report.read) return nullptr;
  const std::size_t n = FormatJobWarning(g_report, static_cast<JobWarning>(i), line);
  line[n] = '\0';
  return n ? line : nullptr;
}

BRIDGE_EXPORT(bm_block_count) int bm_block_count() { return g_report.blockCount; }

// Texture name t as the map holds it, NUL-terminated.
BRIDGE_EXPORT(bm_texture_name) const char* bm_texture_name(int t) {
  return t >= 0 && t < kTextureNameCount ? g_report.textureNames[t] : "";
}

// What the last job decided of texture name t's image: a JobImageUse, the
// ImageResult that refused it, and the image handed over that it picked.
BRIDGE_EXPORT(bm_image_use) int bm_image_use(int t) {
  return t >= 0 && t < kTextureNameCount ? static_cast<int>(g_report.image[t].use) : 0;
}
BRIDGE_EXPORT(bm_image_cause) int bm_image_cause(int t) {
  return t >= 0 && t < kTextureNameCount ? static_cast<int>(g_report.image[t].cause) : 0;
}
BRIDGE_EXPORT(bm_image_given) int bm_image_given(int t) {
  return t >= 0 && t < kTextureNameCount ? g_report.image[t].given : -1;
}

// Why a map could not be read, in numbers the page puts into words: the
// file's size, the block count it states (-1 when too short to hold one) and
// the bytes that count needs.
BRIDGE_EXPORT(bm_stated_count) int bm_stated_count() {
  return g_input && g_inputSize >= kBlockDataHeaderSize ? StoredBlockCount(g_input) : -1;
}
BRIDGE_EXPORT(bm_bytes_needed) double bm_bytes_needed() {
  return static_cast<double>(BlockDataFileSize(bm_stated_count()));
}

// The map's mesh as the optimised files hold it, laid out for drawing in one
// allocation: faces drawn and blocks left out (uint32), faces per group
// (uint32, kMeshGroups of them), the corners' least and greatest x, y, z
// (float), then each face's four corners in group order, positions (float x,
// y, z) and then texture coordinates (float u, v). bm_view_offset gives each
// part's byte offset. Returns 0 when the map cannot be read or the memory had.
BRIDGE_EXPORT(bm_view) std::uint32_t* bm_view() {
  std::free(g_view);
  g_view = nullptr;
  ReleaseBlockData(&g_map);
  if (!g_input || ReadBlockDataBytes(g_input, g_inputSize, &g_map) != ReadResult::Ok) return nullptr;
  Mesh mesh{};
  // The faces the files hold; their corners are not shared, as the view copies each face's own.
  const MeshOptions options{.removeHiddenFaces = true, .shareVertices = false};
  // three.js cannot bound or draw Inf and NaN; BuildMesh leaves them out and groups the faces.
  if (BuildMesh(g_map, MeshFormat::Obj, options, &mesh) != MeshResult::Ok) return nullptr;
  const std::size_t n = mesh.faceCount;
  std::size_t at = 0;
  const std::size_t sizes[kViewFields] = {4, 4, 4 * kMeshGroups, 12, 12, 48 * n, 32 * n};
  for (int f = 0; f < kViewFields; ++f) g_viewOffset[f] = at, at += sizes[f];
  g_view = std::malloc(at);
  if (g_view) {
    auto* base = static_cast<unsigned char*>(g_view);
    const auto faces = static_cast<std::uint32_t>(n), dropped = static_cast<std::uint32_t>(mesh.droppedBlocks);
    std::memcpy(base + g_viewOffset[kFaces], &faces, 4);
    std::memcpy(base + g_viewOffset[kDropped], &dropped, 4);
    std::memcpy(base + g_viewOffset[kPerClass], mesh.groupFaceCount, sizeof mesh.groupFaceCount);
    std::memcpy(base + g_viewOffset[kMin], mesh.min, 12);
    std::memcpy(base + g_viewOffset[kMax], mesh.max, 12);
    auto* position = reinterpret_cast<float*>(base + g_viewOffset[kPositions]);
    auto* uv = reinterpret_cast<float*>(base + g_viewOffset[kUvs]);
    for (std::size_t f = 0; f < n; ++f) {
      const MeshFace& face = mesh.faces[f];
      for (int k = 0; k < 4; ++k, position += 3, uv += 2) {
        std::memcpy(position, &mesh.vertices[face.corner[k]], 12);
        uv[0] = face.u[k], uv[1] = face.v[k];
      }
    }
    std::memcpy(g_groups, mesh.groupFaceCount, sizeof g_groups);
  }
  ReleaseMesh(&mesh);
  return static_cast<std::uint32_t*>(g_view);
}

BRIDGE_EXPORT(bm_view_offset) int bm_view_offset(int field) {
  return field >= 0 && field < kViewFields ? static_cast<int>(g_viewOffset[field]) : -1;
}
BRIDGE_EXPORT(bm_view_field_name) const char* bm_view_field_name(int field) {
  static const char* const kNames[kViewFields] = {"faces", "dropped", "perClass", "min", "max", "positions", "uvs"};
  return field >= 0 && field < kViewFields ? kNames[field] : nullptr;
}

// Group g's material name in the mesh's files (FormatMaterialName), after bm_view.
BRIDGE_EXPORT(bm_material_name) const char* bm_material_name(int g) {
  static char name[kMaterialNameMax + 1];
  if (g < 0 || g >= kMeshGroups) return nullptr;
  name[FormatMaterialName(g_map, g_groups, g, name)] = '\0';
  return name;
}

// The pixels of an image file given to bm_input, for the view where the
// browser cannot decode the file itself (TGA): 8-bit RGBA rows from the top,
// bm_pixels_width() by bm_pixels_height(), until bm_close; 0 when refused.
BRIDGE_EXPORT(bm_pixels) unsigned char* bm_pixels() {
  const ImageResult result = g_input ? DecodeImage(g_input, g_inputSize, &g_pixels) : ImageResult::OutOfMemory;
  return result == ImageResult::Ok ? g_pixels.rgba : nullptr;
}
BRIDGE_EXPORT(bm_pixels_width) int bm_pixels_width() { return g_pixels.width; }
BRIDGE_EXPORT(bm_pixels_height) int bm_pixels_height() { return g_pixels.height; }

BRIDGE_EXPORT(bm_close) void bm_close() { ReleaseAll(); }

// A file the browser could not read (moved, deleted or changed since it was
// chosen) fails as a file that cannot be opened.
BRIDGE_EXPORT(bm_unreadable) int bm_unreadable() {
  ReleaseAll();
  g_outcome = JobOutcome{JobResult::InputOpenFailed, JobFile::Input, 0};
  g_report.read = false;
  return static_cast<int>(g_outcome.result);
}

// What the page lays its calls and words out by, named here so that it copies
// no number. Each *_name function gives 0 past its last value.
BRIDGE_EXPORT(bm_texture_name_count) int bm_texture_name_count() { return kTextureNameCount; }
BRIDGE_EXPORT(bm_view_groups) int bm_view_groups() { return kMeshGroups; }
BRIDGE_EXPORT(bm_other_group) int bm_other_group() { return kOutOfRangeGroup; }
BRIDGE_EXPORT(bm_warning_kinds) int bm_warning_kinds() { return kJobWarningKinds; }
BRIDGE_EXPORT(bm_max_block_count) int bm_max_block_count() { return kMaxBlockCount; }

BRIDGE_EXPORT(bm_result_name) const char* bm_result_name(int i) {
  switch (static_cast<JobResult>(i)) {
    case JobResult::Ok: return "ok";
    case JobResult::InputOpenFailed: return "open-failed";
    case JobResult::InputReadFailed: return "read-failed";
    case JobResult::InputTruncated: return "truncated";
    case JobResult::NegativeCount: return "negative-count";
    case JobResult::OutOfMemory: return "out-of-memory";
    case JobResult::OutputOpenFailed: return "output-open-failed";
    case JobResult::OutputWriteFailed: return "output-write-failed";
  }
  return nullptr;
}

BRIDGE_EXPORT(bm_image_use_name) const char* bm_image_use_name(int i) {
  switch (static_cast<JobImageUse>(i)) {
    case JobImageUse::None: return "none";
    case JobImageUse::Used: return "used";
    case JobImageUse::NotGiven: return "not-given";
    case JobImageUse::Unreadable: return "unreadable";
    case JobImageUse::NotUsed: return "not-used";
  }
  return nullptr;
}

// Why an image was refused, in a few plain words.
BRIDGE_EXPORT(bm_image_result_name) const char* bm_image_result_name(int i) {
  switch (static_cast<ImageResult>(i)) {
    case ImageResult::Ok: return "it could not be read";
    case ImageResult::UnknownFormat: return "not an image";
    case ImageResult::BadHeader: return "a kind of image not read here, or a broken one";
    case ImageResult::TooLarge: return "too large";
    case ImageResult::Truncated: return "cut short";
    case ImageResult::BadPixels: return "its pixels are broken";
    case ImageResult::OutOfMemory: return "too large for the memory the browser gives";
  }
  return nullptr;
}

BRIDGE_EXPORT(bm_format_name) const char* bm_format_name(int i) {
  switch (static_cast<MeshFormat>(i)) {
    case MeshFormat::Mqo: return "mqo";
    case MeshFormat::Obj: return "obj";
    case MeshFormat::Mtl: return "mtl";
    case MeshFormat::Glb: return "glb";
  }
  return nullptr;
}
