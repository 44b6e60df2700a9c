// The page's way into the converter: a few plain C functions over one loaded
// map, exported from the WebAssembly module. The page copies a file's bytes in,
// opens them, then pulls out what it needs: the document a chunk at a time,
// the mesh laid out for drawing, the counts behind the warnings, or another
// format's file; then it closes the map. Before a mesh's file the page may
// hand over the images given with the map: their names, then the bytes of
// each that a texture name picks. Nothing here touches a file system, so the
// module needs no WASI calls.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "blockdata/blockdata.h"
#include "image/image.h"
#include "mesh/mesh.h"
#include "mqo/mqo.h"

#define BRIDGE_EXPORT(name) extern "C" __attribute__((export_name(#name)))

namespace {

BlockData g_map;
MqoCursor g_cursor;
unsigned char* g_input;
char* g_chunk;

// Why the last map failed to read, in numbers the page puts into words.
enum Fact { kReadResult, kFileSize, kStoredCount, kBytesNeeded, kFactCount };
std::int64_t g_facts[kFactCount];

Mesh g_mesh;
MeshDocument g_meshDoc;
MeshCursor g_meshCursor;

char g_mtlName[1024];

// The view's arrays, one allocation: see bm_view.
void* g_view;

// The images given with the open map: their names (NUL-separated), and what
// each texture name picked, as MeshDocument takes them.
char* g_fileNames;
ImageName g_files[256];
int g_fileCount;
GltfImage g_loaded[kTextureNameCount];
MeshImage g_images[kTextureNameCount];
ImagePixels g_pixels;  // see bm_pixels

void ReleaseAll() {
  ReleaseBlockData(&g_map);
  ReleaseMesh(&g_mesh);
  std::free(g_view);
  g_view = nullptr;
  std::free(g_fileNames);
  g_fileNames = nullptr;
  g_fileCount = 0;
  for (GltfImage& image : g_loaded) ReleaseGltfImage(&image);
  std::memset(g_images, 0, sizeof g_images);
  ReleaseImagePixels(&g_pixels);
}

}  // namespace

// Room for a file of `size` bytes; the page writes the file there, then calls
// bm_open. Returns 0 when the memory cannot be had.
BRIDGE_EXPORT(bm_input) unsigned char* bm_input(std::size_t size) {
  std::free(g_input);
  g_input = static_cast<unsigned char*>(std::malloc(size ? size : 1));
  return g_input;
}

// Reads the bytes given to bm_input as a block data file. Returns 0 on success,
// otherwise the failure's text, the one the desktop program shows; bm_fact
// then tells why in numbers.
BRIDGE_EXPORT(bm_open) const char* bm_open(std::size_t size) {
  ReleaseAll();
  g_cursor = MqoCursor{};
  ReadResult read = g_input ? ReadBlockDataBytes(g_input, size, &g_map) : ReadResult::OutOfMemory;
  g_facts[kReadResult] = static_cast<int>(read);
  g_facts[kFileSize] = static_cast<std::int64_t>(size);
  const int stated = g_input && size >= kBlockDataHeaderSize ? StoredBlockCount(g_input) : -1;
  g_facts[kStoredCount] = stated;
  g_facts[kBytesNeeded] = static_cast<std::int64_t>(BlockDataFileSize(stated));
  MqoResult result = MqoResultOfRead(read);
  // The map holds its own copy of the records: the file's bytes can go.
  std::free(g_input);
  g_input = nullptr;
  if (result == MqoResult::Ok && !g_chunk) {
    g_chunk = static_cast<char*>(std::malloc(kMqoWriteChunk));
    if (!g_chunk) result = MqoResult::OutOfMemory;
  }
  if (result != MqoResult::Ok) ReleaseBlockData(&g_map);
  return MqoResultMessage(result);
}

