#include "blockdata/blockdata.h"

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

// Records are taken from the file as they are, so the host must share its byte order.
static_assert(std::endian::native == std::endian::little);

namespace {

// Names are copied up to their NUL; a field without one is taken whole, so a
// name is at most 31 bytes and always terminated in memory.
void CopyNames(const unsigned char* header, BlockData* data) {
  for (int i = 0; i < kTextureNameCount; ++i) {
    const unsigned char* field = header + i * kTextureNameField;
    const void* nul = std::memchr(field, 0, kTextureNameField);
    std::size_t length = nul ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - field)
                             : static_cast<std::size_t>(kTextureNameField);
    std::memcpy(data->textureNames[i], field, length);
    data->textureNames[i][length] = '\0';
  }
}

// Parses the 312-byte header into `data` (names and count, no blocks yet).
ReadResult ReadHeader(const unsigned char* header, BlockData* data) {
  CopyNames(header, data);
  const int count = StoredBlockCount(header);
  if (count < 0) return ReadResult::NegativeCount;
  data->count = count;
  return ReadResult::Ok;
}

ReadResult AllocateBlocks(BlockData* data) {
  if (data->count == 0) return ReadResult::Ok;
  void* array = std::malloc(static_cast<std::size_t>(data->count) * sizeof(BlockRecord));
  if (!array) return ReadResult::OutOfMemory;
  data->blocks = static_cast<BlockRecord*>(array);
  PrepareToFill(array, static_cast<std::size_t>(data->count) * sizeof(BlockRecord));
  return ReadResult::Ok;
}

void Clear(BlockData* data) { std::memset(data, 0, sizeof *data); }

}  // namespace

ReadResult ReadBlockDataFile(const char* path, BlockData* data) {
  Clear(data);
  std::FILE* file = std::fopen(path, "rb");
  if (!file) return ReadResult::OpenFailed;

  unsigned char header[kBlockDataHeaderSize];
  ReadResult result = ReadResult::Truncated;
  if (std::fread(header, 1, sizeof header, file) == sizeof header) {
    result = ReadHeader(header, data);
    if (result == ReadResult::Ok) result = AllocateBlocks(data);
    if (result == ReadResult::Ok && data->count > 0) {
      auto count = static_cast<std::size_t>(data->count);
      if (std::fread(data->blocks, sizeof(BlockRecord), count, file) != count)
        result = ReadResult::Truncated;
    }
  }
  std::fclose(file);
  if (result != ReadResult::Ok) ReleaseBlockData(data);
  return result;
}

ReadResult ReadBlockDataBytes(const void* bytes, std::size_t size, BlockData* data) {
  Clear(data);
  const auto* in = static_cast<const unsigned char*>(bytes);
  if (size < kBlockDataHeaderSize) return ReadResult::Truncated;
  ReadResult result = ReadHeader(in, data);
  if (result != ReadResult::Ok) {
    Clear(data);
    return result;
  }
  std::size_t body = static_cast<std::size_t>(data->count) * sizeof(BlockRecord);
  if (size - kBlockDataHeaderSize < body) {
    Clear(data);
    return ReadResult::Truncated;
  }
  result = AllocateBlocks(data);
  if (result != ReadResult::Ok) {
    Clear(data);
    return result;
  }
  if (body) std::memcpy(data->blocks, in + kBlockDataHeaderSize, body);
  return ReadResult::Ok;
}

int StoredBlockCount(const unsigned char* header) {
  return static_cast<std::int16_t>(header[310] | (header[311] << 8));
}

void PrepareToFill(void* block, std::size_t bytes) {
#if defined(__linux__)
  const auto at = reinterpret_cast<std::uintptr_t>(block);
#if defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  const std::uintptr_t start = (at + kHuge - 1) & ~(kHuge - 1), end = (at + bytes) & ~(kHuge - 1);
  if (end > start) (void)madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#endif
#if defined(MADV_POPULATE_WRITE)
  // Since Linux 5.14; an older one says EINVAL, and nothing changes.
  static const auto kPage = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const std::uintptr_t first = (at + kPage - 1) & ~(kPage - 1), last = (at + bytes) & ~(kPage - 1);
  if (last > first) (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#endif
#else
  (void)block, (void)bytes;
#endif
}

void ReleaseBlockData(BlockData* data) {
  std::free(data->blocks);
  Clear(data);
}
