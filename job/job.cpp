// The job's reading and writing, and the plain document's whole job. Nothing
// here reaches the mesh or the images, so the desktop programs, which write
// only the document, link neither.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "job/job_internal.h"

namespace {

JobResult ResultOfRead(ReadResult read) {
  switch (read) {
    case ReadResult::Ok: return JobResult::Ok;
    case ReadResult::OpenFailed: return JobResult::InputOpenFailed;
    case ReadResult::Truncated: break;
    case ReadResult::NegativeCount: return JobResult::NegativeCount;
    case ReadResult::OutOfMemory: return JobResult::OutOfMemory;
  }
  return JobResult::InputReadFailed;
}

JobOutcome ToSink(const Job& job, JobChunk chunk, JobFile file, JobPieces pieces) {
  const JobSink& sink = job.output.sink;
  while (std::size_t n = pieces.next(pieces.state, chunk.bytes, chunk.size))
    if (!sink.write(sink.context, file, chunk.bytes, n)) return {JobResult::OutputWriteFailed, file, 0};
  return kJobDone;
}

JobOutcome ToStandardOutput(JobChunk chunk, JobPieces pieces) {
  SystemError cause = 0;
  bool ok = true;
  while (std::size_t n = ok ? pieces.next(pieces.state, chunk.bytes, chunk.size) : 0)
    ok = WriteStandardOutput(chunk.bytes, n, &cause);
  if (ok && FlushStandardOutput(&cause)) return kJobDone;
  return {JobResult::OutputWriteFailed, JobFile::Document, cause};
}

JobOutcome OfOutput(OutputResult result, JobFile file) {
  if (result.status == OutputStatus::Ok) return kJobDone;
  const JobResult failed = result.status == OutputStatus::OpenFailed ? JobResult::OutputOpenFailed
                                                                     : JobResult::OutputWriteFailed;
  return {failed, file, result.cause};
}

// A file written straight to the disk has its pieces made in a small staging
// area at the chunk's end, which stays in the processor's cache, and copied
// into their part with stores that do not fetch the lines first. A part the
// disk has just read may have to be fetched again, line by line, before a
// writer can store into it; on a virtual machine that came and went by the
// minute, and at its worst made the plain document take 1.7 times its CPU,
// and the glb's writer three times its own. Where the lines come back
// cheaply, the copy costs the text writers most often less than a tenth.
constexpr std::size_t kStaging = 64 * 1024;

// Copies `size` bytes: the whole 64-byte lines of `to` with streaming stores
// where SSE2 has them, the rest as usual. FinishCopies orders those stores
// before the part is handed to the disk's thread.
void CopyPastCache(char* to, const char* from, std::size_t size) {
#if defined(__SSE2__)
  const std::size_t head = std::min<std::size_t>((0u - reinterpret_cast<std::uintptr_t>(to)) % 64, size);
  std::memcpy(to, from, head);
  to += head, from += head, size -= head;
  for (; size >= 64; to += 64, from += 64, size -= 64)
    for (int i = 0; i < 4; ++i)
      _mm_stream_si128(reinterpret_cast<__m128i*>(to) + i, _mm_loadu_si128(reinterpret_cast<const __m128i*>(from) + i));
#endif
  std::memcpy(to, from, size);
}
void FinishCopies() {
#if defined(__SSE2__)
  _mm_sfence();
#endif
}

// One file opened and written, not yet in place: the caller commits it, or
// abandons it when another file of the job fails.
JobOutcome Uncommitted(const char* path, JobFile which, JobChunk chunk, JobPieces pieces, OutputFile* file) {
  // A file written in whole blocks is written while the next pieces are
  // made, each of the chunk's parts filled in turn from the staging area
  // after them; the bytes past a part's last whole block go first in the next.
  // Two parts of at least two blocks leave the staging area over 5 KiB.
  const std::size_t staging = std::min(kStaging, chunk.size / 4);
  const std::size_t part = (chunk.size - staging) / kOutputQueue / kOutputBlock * kOutputBlock;
  const bool fits = part >= kMqoMinChunk + kOutputBlock;
  if (JobOutcome opened = OfOutput(OpenOutput(path, file, fits), which); opened.result != JobResult::Ok) return opened;
  const bool blocks = file->blocks != nullptr;
  const std::size_t parts = blocks ? kOutputQueue : 1, room = blocks ? part : chunk.size;
  char* const stage = chunk.bytes + kOutputQueue * part;
  bool more = true;  // the writer has not yet said it is done
  auto fill = [&](char* to, std::size_t capacity) {
    if (!blocks) return pieces.next(pieces.state, to, capacity);
    std::size_t size = 0;
    while (more && capacity - size >= kMqoMinChunk) {
      const std::size_t n = pieces.next(pieces.state, stage, std::min(staging, capacity - size));
      CopyPastCache(to + size, stage, n);
      size += n, more = n != 0;
    }
    FinishCopies();
    return size;
  };
  std::size_t held = 0, turn = 0;
  OutputResult written{OutputStatus::Ok, 0};
  while (std::size_t n = fill(chunk.bytes + turn * part + held, room - held)) {
    char* const bytes = chunk.bytes + turn * part;
    const std::size_t size = held + n, whole = blocks ? size / kOutputBlock * kOutputBlock : size;
    if (whole && (written = WriteOutput(file, bytes, whole)).status != OutputStatus::Ok) break;
    // The next part's write is done by now.
    turn = (turn + 1) % parts;
    held = size - whole;
    std::memmove(chunk.bytes + turn * part, bytes + whole, held);
  }
  if (written.status == OutputStatus::Ok && held) written = WriteOutput(file, chunk.bytes + turn * part, held);
  if (written.status == OutputStatus::Ok) return kJobDone;
  AbandonOutput(file);
  return OfOutput(written, which);
}

// Both files are written before either replaces its target, so a failure
// leaves the old pair as it was, not a new MTL beside an old OBJ.
JobOutcome PairToPath(const Job& job, JobChunk chunk, JobPieces document, const JobPieces* mtl, const char* mtlPath) {
  // Two paths' worth each: on the heap.
  auto* files = static_cast<OutputFile*>(std::malloc(2 * sizeof(OutputFile)));
  if (!files) return {JobResult::OutOfMemory, JobFile::Input, 0};
  OutputFile &mtlFile = files[0], &file = files[1];
  JobOutcome outcome = mtl ? Uncommitted(mtlPath, JobFile::Mtl, chunk, *mtl, &mtlFile) : kJobDone;
  if (outcome.result == JobResult::Ok) {
    outcome = Uncommitted(job.output.path, JobFile::Document, chunk, document, &file);
    if (outcome.result != JobResult::Ok && mtl) AbandonOutput(&mtlFile);
  }
  if (outcome.result == JobResult::Ok && mtl) {
    outcome = OfOutput(CommitOutput(&mtlFile), JobFile::Mtl);
    if (outcome.result != JobResult::Ok) AbandonOutput(&file);
  }
  if (outcome.result == JobResult::Ok) outcome = OfOutput(CommitOutput(&file), JobFile::Document);
  std::free(files);
  return outcome;
}

std::size_t NextDocumentPiece(void* state, char* out, std::size_t capacity) {
  auto* at = static_cast<std::pair<const BlockData*, MqoCursor>*>(state);
  return MqoDocumentNext(*at->first, &at->second, out, capacity);
}

}  // namespace