// The read's outcome (ReadResult), the file's size, the block count it
// states (-1 when too short to hold one) and the bytes that count needs.
BRIDGE_EXPORT(bm_fact) double bm_fact(int i) {
  return i >= 0 && i < kFactCount ? static_cast<double>(g_facts[i]) : 0;
}

BRIDGE_EXPORT(bm_block_count) int bm_block_count() { return g_map.count; }

// Texture name i of the open map, NUL-terminated, as the file has it.
BRIDGE_EXPORT(bm_texture_name) const char* bm_texture_name(int i) {
  return i >= 0 && i < kTextureNameCount ? g_map.textureNames[i] : "";
}

// The command-line program's warning i (an MqoWarning) about the open map,
// in the core's words, NUL-terminated; 0 when the map gives no cause for it.
BRIDGE_EXPORT(bm_warning) const char* bm_warning(int i) {
  static char line[kMqoWarningMax + 1];
  if (i < 0 || i >= kMqoWarningKinds) return nullptr;
  std::size_t n = FormatMqoWarning(CountMqoHazards(g_map), static_cast<MqoWarning>(i), line);
  line[n] = '\0';
  return n ? line : nullptr;
}

// The next piece of the document, whole lines, into the buffer bm_chunk points
// at; returns its length, 0 once the document is complete.
BRIDGE_EXPORT(bm_next) std::size_t bm_next() {
  return MqoDocumentNext(g_map, &g_cursor, g_chunk, kMqoWriteChunk);
}

BRIDGE_EXPORT(bm_chunk) const char* bm_chunk() { return g_chunk; }

// Starts one of the mesh's files (a MeshFormat), with the options that
// blockmqo-cli --optimize gives it. Returns 0, or the failure's text.
BRIDGE_EXPORT(bm_mesh_begin) const char* bm_mesh_begin(int format) {
  ReleaseMesh(&g_mesh);
  auto f = static_cast<MeshFormat>(format);
  if (BuildMesh(g_map, f, MeshOptions{.removeHiddenFaces = true, .shareVertices = true}, &g_mesh) != MeshResult::Ok)
    return MqoResultMessage(MqoResult::OutOfMemory);
  g_meshDoc = MeshDocument{&g_map, &g_mesh, f, g_mtlName, g_images};
  std::memset(&g_meshCursor, 0, sizeof g_meshCursor);  // 24 KB: no copy through the stack
  return nullptr;
}

// The command-line program's warning i (a MeshWarning) about the OBJ or glb
// file begun by bm_mesh_begin, like bm_warning. (The optimised document's
// warnings are the document's, and an MTL holds no blocks to warn of.)
BRIDGE_EXPORT(bm_mesh_warning) const char* bm_mesh_warning(int i) {
  static char line[kMeshWarningMax + 1];
  if (i < 0 || i >= kMeshWarningKinds || g_meshDoc.format == MeshFormat::Mqo ||
      g_meshDoc.format == MeshFormat::Mtl)
    return nullptr;
  std::size_t n = FormatMeshWarning(g_meshDoc, static_cast<MeshWarning>(i), line);
  line[n] = '\0';
  return n ? line : nullptr;
}

// Room for the names of `count` image files (at most 256), `bytes` bytes in
// all with a NUL after each, which the page writes there for bm_pick_texture.
// Returns 0 when the memory cannot be had.
BRIDGE_EXPORT(bm_file_names) char* bm_file_names(int count, std::size_t bytes) {
  std::free(g_fileNames);
  g_fileCount = 0;
  for (MeshImage& image : g_images) image.path = nullptr;  // they pointed into the names
  g_fileNames = static_cast<char*>(std::calloc(bytes + 1, 1));
  if (g_fileNames && count >= 0 && count <= 256) g_fileCount = count;
  return g_fileNames;
}

