// What the program tells the user on standard error.
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
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

bool Fail(Progress* progress, const JobOutcome& outcome, MeshFormat format, const std::string& path) {
  ClearProgress(progress);
  char message[kJobMessageMax], why[kSystemErrorMax];
  FormatJobMessage(outcome, format, message);
  FormatJobReason(outcome, why, sizeof why);
  std::fprintf(stderr, "blockmqo-cli: %s: %s: %s\n", message, path.c_str(), why);
  return false;
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