JobOutcome ReadJobInput(const Job& job, BlockData* data, JobReport* report) {
  SystemError cause = 0;
  ReadResult read = ReadResult::Ok;
  std::uint64_t size = 0;
  bool sized = true;
  switch (job.input.source) {
    case JobSource::Path:
      read = ReadBlockDataFileWithCause(job.input.path, data, &cause);
      // A pipe or a device has no size to compare the blocks with.
      sized = read == ReadResult::Ok && RegularFileSize(job.input.path, &size);
      break;
    case JobSource::StandardInput: read = ReadStandardInput(data, &cause, &size); break;
    case JobSource::Bytes:
      read = ReadBlockDataBytes(job.input.bytes, job.input.size, data);
      size = job.input.size;
      break;
  }
  JobResult result = ResultOfRead(read);
  // A file only too short is no failure of the system's.
  if (result == JobResult::InputReadFailed && cause == 0) result = JobResult::InputTruncated;
  std::memset(report, 0, sizeof *report);
  if (result != JobResult::Ok) return {result, JobFile::Input, cause};
  report->read = true;
  // Only the document prints the map's numbers and names as they are; the
  // mesh formats decide their own losses, and need not read the map for these.
  if (job.format == MeshFormat::Mqo) report->hazards = CountMqoHazards(*data);
  report->blockCount = data->count;
  report->faceCount = 6 * static_cast<std::uint32_t>(data->count);
  report->vertexCount = 8 * static_cast<std::uint32_t>(data->count);
  std::memcpy(report->textureNames, data->textureNames, sizeof report->textureNames);
  // A few bytes after the last block are common and harmless; more than the
  // blocks themselves take suggest the map is not what its count says.
  const std::uint64_t whole = BlockDataFileSize(data->count), blocks = whole - kBlockDataHeaderSize;
  const std::uint64_t after = sized && size > whole ? size - whole : 0;
  report->ignoredBytes = after > blocks ? after : 0;
  std::uint32_t* warning = report->warning;
  warning[static_cast<int>(JobWarning::NoBlocks)] = data->count == 0;
  warning[static_cast<int>(JobWarning::TrailingBytes)] =
      report->ignoredBytes > 0xffffffffu ? 0xffffffffu : static_cast<std::uint32_t>(report->ignoredBytes);
  // The document's hazards; the mesh formats decide their own.
  if (job.format == MeshFormat::Mqo) {
    warning[static_cast<int>(JobWarning::TexturesOutOfRange)] = static_cast<std::uint32_t>(report->hazards.texturesOutOfRange);
    warning[static_cast<int>(JobWarning::NonFiniteNumbers)] = static_cast<std::uint32_t>(report->hazards.nonFiniteNumbers);
    warning[static_cast<int>(JobWarning::UnsafeNames)] = static_cast<std::uint32_t>(report->hazards.unsafeNames);
  }
  return kJobDone;
}

