// One conversion of one map into its files, for every front end.
//
// RunJob reads the map (a file, standard input, or bytes in memory), builds
// what the format needs, picks each texture name's image, writes the output
// (a file, standard output, or the caller's sink) and reports what it found.
// Every front end calls it; none puts reading, building, writing and
// committing together itself, so the facts below are decided here once:
//  - a file is replaced only when its new contents are complete (a temporary
//    file beside it, renamed over it); a failure leaves it as it was. An OBJ
//    and its MTL are both written before either replaces its target. A
//    target that exists but is not a regular file (a device, a pipe) is
//    written in place;
//  - the image of each texture name (PickTextureFile, FindTextureFile), one
//    file read once however many names pick it;
//  - the warnings for what was written (JobReport, FormatJobWarning).
#pragma once

#include <cstddef>
#include <cstdint>

#include "blockdata/blockdata.h"
#include "image/image.h"
#include "mesh/mesh.h"
#include "mqo/mqo.h"

// ---- The system's reasons.

// Why a file step failed, in the system's own terms: errno, or on Windows the
// code GetLastError gives. 0 when the system gave no reason.
using SystemError = std::uint32_t;

// The error of the system call that failed last on this thread.
SystemError LastSystemError();

// The system's text for a cause ("No such file or directory"; on Windows,
// FormatMessage's), without a line end, NUL-terminated. Never fails: an
// unknown code is written as its number. `capacity` is at least 32.
constexpr std::size_t kSystemErrorMax = 256;
std::size_t FormatSystemError(SystemError cause, char* out, std::size_t capacity);

// ---- Output names.

// Whether `c` ends a folder's name in a path: /, and on Windows \ and : too.
// The folders images are looked for in and the files a batch writes are
// told apart by the same rule.
bool IsPathSeparator(char c);

// ".mqo", ".obj", ".mtl" or ".glb".
const char* FormatExtension(MeshFormat format);
// The format a file's name asks for by its extension (.mqo, .obj or .glb, in
// any case); false when it names none of them.
bool FormatOfName(const char* name, MeshFormat* format);

// The file a map's output goes to, from the map's path or name: without a
// final ".bd1" (any case; for Mtl also without a final ".obj", so an OBJ's
// name gives its MTL's), then "-optimized" when asked, then the format's
// extension. "maps/yard.bd1" gives "maps/yard.mqo", "maps/yard-optimized.glb";
// "yard.obj" as Mtl gives "yard.mtl"; any other name only gains the
// extension, so an input is never its own output. Writes the name and a NUL;
// returns its length, or 0 when it does not fit `capacity`.
constexpr std::size_t kOutputNameExtra = 16;  // the most a name grows by, NUL included
std::size_t FormatOutputName(const char* name, MeshFormat format, bool optimized, char* out,
                             std::size_t capacity);

// ---- The job.

enum class JobSource { Path, StandardInput, Bytes };
enum class JobTarget { Path, StandardOutput, Sink };

// The files of a job. Document is the one file of Mqo and Glb, and the OBJ of
// Obj; Mtl is the OBJ's materials.
enum class JobFile { None, Input, Document, Mtl };

// The caller's sink takes each piece of each file, in order, one file after
// the other (an OBJ's MTL first); false stops the job (OutputWriteFailed).
struct JobSink {
  bool (*write)(void* context, JobFile file, const char* bytes, std::size_t size);
  void* context;
};

struct JobInput {
  JobSource source;
  const char* path;            // Path: the map's file
  const unsigned char* bytes;  // Bytes: the whole file, held by the caller
  std::size_t size;
};

struct JobOutput {
  JobTarget target;
  const char* path;  // Path: the file written (an OBJ's MTL beside it, FormatOutputName)
  JobSink sink;      // Sink
  // Sink: the name the OBJ's mtllib line gives its MTL (null: "map.mtl"); its
  // map_Kd lines name images by their file names alone.
  // An OBJ to standard output names no MTL and none is written.
  const char* mtlName;
};

// An image the caller hands over by name, as a file picker or a drop gives it.
struct JobImage {
  ImageName name;  // a plain file name, no folder
  const unsigned char* bytes;
  std::size_t size;
};

// Where images come from: folders searched in turn (the first holding one
// wins), or images handed over. Neither given, a map read from a path looks
// in its own folder. Only the mesh formats (Obj, Glb) use images.
struct JobImages {
  const char* const* folders;
  int folderCount;
  const JobImage* given;
  int givenCount;
};

struct Job {
  JobInput input;
  JobOutput output;
  MeshFormat format;  // Mqo, Obj (with its Mtl) or Glb
  MeshOptions options;
  JobImages images;
  std::size_t chunk;  // bytes written at a time, at least kMqoMinChunk; 0: kMqoWriteChunk
};

// ---- What came of it.

