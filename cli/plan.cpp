// Deciding a run's jobs from its operands and options.
#include <map>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace cli {

namespace {

bool EndsWithNoCase(const std::string& s, const char* suffix) {
  std::size_t n = std::char_traits<char>::length(suffix);
  if (s.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    char c = s[s.size() - n + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != suffix[i]) return false;
  }
  return true;
}

}  // namespace

bool IsSeparator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\' || c == ':';
#else
  return c == '/';
#endif
}

std::string BaseName(const std::string& path) {
  std::size_t i = path.size();
  while (i > 0 && !IsSeparator(path[i - 1])) --i;
  return path.substr(i);
}

const char* Extension(MeshFormat format) {
  switch (format) {
    case MeshFormat::Obj: return ".obj";
    case MeshFormat::Mtl: return ".mtl";
    case MeshFormat::Glb: return ".glb";
    case MeshFormat::Mqo: break;
  }
  return ".mqo";
}

namespace {

// The format a name asks for, when it ends in an extension this program writes.
bool FormatOfName(const std::string& name, MeshFormat* format) {
  for (MeshFormat f : {MeshFormat::Mqo, MeshFormat::Obj, MeshFormat::Glb})
    if (EndsWithNoCase(name, Extension(f))) {
      *format = f;
      return true;
    }
  return false;
}

// NAME.bd1 becomes NAME.mqo (or the format's extension); any other name just
// gains it, so an input is never chosen as its own output.
std::string DocumentName(const std::string& input, MeshFormat format) {
  std::string base = input;
  if (EndsWithNoCase(base, ".bd1")) base.resize(base.size() - 4);
  return base + Extension(format);
}

}  // namespace

std::string MtlName(const std::string& obj) {
  return (EndsWithNoCase(obj, ".obj") ? obj.substr(0, obj.size() - 4) : obj) + ".mtl";
}

std::string FolderOf(const std::string& path) {
  const std::string folder = path.substr(0, path.size() - BaseName(path).size());
  return folder.empty() ? "." : folder;
}

std::string Shown(const std::string& path, bool output) {
  return path != "-" ? path : output ? "standard output" : "standard input";
}

std::string Plan(const Request& request, std::vector<Job>* jobs) {
  const std::vector<std::string>& files = request.files;
  MeshFormat chosen = MeshFormat::Mqo;
  const bool formatGiven = !request.format.empty();
  if (formatGiven) FormatOfName("." + request.format, &chosen);
  if (files.empty()) return "no input given: name a block data file, or - for standard input";
  const bool named = !request.output.empty();
  if (named && !request.directory.empty()) return "--output and --directory cannot be used together";
  if (named && files.size() != 1)
    return "--output takes one input, not " + std::to_string(files.size());
  MeshFormat byName;
  if (named || (request.directory.empty() && files.size() == 2 &&
                (files[1] == "-" || FormatOfName(files[1], &byName)))) {
    // The one place where a name can be replaced: the user wrote it as the output.
    const std::string& output = named ? request.output : files[1];
    MeshFormat format = chosen;
    if (output != "-" && FormatOfName(output, &byName)) {
      if (formatGiven && byName != chosen)
        return "--format " + request.format + " contradicts the output's name " + output;
      format = byName;
    } else if (output != "-" && !formatGiven) {
      return "cannot tell what to write to " + output +
             ": name it .mqo, .obj or .glb, or give --format";
    }
    jobs->push_back({files[0], output, format});
    return {};
  }
  for (const std::string& input : files) {
    std::string output = "-";  // standard input, without an output named, to standard output
    if (input == "-" && !request.directory.empty())
      return "standard input has no name to write into " + request.directory +
             ": give --output FILE instead of --directory";
    if (input != "-") output = DocumentName(input, chosen);
    if (input != "-" && !request.directory.empty()) {
      std::string dir = request.directory;
      if (!IsSeparator(dir.back())) dir += '/';
      output = dir + BaseName(output);
    }
    jobs->push_back({input, output, chosen});
  }
  return {};
}

// Two outputs of a batch on one file, or an output on one of its inputs: the
// batch would destroy its own work, so it is refused before any of it runs.
std::string Collision(const std::vector<Job>& jobs) {
  if (jobs.size() < 2) return {};
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
    std::vector<std::string> written{jobs[i].output};
    if (jobs[i].format == MeshFormat::Obj && jobs[i].output != "-") written.push_back(MtlName(jobs[i].output));
    for (const std::string& path : written) {
      const std::string shown = Shown(path, true);
      if (auto input = inputs.find(key(path)); input != inputs.end() && path != "-")
        return jobs[i].input + " would be written over " + jobs[input->second].input +
               ", an input of this run";
      if (auto [other, added] = outputs.emplace(key(path), i); !added)
        return Shown(jobs[other->second].input, false) + " and " + Shown(jobs[i].input, false) +
               " would both be written to " + shown;
    }
  }
  return {};
}

}  // namespace cli
