// The job's own: replacing a target only when its new contents are
// complete, and reading the map, with the system's reason whenever a file
// step fails.
//
// OpenOutput checks the target can be written (so an unwritable target is
// reported before anything is written) and opens a new temporary file beside
// it. CommitOutput flushes, closes and renames it over the target;
// AbandonOutput closes and removes it, leaving the target as it was. A target
// that exists but is not a regular file is written in place instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "job/job.h"

constexpr std::size_t kOutputPathMax = kJobPathMax;

enum class OutputStatus { Ok, OpenFailed, WriteFailed };
struct OutputResult {
  OutputStatus status;
  SystemError cause;  // 0 when Ok
};

struct BlockWriter;

struct OutputFile {
  std::FILE* stream;
  bool inPlace;
  // Written in whole blocks, past the system's cache, while the caller goes
  // on (Linux, a new temporary file); null when written through the cache.
  BlockWriter* blocks;
  unsigned long long written;      // bytes handed to the stream so far
  unsigned long long flushedFrom;  // where the next early write-back starts
  bool created;                    // written in place to a file we created: removed on failure
  char target[kOutputPathMax];  // the file that is finally replaced
  char temp[kOutputPathMax];    // written first, renamed over target
};

OutputResult OpenOutput(const char* path, OutputFile* file, bool inBlocks);
OutputResult WriteOutput(OutputFile* file, const char* bytes, std::size_t size);

// A new file on Linux is written straight to the disk, past the system's
// cache: it is flushed to disk before it replaces the target anyway, and
// copying a document into the cache first costs the system about as much
// CPU as making it. Such a file (OutputFile::blocks) takes whole blocks of
// kOutputBlock bytes from memory aligned to them, and is written while the
// caller makes the next piece: WriteOutput may return before the
// bytes are written, which leaves `bytes` the file's until kOutputQueue - 1
// more calls on it have returned, so the caller makes its pieces in that
// many buffers by turns, and asks for it (OpenOutput's `inBlocks`) only
// when it can. Any other write (a part of a block, unaligned
// memory) waits for those before it and goes through the cache, as the rest
// of the file then does.
constexpr std::size_t kOutputBlock = 4096;
constexpr std::size_t kOutputQueue = 2;
OutputResult CommitOutput(OutputFile* file);
void AbandonOutput(OutputFile* file);

// ReadBlockDataFile, and the system's reason when it fails to open or read
// the file (0 for a file that is only too short, or a negative count).
ReadResult ReadBlockDataFileWithCause(const char* path, BlockData* data, SystemError* cause);

// A whole stream's bytes, malloc'd (the caller frees them, on failure too);
// false with the system's reason, or 0 when memory ran out.
bool ReadWholeStream(std::FILE* stream, unsigned char** bytes, std::size_t* size, SystemError* cause);

// All of standard input, as ReadBlockDataBytes reads it; `*size` is its length.
ReadResult ReadStandardInput(BlockData* data, SystemError* cause, std::uint64_t* size);

// The size of the file at `path` when it is a regular file, else false.
bool RegularFileSize(const char* path, std::uint64_t* size);

// Standard output, in binary; false with the system's reason on failure.
bool WriteStandardOutput(const char* bytes, std::size_t size, SystemError* cause);
bool FlushStandardOutput(SystemError* cause);

// The images a job hands its writer: each texture name's, as the writer takes
// it, and what they point into.
struct JobImageFiles {
  MeshImage image[kTextureNameCount];
  GltfImage loaded[kTextureNameCount];  // each file's, under the first name that picked it
  char path[kTextureNameCount][kJobPathMax];  // as an OBJ's MTL names them
};

// Decides report->image for every texture name and loads what the format
// uses: the OBJ's MTL names the files, the glb holds their images.
void PickImages(const Job& job, const BlockData& data, const Mesh& mesh, JobImageFiles* files, JobReport* report);

// ---- The job's steps, shared by the plain document's job and the mesh's.

constexpr JobOutcome kJobDone{JobResult::Ok, JobFile::None, 0};

// The buffer every piece is written into (size 0: none could be taken),
// aligned to kOutputBlock; `block` is what std::free releases.
struct JobChunk {
  char* bytes;
  std::size_t size;
  void* block;
};
JobChunk TakeJobChunk(const Job& job);

// What one file is written from: `next` fills at most `capacity` bytes, 0 at
// the end (a writer's Next function with its cursor).
struct JobPieces {
  std::size_t (*next)(void* state, char* out, std::size_t capacity);
  void* state;
};

// Reads the map and clears and fills the report's facts of the map: its
// counts, names, hazards, and the warnings the map alone decides.
JobOutcome ReadJobInput(const Job& job, BlockData* data, JobReport* report);

// The job's files to its target: the document, and an OBJ's MTL first when
// `mtl` is given (at `mtlPath` for a path target).
JobOutcome WriteJobFiles(const Job& job, JobChunk chunk, JobPieces document, const JobPieces* mtl,
                         const char* mtlPath);

// The whole job for the plain document (no options).
JobOutcome RunDocumentJob(const Job& job, JobReport* report);