enum class JobResult {
  Ok,
  InputOpenFailed,    // "Failed: open file (bd)"
  InputReadFailed,    // the system failed a read: "Failed: read file (bd)"
  InputTruncated,     // shorter than its block count says: "Failed: read file (bd)"
  NegativeCount,      // a stored count of 0x8000..0xFFFF: "Failed: read file (bd)"
  OutOfMemory,        // "Failed: allocate memory"
  OutputOpenFailed,   // "Failed: open file (mqo)"
  OutputWriteFailed,  // writing, flushing or replacing; a sink that refused
};

struct JobOutcome {
  JobResult result;
  JobFile file;       // which file failed: Input for the read and memory, None when Ok
  SystemError cause;  // the system's reason, 0 when it gave none
};

// What the step that failed was ("open file", "read file", "allocate memory",
// "write file"); nullptr for Ok.
const char* JobStep(JobResult result);
// The kind of a job's file, as messages name it: "bd", "mqo", "obj", "mtl",
// "glb"; nullptr for None.
const char* JobFileKind(JobFile file, MeshFormat format);
// The desktop programs' message: "Failed: open file (bd)", "Failed: allocate
// memory", ... (the step, and the file's kind for a file step). Returns its
// length; kJobMessageMax with the NUL.
constexpr std::size_t kJobMessageMax = 64;
std::size_t FormatJobMessage(const JobOutcome& outcome, MeshFormat format, char* out);
// Why, for a front end that says more: "negative block count", "shorter than
// its block count says", or the system's text. NUL-terminated;
// kSystemErrorMax is enough.
std::size_t FormatJobReason(const JobOutcome& outcome, char* out, std::size_t capacity);

// The image decided for one texture name.
enum class JobImageUse {
  None,        // no face uses the name (or it is empty) and no image was handed over for it
  Used,        // found (or handed over) and written or named
  NotGiven,    // a face uses it, but no image was found or handed over
  Unreadable,  // glb: found, but the file could not be read or is no image we take (an MTL only names it)
  NotUsed,     // handed over, but no face uses the name
};
#ifdef _WIN32
constexpr std::size_t kJobPathMax = 260;
#else
constexpr std::size_t kJobPathMax = 4096;
#endif
struct JobImageReport {
  JobImageUse use;
  ImageResult cause;   // Unreadable: why the file was refused (Ok when it could not be read)
  SystemError system;  // Unreadable: why it could not be read, else 0
  int given;           // the image handed over that it picks (Used, Unreadable, NotUsed), else -1
  int folder;          // the folder it was found in, else -1
  // Found in a folder: its path (an OBJ's MTL names it from its own folder);
  // handed over: its name.
  char path[kJobPathMax];
};

// The warnings a front end shows, in this order; each is formatted by
// FormatJobWarning and is empty when the job decided there is nothing to say.
// They never change what is written or the outcome.
enum class JobWarning {
  TexturesOutOfRange,   // the plain document only: the mesh's has a material for them
  NonFiniteNumbers,     // the document (the mesh formats leave such blocks out)
  UnsafeNames,          // the document
  BlocksLeftOut,        // the mesh formats
  TexturesNotEmbedded,  // glb: textures in use without an image
  NoBlocks,             // "map holds no blocks"
  TrailingBytes,        // more bytes after the last block than the blocks take
};
constexpr int kJobWarningKinds = 7;
constexpr std::size_t kJobWarningMax = kMeshWarningMax;

struct JobReport {
  bool read;                     // the map was read; the rest holds only then
  MqoHazards hazards;            // as the map holds them (the MQO document only; zero otherwise)
  int blockCount;
  int droppedBlocks;             // left out as non-finite (mesh formats)
  std::uint32_t faceCount, vertexCount;  // written (the plain document: 6 and 8 a block)
  std::uint64_t ignoredBytes;    // after the last block, counted when they outnumber the blocks' bytes
  std::uint32_t warning[kJobWarningKinds];  // what each warning counts; 0: none
  unsigned namesWithoutImage;    // glb: bit t, texture name t is in use and has no image in it
  char textureNames[kTextureNameCount][kTextureNameField + 1];
  JobImageReport image[kTextureNameCount];
};

// Runs the job. `report` (may be null) is filled as far as the job got.
JobOutcome RunJob(const Job& job, JobReport* report);

// At most kJobWarningMax bytes, no NUL; 0 when the job has nothing to say.
std::size_t FormatJobWarning(const JobReport& report, JobWarning kind, char* out);

// For a program that runs job after job (a batch): memory a job frees stays
// with the process for the next one rather than going back to the system,
// which would hand each later map fresh pages to zero again, a tenth of a
// mesh's CPU on the largest maps. The most kept is what the largest job
// held. Only where the C library has such settings (glibc); elsewhere
// nothing changes. Call it before the first job.
void KeepMemoryBetweenJobs();

// ---- The desktop programs.

// Converts inputPath to the document at outputPath with RunJob and reports a
// failure with ShowError, once, with FormatJobMessage's text; nothing is
// shown on success.
void ConvertBlockDataToMqo(const char* inputPath, const char* outputPath);

// Shows a failure message and returns when the user has seen it. Defined by
// the desktop programs (a message box); only ConvertBlockDataToMqo calls it,
// so a program that shows no message box defines none.
void ShowError(const char* text);
