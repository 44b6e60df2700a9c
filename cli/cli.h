// The command-line program's own parts: planning a run's jobs from its
// operands (pure: nothing is read or written), and reporting to standard
// error. main.cpp parses the options and runs the jobs.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "job/job.h"

namespace cli {

// --- Planning -------------------------------------------------------------

bool IsSeparator(char c);
std::string BaseName(const std::string& path);
// The folder part of a path, "." for none.
std::string FolderOf(const std::string& path);
const char* Extension(MeshFormat format);
// NAME.obj's materials go to NAME.mtl, which the OBJ names without its folder.
std::string MtlName(const std::string& obj);
// "-" as the user reads it: standard input, or standard output.
std::string Shown(const std::string& path, bool output);

struct Job {
  std::string input, output;  // "-": standard input, standard output
  MeshFormat format;          // Obj also writes its Mtl beside it
};

struct Request {
  std::vector<std::string> files, textures;
  std::string output, directory, format;  // empty when not given
};

// Every job of the run, decided before anything is read or written; an empty
// text, or what is wrong with the request.
std::string Plan(const Request& request, std::vector<Job>* jobs);

// Two outputs of a batch on one file, or an output on one of its inputs: an
// empty text, or why the batch is refused.
std::string Collision(const std::vector<Job>& jobs);

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

// Prints the message and the hint to --help; returns the usage exit status, 2.
int UsageError(const std::string& message);

}  // namespace cli
