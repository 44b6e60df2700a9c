// The command-line program's planning: operands and options, with what the
// file system holds, to the run's jobs or the reason it is refused.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace {

// A row: the command line's words after the program's name; what exists
// ("PATH:f" a regular file, "PATH:d" a folder, "PATH:o" a device or pipe;
// anything else is missing); and "IN -> OUT [ext]" for each job ("=>" when
// the user named OUT), joined by "; ", or "!" and the start of the refusal.
TEST(Plan, OperandsAndFilesToJobsOrRefusal) {
  const std::string maps = "cube.bd1:f old.mqo:f cube.mqo:f x.mtl:f";
  const std::string cases[][3] = {
      {"cube.bd1 out/x.OBJ", "", "cube.bd1 => out/x.OBJ [obj]"},
      {"-f obj level.BD1 level.txt", "", "level.BD1 -> level.obj [obj]; level.txt -> level.txt.obj [obj]"},
      {"p/a.bd1 map.DAT -d out", "", "p/a.bd1 -> out/a.mqo [mqo]; map.DAT -> out/map.DAT.mqo [mqo]"},
      {"", "", "!no input given"},
      {"cube.bd1 -o x.mqo -d out", "", "!--output and --directory cannot"},
      {"cube.bd1 stairs.bd1 -o x.mqo", "", "!--output takes one input, not 2"},
      {"cube.bd1 -o x.gltf", "", "!cannot tell what to write to x.gltf: name it"},
      {"-f glb cube.bd1 y.obj", "", "!--format glb contradicts the output's name y.obj"},
      {"- -d out", "", "!standard input has no name to write into out"},
      {"level level", "", "!level and level would both be written to level.mqo"},
      {"p/a.bd1 q/a.bd1 -d out", "", "!p/a.bd1 and q/a.bd1 would both be written to out/a.mqo"},
      {"old old.mqo cube.bd1", "", "!old would be written over old.mqo, an input of this run"},
      {"-f obj a.bd1 a.mtl", "", "!a.bd1 would be written over a.mtl, an input of this run"},
      // A named output may be its own input (the shell table writes a map into
      // itself), but its MTL may not land on it.
      {"x.mtl -o x.obj", maps, "!x.obj's materials would be written over x.mtl, an input"},
      // Only named outputs replace files, a named OBJ's MTL with it.
      {"cube.bd1 cube.obj", "cube.obj:f cube.mtl:f", "cube.bd1 => cube.obj [obj]"},
      {"cube.bd1 old new.bd1", maps, "!not replacing files that exist: cube.mqo, old.mqo (name the output, or give"},
      {"-f obj cube.bd1 x", "cube.mtl:f x.obj:d", "!not replacing files that exist: cube.mtl, x.obj ("},
      {"cube.bd1 -d out/", "out/:d out/cube.mqo:f", "!not replacing files that exist: out/cube.mqo ("},
      {"--overwrite cube.bd1 old", maps, "cube.bd1 -> cube.mqo [mqo]; old -> old.mqo [mqo]"},
      {"cube.bd1 -d cube.mqo --overwrite", maps, "!cannot write into cube.mqo: it is not a folder"},
      // A device or pipe has no folder to write beside, unless told where;
      // --overwrite does not change that.
      {"-f mqo cube.bd1 /dev/full --overwrite", "/dev/full:o", "!/dev/full is not a regular file, so nothing is written"},
      {"/dev/stdin x.mqo", "/dev/stdin:o", "/dev/stdin => x.mqo [mqo]"},
      {"/dev/stdin -d out", "/dev/stdin:o", "/dev/stdin -> out/stdin.mqo [mqo]"},
  };
  for (const auto& [words, exists, expected] : cases) {
    cli::Request request;
    std::istringstream in(words);
    for (std::string w; in >> w;) {
      if (w == "--overwrite") request.overwrite = true;
      else if (w == "-o" || w == "-d" || w == "-f") in >> (w == "-o" ? request.output : w == "-d" ? request.directory : request.format);
      else request.files.push_back(w);
    }
    const cli::FileKindOf kindOf = [&](const std::string& path) {
      const std::string all = " " + exists, key = " " + path + ":";
      const char kind = all.find(key) == std::string::npos ? ' ' : all[all.find(key) + key.size()];
      return kind == 'f' ? cli::FileKind::Regular : kind == 'd' ? cli::FileKind::Folder
             : kind == 'o' ? cli::FileKind::Other : cli::FileKind::Missing;
    };
    std::vector<cli::Job> jobs;
    const std::string refused = cli::Plan(request, kindOf, &jobs);
    std::string got;  // appended, not prefixed: GCC 12 -O2 sees a false overlap in "!" + string
    if (!refused.empty()) got.append("!").append(refused, 0, expected.size() - 1);
    for (const cli::Job& job : jobs)
      got += (got.empty() ? "" : "; ") + job.input + (job.named ? " => " : " -> ") + job.output + " [" +
             (FormatExtension(job.format) + 1) + "]";
    EXPECT_EQ(got, expected) << words;
  }
}

}  // namespace
