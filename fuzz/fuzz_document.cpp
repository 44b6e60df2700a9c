// Fuzz target: any bytes as a block data file, through both readers and the
// whole document writer.
//
// Every input must give either the reader's verdict that an independent
// reading of the layout predicts, or a document equal to one composed here the
// slow way (printf for integers, the exact number path for every real, line
// feeds turned into CR LF at the end). The writer runs into a heap buffer of
// exactly the capacity it is given, so a line that overruns it is caught by
// AddressSanitizer rather than by luck.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "blockdata/blockdata.h"
#include "mqo/mqo.h"
#include "numtext/numtext.h"
#include "numtext/numtext_internal.h"

namespace {

[[noreturn]] void Fail(const char* what, std::size_t at = 0) {
  std::fprintf(stderr, "fuzz check failed: %s (at %zu)\n", what, at);
  std::abort();
}

void Check(bool ok, const char* what, std::size_t at = 0) {
  if (!ok) Fail(what, at);
}

// The verdict the layout alone implies: names, a signed 16-bit count, then
// count records of 316 bytes; anything after them is ignored.
ReadResult ExpectedVerdict(const std::uint8_t* bytes, std::size_t size) {
  if (size < 312) return ReadResult::Truncated;
  int count = static_cast<std::int16_t>(bytes[310] | bytes[311] << 8);
  if (count < 0) return ReadResult::NegativeCount;
  if (size - 312 < static_cast<std::size_t>(count) * 316) return ReadResult::Truncated;
  return ReadResult::Ok;
}

void CheckLoaded(const std::uint8_t* bytes, const BlockData& data) {
  for (int i = 0; i < kTextureNameCount; ++i) {
    const char* field = reinterpret_cast<const char*>(bytes) + 31 * i;
    std::size_t length = strnlen(field, 31);
    Check(std::strlen(data.textureNames[i]) == length, "name length");
    Check(std::memcmp(data.textureNames[i], field, length) == 0, "name bytes");
  }
  std::size_t body = static_cast<std::size_t>(data.count) * 316;
  Check(data.count == static_cast<std::int16_t>(bytes[310] | bytes[311] << 8), "count");
  Check(body == 0 || std::memcmp(data.blocks, bytes + 312, body) == 0, "block bytes");
}

bool Empty(const BlockData& data) {
  return data.count == 0 && data.blocks == nullptr && data.textureNames[0][0] == '\0';
}

// The file reader, through a memory file, must agree with the bytes reader.
void CheckFileReader(const std::uint8_t* bytes, std::size_t size, ReadResult expected) {
  static int fd = -1;
  if (fd < 0) fd = memfd_create("bd1", 0);
  if (fd < 0) return;  // no memory files here; the bytes reader is still checked
  Check(ftruncate(fd, 0) == 0 && pwrite(fd, bytes, size, 0) == static_cast<ssize_t>(size),
        "memory file");
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  BlockData data;
  Check(ReadBlockDataFile(path, &data) == expected, "file reader verdict");
  if (expected == ReadResult::Ok) CheckLoaded(bytes, data);
  else Check(Empty(data), "file reader holds nothing after a failure");
  ReleaseBlockData(&data);
}

void Number(std::string* s, float value, int decimals, bool negate = false) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  if (negate) bits ^= 0x80000000u;
  char text[FormatFixedBufferSize(5)];
  *s += std::string(text, FormatFixedExact(WidenFloatBits(bits), decimals, text));
}

std::string ReferenceDocument(const BlockData& data) {
  static const int kCorners[6][4] = {{0, 1, 2, 3}, {7, 6, 5, 4}, {4, 5, 1, 0},
                                     {5, 6, 2, 1}, {6, 7, 3, 2}, {7, 4, 0, 3}};
  std::string s = "Metasequoia Document\nFormat Text Ver 1.0\n\nMaterial 10 {\n";
  for (const char* name : data.textureNames) {
    s += std::string("\t\"") + (*name ? name : "empty") +
         "\" shader(3) col(1.000 1.000 1.000 1.000) dif(0.900) amb(0.400) emi(0.100) "
         "spc(0.000) power(5.00) tex(\"" + name + "\")\n";
  }
  s += "}\n\nObject \"map\" {\n\tvisible 15\n\tlocking 0\n\tshading 1\n\tfacet 0\n"
       "\tcolor 0.898 0.498 0.698\n\tcolor_type 0\n";
  char line[128];
  std::snprintf(line, sizeof line, "\tvertex %d {\n", 8 * data.count);
  s += line;
  for (int b = 0; b < data.count; ++b) {
    const BlockRecord& r = data.blocks[b];
    for (int c = 0; c < 8; ++c) {
      s += "\t\t";
      Number(&s, r.vx[c], 4, true);
      s += ' ';
      Number(&s, r.vy[c], 4);
      s += ' ';
      Number(&s, r.vz[c], 4);
      s += '\n';
    }
  }
  std::snprintf(line, sizeof line, "\t}\n\tface %d {\n", 6 * data.count);
  s += line;
  for (int b = 0; b < data.count; ++b) {
    const BlockRecord& r = data.blocks[b];
    for (int f = 0; f < 6; ++f) {
      const int* t = kCorners[f];
      std::snprintf(line, sizeof line, "\t\t4 V(%d %d %d %d) M(%d) UV(", 8 * b + t[3],
                    8 * b + t[2], 8 * b + t[1], 8 * b + t[0], r.textureIndex[f]);
      s += line;
      for (int k = 0; k < 4; ++k) {
        Number(&s, r.u[f][k], 5);
        s += ' ';
        Number(&s, r.v[f][k], 5);
        s += k < 3 ? ' ' : ')';
      }
      s += '\n';
    }
  }
  s += "\t}\n}\n\nEof";
  std::string crlf;
  for (char ch : s) {
    if (ch == '\n') crlf += '\r';
    crlf += ch;
  }
  return crlf;
}

// The writer's own output, in pieces of at most `capacity` bytes that each end
// on a whole line (the last one on "Eof").
std::string WrittenDocument(const BlockData& data, std::size_t capacity) {
  std::unique_ptr<char[]> buffer(new char[capacity]);
  MqoCursor cursor{};
  std::string doc;
  while (std::size_t n = MqoDocumentNext(data, &cursor, buffer.get(), capacity)) {
    Check(n <= capacity, "piece larger than the buffer", n);
    doc.append(buffer.get(), n);
    bool wholeLines = doc.back() == '\n' || doc.compare(doc.size() - 3, 3, "Eof") == 0;
    Check(wholeLines, "piece ends inside a line", doc.size());
  }
  Check(MqoDocumentNext(data, &cursor, buffer.get(), capacity) == 0, "writer restarts after the end");
  return doc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  ReadResult expected = ExpectedVerdict(bytes, size);
  CheckFileReader(bytes, size, expected);

  BlockData data;
  ReadResult result = ReadBlockDataBytes(bytes, size, &data);
  Check(result == expected, "bytes reader verdict");
  if (result != ReadResult::Ok) {
    Check(Empty(data), "bytes reader holds nothing after a failure");
    return 0;
  }
  CheckLoaded(bytes, data);

  // Vary the buffer with the input so the fuzzer meets every cut point.
  std::size_t capacity = kMqoMinChunk + (size * 131 + bytes[size - 1]) % 2048;
  std::string written = WrittenDocument(data, capacity);
  std::string reference = ReferenceDocument(data);
  if (written != reference) {
    std::size_t at = 0;
    while (at < written.size() && at < reference.size() && written[at] == reference[at]) ++at;
    Fail("document differs from the reference", at);
  }
  ReleaseBlockData(&data);
  return 0;
}
