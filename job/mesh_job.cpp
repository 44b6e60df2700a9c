// The job for the mesh's formats (and the entry for every job), and the
// warnings as the front ends show them.
#include <cstdlib>
#include <cstring>

#include "job/job_internal.h"

namespace {

struct MeshPieces {
  MeshDocument doc;
  MeshCursor cursor;
};

std::size_t NextMeshPiece(void* state, char* out, std::size_t capacity) {
  auto* pieces = static_cast<MeshPieces*>(state);
  return MeshDocumentNext(pieces->doc, &pieces->cursor, out, capacity);
}

const char* BaseName(const char* path) {
  const char* base = path;
  for (const char* p = path; *p; ++p)
    if (IsPathSeparator(*p)) base = p + 1;
  return base;
}

// What a job holds while it runs, on the heap (tens of kilobytes).
struct Work {
  JobImageFiles files;
  MeshPieces document, mtl;
  char mtlPath[kJobPathMax + kOutputNameExtra];
  JobReport report;  // when the caller wants none
};

JobOutcome WriteMesh(const Job& job, const BlockData& data, const Mesh& mesh, JobChunk chunk, Work* work) {
  const MeshFormat format = job.format == MeshFormat::Mtl ? MeshFormat::Obj : job.format;
  work->document.doc = MeshDocument{&data, &mesh, format, nullptr, work->files.image};
  work->mtl.doc = MeshDocument{&data, &mesh, MeshFormat::Mtl, nullptr, work->files.image};
  // An OBJ names its MTL without a folder, as it lies beside it; one on
  // standard output names none, and none is written.
  const bool withMtl = format == MeshFormat::Obj && job.output.target != JobTarget::StandardOutput;
  if (withMtl && job.output.target == JobTarget::Path) {
    if (!FormatOutputName(job.output.path, MeshFormat::Mtl, false, work->mtlPath, sizeof work->mtlPath))
      return {JobResult::OutputOpenFailed, JobFile::Mtl, 0};
    work->document.doc.mtlFileName = BaseName(work->mtlPath);
  } else if (withMtl) {
    work->document.doc.mtlFileName = job.output.mtlName ? job.output.mtlName : "map.mtl";
  }
  const JobPieces mtl{NextMeshPiece, &work->mtl};
  return WriteJobFiles(job, chunk, {NextMeshPiece, &work->document}, withMtl ? &mtl : nullptr, work->mtlPath);
}

// The warnings the mesh decides: the mesh's document gives faces numbered
// outside 0-9 a material of its own; OBJ and glb leave non-finite blocks out.
void DecideMeshWarnings(const Job& job, const BlockData& data, const Mesh& mesh, const MeshImage* images,
                        JobReport* report) {
  std::uint32_t* warning = report->warning;
  warning[static_cast<int>(JobWarning::TexturesOutOfRange)] = 0;
  report->droppedBlocks = mesh.droppedBlocks;
  report->faceCount = mesh.faceCount, report->vertexCount = mesh.vertexCount;
  if (job.format != MeshFormat::Mqo)
    warning[static_cast<int>(JobWarning::BlocksLeftOut)] = static_cast<std::uint32_t>(mesh.droppedBlocks);
  if (job.format == MeshFormat::Glb)
    report->namesWithoutImage = GlbNamesWithoutImage(MeshDocument{&data, &mesh, MeshFormat::Glb, nullptr, images});
  for (int t = 0; t < kTextureNameCount; ++t)
    warning[static_cast<int>(JobWarning::TexturesNotEmbedded)] += report->namesWithoutImage >> t & 1;
}

}  // namespace

JobOutcome RunJob(const Job& job, JobReport* report) {
  const bool isMesh = job.format != MeshFormat::Mqo || job.options.removeHiddenFaces || job.options.shareVertices;
  if (!isMesh) {
    // The plain document needs none of the mesh's work, only a report.
    JobReport* own = report ? nullptr : static_cast<JobReport*>(std::malloc(sizeof(JobReport)));
    const JobOutcome outcome = report || own ? RunDocumentJob(job, report ? report : own)
                                             : JobOutcome{JobResult::OutOfMemory, JobFile::Input, 0};
    std::free(own);
    return outcome;
  }
  auto* work = static_cast<Work*>(std::calloc(1, sizeof(Work)));
  if (!work) return {JobResult::OutOfMemory, JobFile::Input, 0};
  JobReport& r = report ? *report : work->report;
  BlockData data{};
  Mesh mesh{};
  JobChunk chunk{};
  JobOutcome outcome = ReadJobInput(job, &data, &r);
  if (outcome.result == JobResult::Ok) {
    const MeshFormat build = job.format == MeshFormat::Mtl ? MeshFormat::Obj : job.format;
    // Taken before any output is opened, so that a failure leaves it untouched.
    if (BuildMesh(data, build, job.options, &mesh) != MeshResult::Ok || !(chunk = TakeJobChunk(job)).bytes)
      outcome = {JobResult::OutOfMemory, JobFile::Input, 0};
  }
  if (outcome.result == JobResult::Ok) {
    if (job.format != MeshFormat::Mqo) PickImages(job, data, mesh, &work->files, &r);
    DecideMeshWarnings(job, data, mesh, work->files.image, &r);
    outcome = WriteMesh(job, data, mesh, chunk, work);
  }
  std::free(chunk.block);
  ReleaseMesh(&mesh);
  ReleaseBlockData(&data);
  for (GltfImage& image : work->files.loaded) ReleaseGltfImage(&image);
  std::free(work);
  return outcome;
}

std::size_t FormatJobWarning(const JobReport& report, JobWarning kind, char* out) {
  const std::uint32_t count = report.warning[static_cast<int>(kind)];
  if (!report.read || !count) return 0;
  MqoHazards only{};
  switch (kind) {
    case JobWarning::TexturesOutOfRange:
      only.texturesOutOfRange = static_cast<int>(count);
      return FormatMqoWarning(only, MqoWarning::TexturesOutOfRange, out);
    case JobWarning::NonFiniteNumbers:
      only.nonFiniteNumbers = static_cast<int>(count);
      return FormatMqoWarning(only, MqoWarning::NonFiniteNumbers, out);
    case JobWarning::UnsafeNames:
      only.unsafeNames = static_cast<int>(count);
      return FormatMqoWarning(only, MqoWarning::UnsafeNames, out);
    case JobWarning::BlocksLeftOut:
      return FormatMeshLoss(MeshWarning::BlocksLeftOut, count, report.textureNames, 0, out);
    case JobWarning::TexturesNotEmbedded:
      return FormatMeshLoss(MeshWarning::TexturesNotEmbedded, 0, report.textureNames, report.namesWithoutImage, out);
    case JobWarning::NoBlocks: {
      const char text[] = "map holds no blocks";
      std::memcpy(out, text, sizeof text - 1);
      return sizeof text - 1;
    }
    case JobWarning::TrailingBytes: break;
  }
  return FormatCountedWarning(count, "byte after the last block is not part of the map; it is ignored",
                              "bytes after the last block are not part of the map; they are ignored", out);
}
