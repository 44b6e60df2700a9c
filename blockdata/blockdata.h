// The block data file (*.bd1): ten texture names and up to 32767 blocks.
//
// Layout, little-endian, no header or padding:
//   0    10 x 31 bytes  texture names, NUL-terminated (a field with no NUL
//                       is taken as all 31 bytes)
//   310  int16          block count
//   312  count x 316    BlockRecord, one after another; trailing bytes ignored
//
// ReadBlockDataFile loads a whole file, taking every field bit for bit. It
// never writes to the file and closes it before returning. On success the
// caller owns data->blocks and frees it with ReleaseBlockData; on failure
// nothing is held.
#pragma once

#include <cstddef>
#include <cstdint>

struct BlockRecord {
  float vx[8];           // first coordinate of corners 0..7
  float vy[8];           // second coordinate
  float vz[8];           // third coordinate
  float u[6][4];         // face-major texture coordinates: u[face][slot]
  float v[6][4];
  std::int32_t textureIndex[6];
  std::uint32_t trailingWord;  // kept with the record, never read
};
static_assert(sizeof(BlockRecord) == 316, "a record is 79 words on disk");

// Corner numbers of each face, a row a face: corners 0..3 are one side (face
// 0), c + 4 lies across from c (face 1), faces 2..5 the four sides between.
// The document lists each row in reverse. Known at compile time, so that
// loops over a face's corners become fixed offsets.
inline constexpr std::int8_t FaceCornerTable[6][4] = {
    {0, 1, 2, 3}, {7, 6, 5, 4}, {4, 5, 1, 0}, {5, 6, 2, 1}, {6, 7, 3, 2}, {7, 4, 0, 3},
};

constexpr int kTextureNameCount = 10;
constexpr int kTextureNameField = 31;
constexpr std::size_t kBlockDataHeaderSize = 312;
constexpr int kMaxBlockCount = 32767;

struct BlockData {
  char textureNames[kTextureNameCount][kTextureNameField + 1];  // NUL-terminated
  int count;             // 0..32767
  BlockRecord* blocks;   // count records, one allocation, file order
};

enum class ReadResult {
  Ok,
  OpenFailed,     // missing, unreadable, locked, or a bad path
  Truncated,      // shorter than 312 + 316 x count bytes, or a read error
  NegativeCount,  // stored count 0x8000..0xFFFF
  OutOfMemory,    // the block array could not be allocated
};

ReadResult ReadBlockDataFile(const char* path, BlockData* data);

// The same from bytes already in memory (tests, fuzzing).
ReadResult ReadBlockDataBytes(const void* bytes, std::size_t size, BlockData* data);

void ReleaseBlockData(BlockData* data);

// Asks for the cache line `offset` bytes into the record eight after `block`,
// for a pass over the block array that reads records one by one: such passes
// do enough for each record that the machine's own prefetching falls behind,
// and they waited on the records (a few percent of the plain conversion's
// CPU). Only a hint, never read, so the record may lie past the array; the
// address is made as a number, so that no pointer leaves it.
inline void PrefetchBlockAhead(const BlockRecord& block, std::uint32_t offset) {
  constexpr std::uintptr_t kAhead = 8 * sizeof(BlockRecord);
  __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(&block) + kAhead + offset));
}
// Every cache line of the record eight after `block`.
inline void PrefetchBlockAhead(const BlockRecord& block) {
  for (std::uint32_t offset = 0; offset < sizeof(BlockRecord); offset += 64) PrefetchBlockAhead(block, offset);
}

// Readies a large block just allocated (the block array, a mesh's arrays),
// all of which is about to be written, on Linux: asks for transparent huge
// pages for the whole 2 MiB pages inside it, then has the system map in all
// its pages at once. Each page mapped in on first touch is a trap, and on a
// virtual machine a costly one; mapped in ahead, the memory is the same and
// its contents too. Advice only: where the system declines, the pages come
// on first touch as before. Does nothing on other systems.
void PrepareToFill(void* block, std::size_t bytes);

// The block count a file's 312-byte header states, as the signed 16-bit
// number it is stored as (the readers refuse a negative one), and the size of
// a file that holds `count` blocks: what a front end explains a failed read by.
int StoredBlockCount(const unsigned char* header);
constexpr std::size_t BlockDataFileSize(int count) {
  return kBlockDataHeaderSize + (count > 0 ? static_cast<std::size_t>(count) * sizeof(BlockRecord) : 0);
}
