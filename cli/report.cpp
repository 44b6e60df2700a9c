// What the program tells the user on standard error.
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <unistd.h>
#endif

#include "cli/cli.h"

namespace cli {

bool StandardErrorIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

void ClearProgress(Progress* progress) {
  if (progress->shown) std::fprintf(stderr, "\r%40s\r", "");
  progress->shown = false;
}

void ShowProgress(Progress* progress, std::size_t done) {
  if (!progress->enabled || done == progress->total) return;
  auto now = std::chrono::steady_clock::now();
  if (now - progress->start < std::chrono::seconds(1) ||
      (progress->shown && now - progress->last < std::chrono::milliseconds(100)))
    return;
  std::fprintf(stderr, "\rblockmqo-cli: %zu/%zu", done, progress->total);
  std::fflush(stderr);
  progress->shown = true;
  progress->last = now;
}

bool Fail(Progress* progress, MqoResult result, const char* kind, const std::string& path,
          const char* why) {
  ClearProgress(progress);
  std::fprintf(stderr, "blockmqo-cli: Failed: %s", MqoResultStep(result));
  if (kind) std::fprintf(stderr, " (%s)", kind);
  std::fprintf(stderr, ": %s: %s\n", path.c_str(), why);
  return false;
}

bool Fail(Progress* progress, MqoResult result, const char* kind, const std::string& path,
          SystemError cause) {
  char why[kSystemErrorMax];
  FormatSystemError(cause, why, sizeof why);
  return Fail(progress, result, kind, path, why);
}

bool FailRead(Progress* progress, const std::string& input, ReadResult read, SystemError cause) {
  const MqoResult result = MqoResultOfRead(read);
  const char* kind = result == MqoResult::OutOfMemory ? nullptr : "bd";
  // A file that is merely too short, or counts its blocks below zero, is not
  // the system's doing.
  if (read == ReadResult::NegativeCount) return Fail(progress, result, kind, input, "negative block count");
  if (read == ReadResult::Truncated && cause == 0)
    return Fail(progress, result, kind, input, "shorter than its block count says");
#ifdef _WIN32
  if (read == ReadResult::OutOfMemory) cause = ERROR_NOT_ENOUGH_MEMORY;
#else
  if (read == ReadResult::OutOfMemory) cause = ENOMEM;
#endif
  return Fail(progress, result, kind, input, cause);
}

void Warn(Progress* progress, const char* text, std::size_t n, const std::string& input) {
  if (!n) return;
  ClearProgress(progress);
  std::fprintf(stderr, "blockmqo-cli: warning: %.*s: %s\n", static_cast<int>(n), text,
               Shown(input, false).c_str());
}

void FailFolder(const std::string& path, SystemError cause) {
  char why[kSystemErrorMax];
  FormatSystemError(cause, why, sizeof why);
  std::fprintf(stderr, "blockmqo-cli: Failed: make folder: %s: %s\n", path.c_str(), why);
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "blockmqo-cli: %s\nTry 'blockmqo-cli --help' for more information.\n",
               message.c_str());
  return 2;
}

}  // namespace cli