// Which of the files named texture name t resolves to (PickTextureFile), or
// -1; the MTL then names that file, as if beside the OBJ.
BRIDGE_EXPORT(bm_pick_texture) int bm_pick_texture(int t) {
  if (t < 0 || t >= kTextureNameCount || !g_fileNames) return -1;
  const char* name = g_fileNames;
  for (int i = 0; i < g_fileCount; name += g_files[i++].size + 1) g_files[i] = {name, std::strlen(name)};
  const char* texture = g_map.textureNames[t];
  const int picked = PickTextureFile({texture, std::strlen(texture)}, g_files, g_fileCount);
  g_images[t].path = picked >= 0 ? g_files[picked].bytes : nullptr;
  return picked;
}

// Texture name t's image, from the `size` bytes given to bm_input (after
// bm_open): made a PNG or JPEG for the glb, or refused. Returns an
// ImageResult. With `same`, a texture name before it whose file it picked too
// shares its image instead, and the bytes are not read.
BRIDGE_EXPORT(bm_image) int bm_image(int t, std::size_t size, int same) {
  if (t < 0 || t >= kTextureNameCount) return static_cast<int>(ImageResult::UnknownFormat);
  ImageResult result = ImageResult::Ok;
  if (same >= 0 && same < t) {
    g_images[t].bytes = g_images[same].bytes, g_images[t].size = g_images[same].size;
    g_images[t].mimeType = g_images[same].mimeType;
  } else {
    ReleaseGltfImage(&g_loaded[t]);
    result = g_input ? MakeGltfImage(g_input, size, &g_loaded[t]) : ImageResult::OutOfMemory;
    if (result == ImageResult::Ok)
      g_images[t].bytes = g_loaded[t].bytes, g_images[t].size = g_loaded[t].size, g_images[t].mimeType = g_loaded[t].mimeType;
  }
  std::free(g_input);
  g_input = nullptr;
  return static_cast<int>(result);
}

// The pixels of the image file given to bm_input, for the view where the
// browser cannot decode the file itself (TGA): 8-bit RGBA rows from the top,
// bm_pixels_width() by bm_pixels_height(), until bm_close; 0 when refused.
BRIDGE_EXPORT(bm_pixels) unsigned char* bm_pixels(std::size_t size) {
  ReleaseAll();
  const ImageResult result = g_input ? DecodeImage(g_input, size, &g_pixels) : ImageResult::OutOfMemory;
  std::free(g_input);
  g_input = nullptr;
  return result == ImageResult::Ok ? g_pixels.rgba : nullptr;
}
BRIDGE_EXPORT(bm_pixels_width) int bm_pixels_width() { return g_pixels.width; }
BRIDGE_EXPORT(bm_pixels_height) int bm_pixels_height() { return g_pixels.height; }

// Where the page writes, NUL-terminated, the name of the MTL file that an OBJ
// names in its mtllib line, before bm_mesh_begin.
BRIDGE_EXPORT(bm_mtl_name) char* bm_mtl_name() { return g_mtlName; }

// The next piece of the file begun by bm_mesh_begin, into bm_chunk's buffer.
BRIDGE_EXPORT(bm_mesh_next) std::size_t bm_mesh_next() {
  return MeshDocumentNext(g_meshDoc, &g_meshCursor, g_chunk, kMqoWriteChunk);
}