JobChunk TakeJobChunk(const Job& job) {
  const std::size_t size = job.chunk >= kMqoMinChunk ? job.chunk : job.chunk ? kMqoMinChunk : kMqoWriteChunk;
  // Aligned by hand: memory from posix_memalign is not merged again on
  // every C library, and a batch's buffers would fill the address space.
  auto* block = static_cast<char*>(std::malloc(size + kOutputBlock));
  char* bytes = block ? block + (kOutputBlock - reinterpret_cast<std::uintptr_t>(block) % kOutputBlock) : nullptr;
  return {bytes, bytes ? size : 0, block};
}

JobOutcome WriteJobFiles(const Job& job, JobChunk chunk, JobPieces document, const JobPieces* mtl,
                         const char* mtlPath) {
  switch (job.output.target) {
    case JobTarget::Sink: {
      const JobOutcome outcome = mtl ? ToSink(job, chunk, JobFile::Mtl, *mtl) : kJobDone;
      return outcome.result == JobResult::Ok ? ToSink(job, chunk, JobFile::Document, document) : outcome;
    }
    case JobTarget::StandardOutput: return ToStandardOutput(chunk, document);
    case JobTarget::Path: break;
  }
  return PairToPath(job, chunk, document, mtl, mtlPath);
}

JobOutcome RunDocumentJob(const Job& job, JobReport* report) {
  BlockData data{};
  JobOutcome outcome = ReadJobInput(job, &data, report);
  if (outcome.result != JobResult::Ok) return outcome;
  // Taken before the output is opened, so that a failure leaves it untouched.
  // The input is closed by now, so the output may be the very same file.
  const JobChunk chunk = TakeJobChunk(job);
  if (chunk.bytes) {
    std::pair<const BlockData*, MqoCursor> at{&data, {}};
    outcome = WriteJobFiles(job, chunk, {NextDocumentPiece, &at}, nullptr, nullptr);
  } else {
    outcome = {JobResult::OutOfMemory, JobFile::Input, 0};
  }
  std::free(chunk.block);
  ReleaseBlockData(&data);
  return outcome;
}
