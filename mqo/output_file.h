// Replacing the target only when the new document is complete, and the
// system's reason whenever a file step fails.
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

#include "mqo/mqo.h"

#ifdef _WIN32
constexpr std::size_t kOutputPathMax = 260;
#else
constexpr std::size_t kOutputPathMax = 4096;
#endif

// Why a file step failed, in the system's own terms: errno, or on Windows the
// code GetLastError gives. 0 when the system gave no reason.
using SystemError = std::uint32_t;

enum class OutputStatus { Ok, OpenFailed, WriteFailed };
struct OutputResult {
  OutputStatus status;
  SystemError cause;  // 0 when Ok
};

struct OutputFile {
  std::FILE* stream;
  bool inPlace;
  unsigned long long written;      // bytes handed to the stream so far
  unsigned long long flushedFrom;  // where the next early write-back starts
  bool created;                    // written in place to a file we created: removed on failure
  char target[kOutputPathMax];  // the file that is finally replaced
  char temp[kOutputPathMax];    // written first, renamed over target
};

OutputResult OpenOutput(const char* path, OutputFile* file);
OutputResult WriteOutput(OutputFile* file, const char* bytes, std::size_t size);
OutputResult CommitOutput(OutputFile* file);
void AbandonOutput(OutputFile* file);

// What a failed step means for the conversion: OutputOpenFailed or
// OutputWriteFailed (Ok for Ok).
MqoResult MqoResultOfOutput(OutputResult result);

// ReadBlockDataFile, and the system's reason when it fails to open or read
// the file (0 for a file that is only too short, or a negative count).
ReadResult ReadBlockDataFileWithCause(const char* path, BlockData* data, SystemError* cause);

// The error of the system call that failed last on this thread.
SystemError LastSystemError();

// The system's text for a cause ("No such file or directory"; on Windows,
// FormatMessage's), without a line end, NUL-terminated. Never fails: an
// unknown code is written as its number. `capacity` is at least 32.
constexpr std::size_t kSystemErrorMax = 256;
std::size_t FormatSystemError(SystemError cause, char* out, std::size_t capacity);