// The map's mesh laid out for drawing, as the OBJ holds it, one allocation: a
// header of 2 + 11 uint32 (faces drawn, blocks left out, faces per class:
// texture 0..9, then any other), six floats (the corners' least x, y, z, then
// their greatest), then for each face in class order its four corners'
// positions (float x, y, z), then their texture coordinates (float u, v).
// Face f's corners are drawn as 4f..4f+3. Returns 0 when out of memory.
BRIDGE_EXPORT(bm_view) std::uint32_t* bm_view() {
  std::free(g_view);
  g_view = nullptr;
  ReleaseMesh(&g_mesh);
  // three.js cannot bound or draw Inf and NaN; BuildMesh groups the faces.
  if (BuildMesh(g_map, MeshFormat::Obj, MeshOptions{}, &g_mesh) != MeshResult::Ok) return nullptr;
  const std::uint32_t n = g_mesh.faceCount;
  const std::size_t header = 2 + kMeshGroups + 6;
  g_view = std::malloc(4 * (header + std::size_t{n} * (12 + 8)));
  if (!g_view) return nullptr;
  auto* head = static_cast<std::uint32_t*>(g_view);
  float* position = reinterpret_cast<float*>(head + header);
  float* uv = position + std::size_t{n} * 12;
  head[0] = n;
  head[1] = static_cast<std::uint32_t>(g_mesh.droppedBlocks);
  std::memcpy(head + 2, g_mesh.groupFaceCount, sizeof g_mesh.groupFaceCount);
  std::memcpy(head + 2 + kMeshGroups, g_mesh.min, sizeof g_mesh.min);
  std::memcpy(head + 2 + kMeshGroups + 3, g_mesh.max, sizeof g_mesh.max);
  for (std::uint32_t f = 0; f < n; ++f) {
    const MeshFace& face = g_mesh.faces[f];
    for (int k = 0; k < 4; ++k, position += 3, uv += 2) {
      std::memcpy(position, &g_mesh.vertices[face.corner[k]], 12);
      uv[0] = face.u[k], uv[1] = face.v[k];
    }
  }
  ReleaseMesh(&g_mesh);
  return head;
}

BRIDGE_EXPORT(bm_close) void bm_close() { ReleaseAll(); }

// What the page lays its calls and words out by, named here so that it copies
// no number: the counts of texture names, view classes and warning kinds, the
// most blocks a map holds, and the names of the read's outcomes, of the facts
// and of the mesh's formats.
// Each *_name function gives 0 past its last value.
BRIDGE_EXPORT(bm_texture_name_count) int bm_texture_name_count() { return kTextureNameCount; }
BRIDGE_EXPORT(bm_view_classes) int bm_view_classes() { return kMeshGroups; }
BRIDGE_EXPORT(bm_warning_kinds) int bm_warning_kinds() { return kMqoWarningKinds; }
BRIDGE_EXPORT(bm_mesh_warning_kinds) int bm_mesh_warning_kinds() { return kMeshWarningKinds; }
BRIDGE_EXPORT(bm_max_block_count) int bm_max_block_count() { return kMaxBlockCount; }

BRIDGE_EXPORT(bm_read_result_name) const char* bm_read_result_name(int i) {
  switch (static_cast<ReadResult>(i)) {
    case ReadResult::Ok: return "ok";
    case ReadResult::OpenFailed: return "open-failed";
    case ReadResult::Truncated: return "truncated";
    case ReadResult::NegativeCount: return "negative-count";
    case ReadResult::OutOfMemory: return "out-of-memory";
  }
  return nullptr;
}

BRIDGE_EXPORT(bm_fact_name) const char* bm_fact_name(int i) {
  static const char* const kNames[kFactCount] = {"result", "size", "count", "needed"};
  return i >= 0 && i < kFactCount ? kNames[i] : nullptr;
}

BRIDGE_EXPORT(bm_mesh_format_name) const char* bm_mesh_format_name(int i) {
  switch (static_cast<MeshFormat>(i)) {
    case MeshFormat::Mqo: return "optimized";
    case MeshFormat::Obj: return "obj";
    case MeshFormat::Mtl: return "mtl";
    case MeshFormat::Glb: return "glb";
  }
  return nullptr;
}

// A file the browser could not read (moved, deleted or changed since it was
// chosen): the facts and the text of a file that cannot be opened.
BRIDGE_EXPORT(bm_unreadable) const char* bm_unreadable() {
  ReleaseAll();
  g_facts[kReadResult] = static_cast<int>(ReadResult::OpenFailed);
  g_facts[kFileSize] = g_facts[kBytesNeeded] = 0;
  g_facts[kStoredCount] = -1;
  return MqoResultMessage(MqoResultOfRead(ReadResult::OpenFailed));
}
