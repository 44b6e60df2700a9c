// Reading the map, standard input and output, and the system's reasons.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "job/job_internal.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <sys/stat.h>
#endif
#if defined(__GLIBC__)
#include <malloc.h>
#endif

void KeepMemoryBetweenJobs() {
#if defined(__GLIBC__)
  // glibc's own mapping threshold rises only to the largest array freed so
  // far, and its trim threshold to twice that, below what a mesh job holds:
  // each such job gave its memory back, and the next had it zeroed afresh.
  // Below 32 MiB (the most glibc takes on 64 bits; a job's largest array,
  // the faces of the largest map, is 15 MB) every array comes from the
  // heap, and what a job frees stays at its top for the next, up to a trim
  // threshold above any job's peak.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 128 << 20);
#endif
}

#if defined(__wasi__)

// The page's module has no files and imports nothing (see files.cpp).
ReadResult ReadBlockDataFileWithCause(const char*, BlockData*, SystemError* cause) {
  *cause = ENOTSUP;
  return ReadResult::OpenFailed;
}
bool ReadWholeStream(std::FILE*, unsigned char** bytes, std::size_t* size, SystemError* cause) {
  *bytes = nullptr, *size = 0, *cause = ENOTSUP;
  return false;
}
ReadResult ReadStandardInput(BlockData*, SystemError* cause, std::uint64_t* size) {
  *cause = ENOTSUP, *size = 0;
  return ReadResult::OpenFailed;
}
bool RegularFileSize(const char*, std::uint64_t*) { return false; }
bool WriteStandardOutput(const char*, std::size_t, SystemError* cause) { return *cause = ENOTSUP, false; }
bool FlushStandardOutput(SystemError* cause) { return *cause = ENOTSUP, false; }

#else

namespace {

void ClearSystemError() {
#ifdef _WIN32
  SetLastError(0);
#endif
  errno = 0;
}

void BinaryMode(std::FILE* stream) {
#ifdef _WIN32
  _setmode(_fileno(stream), _O_BINARY);
#else
  (void)stream;
#endif
}

}  // namespace

ReadResult ReadBlockDataFileWithCause(const char* path, BlockData* data, SystemError* cause) {
  // The reader's last call to fail is the one that set the error; clearing it
  // first tells a short file (no system error) from a failed read.
  ClearSystemError();
  ReadResult result = ReadBlockDataFile(path, data);
  const bool system = result == ReadResult::OpenFailed || result == ReadResult::Truncated;
  *cause = system ? LastSystemError() : 0;
  return result;
}

bool ReadWholeStream(std::FILE* stream, unsigned char** bytes, std::size_t* size, SystemError* cause) {
  std::size_t capacity = 0;
  *bytes = nullptr, *size = 0, *cause = 0;
  for (;;) {
    if (*size == capacity) {
      const std::size_t grown = capacity ? 2 * capacity : 65536;
      auto* more = grown > capacity ? static_cast<unsigned char*>(std::realloc(*bytes, grown)) : nullptr;
      if (!more) return false;
      *bytes = more, capacity = grown;
    }
    const std::size_t n = std::fread(*bytes + *size, 1, capacity - *size, stream);
    *size += n;
    if (n == 0) break;
  }
  if (!std::ferror(stream)) return true;
  // A failed read always has a reason to show, and 0 would mean memory.
  *cause = LastSystemError() ? LastSystemError() : EIO;
  return false;
}

ReadResult ReadStandardInput(BlockData* data, SystemError* cause, std::uint64_t* size) {
  BinaryMode(stdin);
  unsigned char* bytes;
  std::size_t used;
  ReadResult result = ReadResult::Ok;
  if (!ReadWholeStream(stdin, &bytes, &used, cause)) result = *cause ? ReadResult::Truncated : ReadResult::OutOfMemory;
  if (result == ReadResult::Ok) result = ReadBlockDataBytes(bytes, used, data);
  std::free(bytes);
  *size = used;
  return result;
}

bool RegularFileSize(const char* path, std::uint64_t* size) {
#ifdef _WIN32
  struct _stat64 st;
  if (_stat64(path, &st) != 0 || !(st.st_mode & _S_IFREG)) return false;
#else
  struct stat st;
  if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return false;
#endif
  *size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool WriteStandardOutput(const char* bytes, std::size_t size, SystemError* cause) {
  BinaryMode(stdout);
  if (std::fwrite(bytes, 1, size, stdout) == size) return true;
  *cause = LastSystemError();
  return false;
}

bool FlushStandardOutput(SystemError* cause) {
  if (std::fflush(stdout) == 0) return true;
  *cause = LastSystemError();
  return false;
}

#endif  // __wasi__

#ifdef _WIN32
SystemError LastSystemError() { return GetLastError(); }

std::size_t FormatSystemError(SystemError cause, char* out, std::size_t capacity) {
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           cause, 0, out, static_cast<DWORD>(capacity), nullptr);
  while (n > 0 && (out[n - 1] == '\r' || out[n - 1] == '\n' || out[n - 1] == ' ')) --n;
  if (n == 0) n = static_cast<DWORD>(std::snprintf(out, capacity, "error %lu", static_cast<unsigned long>(cause)));
  out[n] = '\0';
  return n;
}
#else
SystemError LastSystemError() { return static_cast<SystemError>(errno); }

std::size_t FormatSystemError(SystemError cause, char* out, std::size_t capacity) {
  int n = std::snprintf(out, capacity, "%s", std::strerror(static_cast<int>(cause)));
  return n < 0 ? 0 : std::strlen(out);
}
#endif
