// What the front ends show of a job: output names and messages (the
// warnings are the mesh job's, whose facts they need).
#include <cerrno>
#include <cstring>
#include <initializer_list>

#include "job/job.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

bool EndsWithNoCase(const char* s, std::size_t n, const char* suffix) {
  const std::size_t k = std::strlen(suffix);
  if (n < k) return false;
  for (std::size_t i = 0; i < k; ++i) {
    char c = s[n - k + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != suffix[i]) return false;
  }
  return true;
}

char* Put(char* p, const char* text) {
  const std::size_t n = std::strlen(text);
  std::memcpy(p, text, n);
  return p + n;
}

}  // namespace

const char* FormatExtension(MeshFormat format) {
  switch (format) {
    case MeshFormat::Obj: return ".obj";
    case MeshFormat::Mtl: return ".mtl";
    case MeshFormat::Glb: return ".glb";
    case MeshFormat::Mqo: break;
  }
  return ".mqo";
}

bool FormatOfName(const char* name, MeshFormat* format) {
  for (MeshFormat f : {MeshFormat::Mqo, MeshFormat::Obj, MeshFormat::Glb})
    if (EndsWithNoCase(name, std::strlen(name), FormatExtension(f))) {
      *format = f;
      return true;
    }
  return false;
}

std::size_t FormatOutputName(const char* name, MeshFormat format, bool optimized, char* out, std::size_t capacity) {
  std::size_t n = std::strlen(name);
  if (EndsWithNoCase(name, n, ".bd1") || (format == MeshFormat::Mtl && EndsWithNoCase(name, n, ".obj"))) n -= 4;
  const char* extension = FormatExtension(format);
  const char* suffix = optimized ? "-optimized" : "";
  const std::size_t total = n + std::strlen(suffix) + std::strlen(extension);
  if (total >= capacity) return 0;
  std::memmove(out, name, n);
  *Put(Put(out + n, suffix), extension) = '\0';
  return total;
}

const char* JobStep(JobResult result) {
  switch (result) {
    case JobResult::Ok: return nullptr;
    case JobResult::InputOpenFailed:
    case JobResult::OutputOpenFailed: return "open file";
    case JobResult::InputReadFailed:
    case JobResult::InputTruncated:
    case JobResult::NegativeCount: return "read file";
    case JobResult::OutOfMemory: return "allocate memory";
    case JobResult::OutputWriteFailed: break;
  }
  return "write file";
}

const char* JobFileKind(JobFile file, MeshFormat format) {
  switch (file) {
    case JobFile::None: return nullptr;
    case JobFile::Input: return "bd";
    case JobFile::Mtl: return "mtl";
    case JobFile::Document: break;
  }
  return FormatExtension(format == MeshFormat::Mtl ? MeshFormat::Obj : format) + 1;
}

std::size_t FormatJobMessage(const JobOutcome& outcome, MeshFormat format, char* out) {
  if (outcome.result == JobResult::Ok) return *out = '\0', 0;
  char* p = Put(Put(out, "Failed: "), JobStep(outcome.result));
  if (outcome.result != JobResult::OutOfMemory) p = Put(Put(Put(p, " ("), JobFileKind(outcome.file, format)), ")");
  *p = '\0';
  return static_cast<std::size_t>(p - out);
}

std::size_t FormatJobReason(const JobOutcome& outcome, char* out, std::size_t capacity) {
  const char* text = nullptr;
  SystemError cause = outcome.cause;
  switch (outcome.result) {
    case JobResult::NegativeCount: text = "negative block count"; break;
    case JobResult::InputTruncated: text = "shorter than its block count says"; break;
#ifdef _WIN32
    case JobResult::OutOfMemory: cause = ERROR_NOT_ENOUGH_MEMORY; break;
#else
    case JobResult::OutOfMemory: cause = ENOMEM; break;
#endif
    default: break;
  }
  if (!text) return FormatSystemError(cause, out, capacity);
  const std::size_t n = std::strlen(text) < capacity ? std::strlen(text) : capacity - 1;
  std::memcpy(out, text, n);
  out[n] = '\0';
  return n;
}
