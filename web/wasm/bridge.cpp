// The page's way into the converter: a few plain C functions over one loaded
// map, exported from the WebAssembly module. The page copies a file's bytes in,
// opens them, pulls the document out a chunk at a time and closes the map.
// Nothing here touches a file system, so the module needs no WASI calls.
#include <cstdlib>

#include "blockdata/blockdata.h"
#include "mqo/mqo.h"

#define BRIDGE_EXPORT(name) extern "C" __attribute__((export_name(#name)))

namespace {

BlockData g_map;
MqoCursor g_cursor;
unsigned char* g_input;
char* g_chunk;

}  // namespace

// Room for a file of `size` bytes; the page writes the file there, then calls
// bm_open. Returns 0 when the memory cannot be had.
BRIDGE_EXPORT(bm_input) unsigned char* bm_input(std::size_t size) {
  std::free(g_input);
  g_input = static_cast<unsigned char*>(std::malloc(size ? size : 1));
  return g_input;
}

// Reads the bytes given to bm_input as a block data file. Returns 0 on success,
// otherwise the failure's text, the one the desktop program shows.
BRIDGE_EXPORT(bm_open) const char* bm_open(std::size_t size) {
  ReleaseBlockData(&g_map);
  g_cursor = MqoCursor{};
  MqoResult result = g_input ? MqoResultOfRead(ReadBlockDataBytes(g_input, size, &g_map))
                             : MqoResult::OutOfMemory;
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

BRIDGE_EXPORT(bm_block_count) int bm_block_count() { return g_map.count; }

// Texture name i of the open map, NUL-terminated, as the file has it.
BRIDGE_EXPORT(bm_texture_name) const char* bm_texture_name(int i) {
  return i >= 0 && i < kTextureNameCount ? g_map.textureNames[i] : "";
}

// The next piece of the document, whole lines, into the buffer bm_chunk points
// at; returns its length, 0 once the document is complete.
BRIDGE_EXPORT(bm_next) std::size_t bm_next() {
  return MqoDocumentNext(g_map, &g_cursor, g_chunk, kMqoWriteChunk);
}

BRIDGE_EXPORT(bm_chunk) const char* bm_chunk() { return g_chunk; }

BRIDGE_EXPORT(bm_close) void bm_close() { ReleaseBlockData(&g_map); }
