// Replacing the target only when the new document is complete.
//
// OpenOutput checks the target can be written (so an unwritable target is
// reported before anything is written) and opens a new temporary file beside
// it. CommitOutput flushes, closes and renames it over the target;
// AbandonOutput closes and removes it, leaving the target as it was. A target
// that exists but is not a regular file is written in place instead.
#pragma once

#include <cstddef>
#include <cstdio>

#include "mqo/mqo.h"

#ifdef _WIN32
constexpr std::size_t kOutputPathMax = 260;
#else
constexpr std::size_t kOutputPathMax = 4096;
#endif

struct OutputFile {
  std::FILE* stream;
  bool inPlace;
  unsigned long long written;      // bytes handed to the stream so far
  unsigned long long flushedFrom;  // where the next early write-back starts
  bool created;                    // written in place to a file we created: removed on failure
  char target[kOutputPathMax];  // the file that is finally replaced
  char temp[kOutputPathMax];    // written first, renamed over target
};

MqoResult OpenOutput(const char* path, OutputFile* file);
bool WriteOutput(OutputFile* file, const char* bytes, std::size_t size);
MqoResult CommitOutput(OutputFile* file);
void AbandonOutput(OutputFile* file);
