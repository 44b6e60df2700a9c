// Fuzz target: any bytes as a block data file. Both readers give the verdict
// the layout alone implies and hold nothing after a failure; an accepted map's
// document, written in pieces of a size varied with the input, each into a
// buffer of exactly that size (an overrun is AddressSanitizer's to catch),
// equals the reference document composed from the bytes; then its mesh is
// checked (fuzz_mesh.cpp).
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "blockdata/blockdata.h"
#include "tests/support/reference_document.h"

void CheckMesh(const BlockData& data, std::size_t capacity);

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

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
      if (&data == read) CheckMesh(data, capacity);
    } else {
      Check(data.count == 0 && data.blocks == nullptr && data.textureNames[0][0] == '\0', "held after a failure");
    }
    ReleaseBlockData(&data);
  }
  return 0;
}
