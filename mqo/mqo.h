// Block data to Metasequoia text document: the document writer, and what a
// map holds that some readers of it reject. No files: the conversion job
// (job/job.h) reads maps and writes files.
//
// MqoDocumentNext produces the document bytes (CR LF line ends included)
// into a caller's buffer, whole lines at a time, and does no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "blockdata/blockdata.h"

// What some readers of the document reject or misread, though the document
// says exactly what the map holds. Nothing is changed for them; the counts
// let a caller warn.
struct MqoHazards {
  int texturesOutOfRange;  // faces whose texture number is outside 0..9
  int nonFiniteNumbers;    // coordinates and texture coordinates, Inf or NaN
  int unsafeNames;         // texture names holding " CR LF { } ( or )
};

MqoHazards CountMqoHazards(const BlockData& data);

// The warning for one kind of hazard, as the front ends show it: "12 faces
// use texture numbers outside 0-9, which some readers reject". Writes at most
// kMqoWarningMax bytes and no NUL; returns 0 when the map has none of `kind`.
enum class MqoWarning { TexturesOutOfRange, NonFiniteNumbers, UnsafeNames };
constexpr int kMqoWarningKinds = 3;
constexpr std::size_t kMqoWarningMax = 256;
std::size_t FormatMqoWarning(const MqoHazards& hazards, MqoWarning kind, char* out);
// The shape of every warning, the mesh's too: the count, a space, then `one`
// or `many` by the count; 0 bytes when the count is 0.
std::size_t FormatCountedWarning(std::uint32_t count, const char* one, const char* many, char* out);

// The document writer. Start with a zeroed cursor and call MqoDocumentNext
// until it returns 0. Each call fills at most `capacity` bytes with whole
// lines; `capacity` must be at least kMqoMinChunk.
struct MqoCursor {
  int section;  // which part of the document comes next
  int index;    // position within that part (line number)
};
constexpr std::size_t kMqoMinChunk = 1024;

// The conversion writes the document in pieces made in a buffer of this
// size, or in two parts of it by turns where one is written while the other
// is filled from a small staging area at its end. Every write is a system
// call, and on some machines a dear one, so they are large; the buffer is
// held on the heap, within the megabyte over the block array that a
// conversion allows itself.
constexpr std::size_t kMqoWriteChunk = 944 * 1024;

std::size_t MqoDocumentNext(const BlockData& data, MqoCursor* cursor, char* out,
                            std::size_t capacity);

// Corner c (0..7) of a block in the document's coordinates, as bits: the
// map's first axis is mirrored by its sign bit, which keeps NaN payloads;
// every float is moved as bytes, never through a float register. The
// document writes these, and the mesh's formats hold them.
inline void DocumentCornerBits(const BlockRecord& block, std::uint32_t c, std::uint32_t* bits) {
  std::memcpy(&bits[0], &block.vx[c], 4), std::memcpy(&bits[1], &block.vy[c], 4), std::memcpy(&bits[2], &block.vz[c], 4);
  bits[0] ^= 0x80000000u;
}

// What a document holds, for the one writer of documents: the map's own
// corners (8b + c, corner c of block b) and faces (6b + f), all of them or
// some. vertexOf[k] is the kth vertex written (null: every corner in order),
// faceOf[j] the jth face (null: every face in order), and cornerNumber[8b + c]
// the number of the vertex corner c of block b is written as (null: 8b + c).
// Texture numbers are written as they are; with `outOfRangeMaterial`, an
// eleventh material, "texture number outside 0-9", follows the ten, and faces
// whose texture number is outside 0..9 use it.
constexpr int kOutOfRangeMaterial = kTextureNameCount;  // its number: the eleventh
constexpr char kOutOfRangeMaterialName[] = "texture number outside 0-9";
struct MqoSource {
  const BlockData* data;
  const std::uint32_t* vertexOf;
  std::uint32_t vertexCount;
  const std::uint32_t* faceOf;
  std::uint32_t faceCount;
  const std::uint32_t* cornerNumber;
  bool outOfRangeMaterial;
};
std::size_t MqoSourceNext(const MqoSource& source, MqoCursor* cursor, char* out, std::size_t capacity);

// The longest line the writer writes.
constexpr std::size_t kMqoMaxLine = 512;
