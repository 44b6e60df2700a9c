// Deciding a run's jobs from its operands and options.
#include <map>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace cli {

namespace {

std::string BaseName(const std::string& path) {
  std::size_t i = path.size();
  while (i > 0 && !IsPathSeparator(path[i - 1])) --i;
  return path.substr(i);
}

// The core's name for a map's output, or an OBJ's MTL: NAME.bd1 becomes
// NAME.mqo, any other name gains the extension.
std::string OutputName(const std::string& name, MeshFormat format) {
  std::string out(name.size() + kOutputNameExtra, '\0');
  out.resize(FormatOutputName(name.c_str(), format, false, out.data(), out.size()));
  return out;
}

}  // namespace

std::string MtlName(const std::string& obj) { return OutputName(obj, MeshFormat::Mtl); }

std::string Shown(const std::string& path, bool output) {
  return path != "-" ? path : output ? "standard output" : "standard input";
}

namespace {

// Which operand is an input and which an output, and the names of the outputs.
std::string Operands(const Request& request, std::vector<Job>* jobs) {
  const std::vector<std::string>& files = request.files;
  MeshFormat chosen = MeshFormat::Mqo;
  const bool formatGiven = !request.format.empty();
  if (formatGiven) FormatOfName(("." + request.format).c_str(), &chosen);
  if (files.empty()) return "no input given: name a block data file, or - for standard input";
  const bool named = !request.output.empty();
  if (named && !request.directory.empty()) return "--output and --directory cannot be used together";
  if (named && files.size() != 1)
    return "--output takes one input, not " + std::to_string(files.size());
  MeshFormat byName;
  if (named || (request.directory.empty() && files.size() == 2 &&
                (files[1] == "-" || FormatOfName(files[1].c_str(), &byName)))) {
    // The one place where a name can be replaced: the user wrote it as the output.
    const std::string& output = named ? request.output : files[1];
    MeshFormat format = chosen;
    if (output != "-" && FormatOfName(output.c_str(), &byName)) {
      if (formatGiven && byName != chosen)
        return "--format " + request.format + " contradicts the output's name " + output;
      format = byName;
    } else if (output != "-" && !formatGiven) {
      return "cannot tell what to write to " + output +
             ": name it .mqo, .obj or .glb, or give --format";
    }
    jobs->push_back({files[0], output, format, true});
    return {};
  }
  for (const std::string& input : files) {
    std::string output = "-";  // standard input, without an output named, to standard output
    if (input == "-" && !request.directory.empty())
      return "standard input has no name to write into " + request.directory +
             ": give --output FILE instead of --directory";
    if (input != "-") output = OutputName(input, chosen);
    if (input != "-" && !request.directory.empty()) {
      std::string dir = request.directory;
      if (!IsPathSeparator(dir.back())) dir += '/';
      output = dir + BaseName(output);
    }
    jobs->push_back({input, output, chosen, false});
  }
  return {};
}

// The files a job writes: its output, and an OBJ's MTL beside it.
std::vector<std::string> Written(const Job& job) {
  std::vector<std::string> written{job.output};
  if (job.format == MeshFormat::Obj && job.output != "-") written.push_back(MtlName(job.output));
  return written;
}

// Two outputs of a batch on one file, or an output on one of its inputs: the
// run would destroy its own work, so it is refused before any of it runs. The
// one exception is an output the user named after its own input: the map is
// read in full before it is replaced.
std::string Collision(const std::vector<Job>& jobs) {
  auto key = [](std::string path) {
#ifdef _WIN32
    // Names differing only in case, or in the separator, are one file there.
    for (char& c : path) c = c == '\\' ? '/' : c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
#endif
    return path;
  };
  std::map<std::string, std::size_t> inputs, outputs;
  for (std::size_t i = 0; i < jobs.size(); ++i) inputs.emplace(key(jobs[i].input), i);
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    for (const std::string& path : Written(jobs[i])) {
      const bool itself = jobs[i].named && path == jobs[i].output && key(path) == key(jobs[i].input);
      if (auto input = inputs.find(key(path)); input != inputs.end() && path != "-" && !itself)
        return (input->second == i ? jobs[i].output + "'s materials" : jobs[i].input) + " would be written over " +
               jobs[input->second].input + ", an input of this run";
      if (auto [other, added] = outputs.emplace(key(path), i); !added)
        return Shown(jobs[other->second].input, false) + " and " + Shown(jobs[i].input, false) +
               " would both be written to " + Shown(path, true);
    }
  }
  return {};
}

// What the files already there say: a folder to write into that is a file, a
// device or pipe with nothing beside it to write to, and files the user did
// not name that an output would replace.
std::string Existing(const Request& request, const FileKindOf& kindOf, const std::vector<Job>& jobs) {
  const std::string& dir = request.directory;
  if (!dir.empty() && kindOf(dir) != FileKind::Missing && kindOf(dir) != FileKind::Folder)
    return "cannot write into " + dir + ": it is not a folder";
  for (const Job& job : jobs)
    if (!job.named && dir.empty() && job.input != "-" && kindOf(job.input) == FileKind::Other)
      return job.input + " is not a regular file, so nothing is written beside it: give --output FILE or --directory DIR";
  if (request.overwrite) return {};
  std::string existing;
  for (const Job& job : jobs)
    for (const std::string& path : Written(job))
      if (!job.named && path != "-" && kindOf(path) != FileKind::Missing) existing += (existing.empty() ? "" : ", ") + path;
  if (existing.empty()) return {};
  return "not replacing files that exist: " + existing + " (name the output, or give --overwrite)";
}

}  // namespace

std::string Plan(const Request& request, const FileKindOf& kindOf, std::vector<Job>* jobs) {
  std::string refused = Operands(request, jobs);
  if (refused.empty()) refused = Collision(*jobs);
  if (refused.empty()) refused = Existing(request, kindOf, *jobs);
  if (!refused.empty()) jobs->clear();
  return refused;
}

}  // namespace cli
