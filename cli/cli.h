// The command-line program's own parts: planning a run's jobs from its
// operands (pure: nothing is read or written), and reporting to standard
// error. main.cpp parses the options and runs the jobs.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "job/job.h"

namespace cli {

// --- Planning -------------------------------------------------------------

// Where an OBJ's materials go, as the core writes them: NAME.obj's to NAME.mtl.
std::string MtlName(const std::string& obj);
// "-" as the user reads it: standard input, or standard output.
std::string Shown(const std::string& path, bool output);

struct Job {
  std::string input, output;  // "-": standard input, standard output
  MeshFormat format;          // Obj also writes its Mtl beside it
  bool named;                 // the user wrote the output's name: it may replace a file
};

struct Request {
  std::vector<std::string> files, textures;
  std::string output, directory, format;  // empty when not given
  bool overwrite = false;                 // outputs not named may replace files
};

// What is at a path, as far as planning cares. Other: a device, a pipe, a
// socket, anything that is neither a regular file nor a folder.
enum class FileKind { Missing, Regular, Folder, Other };
using FileKindOf = std::function<FileKind(const std::string& path)>;

// Every job of the run, decided before anything is read or written: an empty
// text, or what is wrong with the request (and no jobs). Refused: outputs on
// one another or on an input (but a named output may be its own input), an
// input that is not a regular file with no output named and no folder, and,
// without --overwrite, an output not named (beside its input, or in the
// folder) where a file exists. A named OBJ's MTL counts as named. The file
// system is only asked through `kindOf`.
std::string Plan(const Request& request, const FileKindOf& kindOf, std::vector<Job>* jobs);

// --- The file system -------------------------------------------------------

FileKind KindOfFile(const std::string& path);
// Makes the folder and any missing above it; 0, or the system's reason.
SystemError MakeFolder(const std::string& path);

// --- Reporting ------------------------------------------------------------

// Counting a long batch's maps on a terminal: "blockmqo-cli: 12/300", from
// the first second on, rewritten in place and wiped before any other line.
struct Progress {
  std::size_t total;
  bool enabled, shown;
  std::chrono::steady_clock::time_point start, last;
};

bool StandardErrorIsTerminal();
void ClearProgress(Progress* progress);
void ShowProgress(Progress* progress, std::size_t done);

// "blockmqo-cli: Failed: open file (mqo): missing/x.mqo: No such file or
// directory": what failed, on which file (`path`), and why. Returns false.
bool Fail(Progress* progress, const JobOutcome& outcome, MeshFormat format, const std::string& path);

// One warning line of `n` bytes of `text` about `input`; nothing when n is 0.
void Warn(Progress* progress, const char* text, std::size_t n, const std::string& input);

// "blockmqo-cli: Failed: make folder: DIR: REASON".
void FailFolder(const std::string& path, SystemError cause);

// Prints the message and the hint to --help; returns the usage exit status, 2.
int UsageError(const std::string& message);

}  // namespace cli
