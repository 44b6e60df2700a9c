// blockmqo-cli: the converter for scripts and batch work.
//
//   blockmqo-cli IN.bd1 OUT            one file (OUT not ending in .bd1)
//   blockmqo-cli IN1.bd1 IN2.bd1 ...   each next to its input, as NAME.mqo
//   blockmqo-cli IN... -d DIR          each into DIR
//
// The output is the document unless options ask for the mesh: its format
// comes from --format or the output's extension (.obj with its .mtl beside
// it, .glb), hidden faces and shared corners from their options. "-" is
// standard input or output.
//
// Exit status: 0 when every conversion succeeded, 1 when any failed, 2 for a
// usage error. A failure prints one line on standard error; success is silent
// unless the map holds what some readers choke on, which prints one warning
// line per kind (not with --quiet). Warnings never change the document or the
// exit status.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "mesh/mesh.h"
#include "mqo/mqo.h"
#include "mqo/output_file.h"

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

bool IsSeparator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\' || c == ':';
#else
  return c == '/';
#endif
}

// NAME.bd1 becomes NAME.mqo (or the format's extension); any other name just
// gains it, so an input is never chosen as its own output.
std::string DocumentName(const std::string& input, const char* extension) {
  std::string base = input;
  if (EndsWithNoCase(base, ".bd1")) base.resize(base.size() - 4);
  return base + extension;
}

std::string BaseName(const std::string& path) {
  std::size_t i = path.size();
  while (i > 0 && !IsSeparator(path[i - 1])) --i;
  return path.substr(i);
}

// One line per kind of hazard, in the core's words, naming the input.
void Warn(const MqoHazards& hazards, const std::string& input) {
  for (int kind = 0; kind < kMqoWarningKinds; ++kind) {
    char text[kMqoWarningMax];
    if (std::size_t n = FormatMqoWarning(hazards, static_cast<MqoWarning>(kind), text))
      std::fprintf(stderr, "blockmqo-cli: warning: %.*s: %s\n", static_cast<int>(n), text,
                   input.c_str());
  }
}

struct Job {
  std::string input, output;
  MeshFormat format;  // Obj also writes its Mtl beside it
  MeshOptions mesh;   // the document itself when neither option is set
};

const char* Extension(MeshFormat format) {
  switch (format) {
    case MeshFormat::Obj: return ".obj";
    case MeshFormat::Mtl: return ".mtl";
    case MeshFormat::Glb: return ".glb";
    case MeshFormat::Mqo: break;
  }
  return ".mqo";
}

bool Fail(const char* message, const std::string& path, MeshFormat format) {
  // The core's messages name the document "(mqo)"; other formats say theirs.
  std::string text = message;
  if (EndsWithNoCase(text, "(mqo)")) text.replace(text.size() - 4, 3, Extension(format) + 1);
  std::fprintf(stderr, "blockmqo-cli: %s: %s\n", text.c_str(), path.c_str());
  return false;
}

// NAME.obj's materials go to NAME.mtl, which the OBJ names without its folder.
std::string MtlName(const std::string& obj) {
  return (EndsWithNoCase(obj, ".obj") ? obj.substr(0, obj.size() - 4) : obj) + ".mtl";
}

ReadResult ReadStandardInput(BlockData* data) {
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);
#endif
  std::string bytes;
  char buffer[65536];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, stdin)) bytes.append(buffer, n);
  if (std::ferror(stdin)) return ReadResult::Truncated;
  return ReadBlockDataBytes(bytes.data(), bytes.size(), data);
}

// One output into `file`, opened here, in pieces of the chunk, not yet in
// place: the caller commits it, or abandons it when a file written with it fails.
template <typename Next>
MqoResult WriteUncommitted(const std::string& path, std::vector<char>& chunk, OutputFile* file, Next next) {
  if (MqoResult result = OpenOutput(path.c_str(), file); result != MqoResult::Ok) return result;
  while (std::size_t n = next(chunk.data(), chunk.size())) {
    if (!WriteOutput(file, chunk.data(), n)) {
      AbandonOutput(file);
      return MqoResult::OutputWriteFailed;
    }
  }
  return MqoResult::Ok;
}

// One output, atomically (or to standard output), in pieces of the chunk.
template <typename Next>
MqoResult WriteAll(const std::string& path, std::vector<char>& chunk, Next next) {
  if (path == "-") {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    while (std::size_t n = next(chunk.data(), chunk.size()))
      if (std::fwrite(chunk.data(), 1, n, stdout) != n) return MqoResult::OutputWriteFailed;
    return std::fflush(stdout) == 0 ? MqoResult::Ok : MqoResult::OutputWriteFailed;
  }
  OutputFile file;
  MqoResult result = WriteUncommitted(path, chunk, &file, next);
  return result == MqoResult::Ok ? CommitOutput(&file) : result;
}

void Warn(const char* text, std::size_t n, const std::string& input) {
  if (n)
    std::fprintf(stderr, "blockmqo-cli: warning: %.*s: %s\n", static_cast<int>(n), text,
                 input.c_str());
}

bool Convert(const Job& job, bool quiet) {
  const bool isMesh = job.format != MeshFormat::Mqo || job.mesh.removeHiddenFaces ||
                      job.mesh.shareVertices;
  MqoHazards hazards{};
  if (!isMesh && job.input != "-" && job.output != "-") {
    // The document from file to file, exactly as the desktop program writes it.
    MqoResult result = ConvertFile(job.input.c_str(), job.output.c_str(), &hazards);
    if (result != MqoResult::Ok) {
      const char* message = MqoResultMessage(result);
      // Messages about the document name the output; the rest name the input.
      return Fail(message, EndsWithNoCase(message, "(mqo)") ? job.output : job.input, job.format);
    }
    if (!quiet) Warn(hazards, job.input);
    return true;
  }
  BlockData data;
  MqoResult result = MqoResultOfRead(job.input == "-" ? ReadStandardInput(&data)
                                                      : ReadBlockDataFile(job.input.c_str(), &data));
  if (result != MqoResult::Ok) return Fail(MqoResultMessage(result), job.input, job.format);
  hazards = CountMqoHazards(data);
  Mesh mesh{};
  std::vector<char> chunk;
  if (isMesh && BuildMesh(data, job.format, job.mesh, &mesh) != MeshResult::Ok) result = MqoResult::OutOfMemory;
  if (result == MqoResult::Ok) {
    try {
      chunk.resize(kMqoWriteChunk);
    } catch (const std::bad_alloc&) {
      result = MqoResult::OutOfMemory;
    }
  }
  std::string failed = job.output;
  // Writes one of the mesh's files, a piece at a time.
  auto meshFile = [&](MeshFormat format, const char* mtl) {
    return [doc = MeshDocument{&data, &mesh, format, mtl}, cursor = MeshCursor{}](
               char* out, std::size_t capacity) mutable { return MeshDocumentNext(doc, &cursor, out, capacity); };
  };
  if (result == MqoResult::Ok && !isMesh) {
    MqoCursor cursor{};
    result = WriteAll(job.output, chunk, [&](char* out, std::size_t capacity) {
      return MqoDocumentNext(data, &cursor, out, capacity);
    });
  } else if (result == MqoResult::Ok && job.format == MeshFormat::Obj && job.output != "-") {
    // Both files are written before either replaces its target, so a failure
    // leaves the old pair as it was, not a new MTL beside an old OBJ.
    const std::string mtl = MtlName(job.output), mtlBase = BaseName(mtl);
    OutputFile mtlFile, objFile;
    failed = mtl;
    result = WriteUncommitted(mtl, chunk, &mtlFile, meshFile(MeshFormat::Mtl, nullptr));
    if (result == MqoResult::Ok) {
      failed = job.output;
      result = WriteUncommitted(job.output, chunk, &objFile, meshFile(MeshFormat::Obj, mtlBase.c_str()));
      if (result != MqoResult::Ok) AbandonOutput(&mtlFile);
    }
    if (result == MqoResult::Ok) {
      failed = mtl;
      result = CommitOutput(&mtlFile);
      if (result != MqoResult::Ok) AbandonOutput(&objFile);
    }
    if (result == MqoResult::Ok) {
      failed = job.output;
      result = CommitOutput(&objFile);
    }
  } else if (result == MqoResult::Ok) {
    result = WriteAll(job.output, chunk, meshFile(job.format, nullptr));
  }
  if (!quiet && result == MqoResult::Ok) {
    char text[kMqoWarningMax];
    if (job.format == MeshFormat::Mqo) {
      // The mesh's document gives such faces a material of their own.
      if (isMesh) hazards.texturesOutOfRange = 0;
      Warn(hazards, job.input);
    }
    for (int kind = 0; kind < kMeshWarningKinds && job.format != MeshFormat::Mqo; ++kind)
      Warn(text, FormatMeshWarning(data, mesh, job.format, static_cast<MeshWarning>(kind), text),
           job.input);
  }
  ReleaseMesh(&mesh);
  ReleaseBlockData(&data);
  if (result != MqoResult::Ok) {
    const char* message = MqoResultMessage(result);
    const bool aboutOutput = EndsWithNoCase(message, "(mqo)");
    return Fail(message, aboutOutput ? failed : job.input,
                aboutOutput && failed != job.output ? MeshFormat::Mtl : job.format);
  }
  return true;
}

}  // namespace

// The core's message hook, for ConvertBlockDataToMqo; this program reports
// from ConvertFile's result instead, with the file's name.
void ShowError(const char* text) { std::fprintf(stderr, "blockmqo-cli: %s\n", text); }

int main(int argc, char** argv) {
  CLI::App app{"Converts block data files (*.bd1) to Metasequoia documents (*.mqo), or to a mesh\n"
               "for other tools (Wavefront OBJ, glTF binary).",
               "blockmqo-cli"};
  std::vector<std::string> files;
  std::string directory, format;
  app.add_option("files", files,
                 "IN.bd1 OUT, or one or more IN.bd1 each written as IN.mqo (or .obj, .glb);\n"
                 "- is standard input or output")
      ->required();
  app.add_option("-d,--directory", directory, "write every output into DIR")
      ->option_text("DIR")
      ->check(CLI::ExistingDirectory);
  app.add_option("-f,--format", format,
                 "mqo, obj (with its materials in NAME.mtl) or glb; by default taken from\n"
                 "OUT's extension, else mqo")
      ->option_text("FORMAT")
      ->check(CLI::IsMember({"mqo", "obj", "glb"}));
  MeshOptions mesh{};
  bool optimize = false, quiet = false;
  app.add_flag("--remove-hidden-faces", mesh.removeHiddenFaces,
               "drop each pair of faces of two blocks that lie on each other, facing each other");
  app.add_flag("--share-vertices", mesh.shareVertices,
               "make corners at the same position one vertex");
  app.add_flag("--optimize", optimize, "both of the above");
  app.add_flag("-q,--quiet", quiet, "print no warnings about what some readers reject or lose");
  app.set_version_flag("--version", "blockmqo-cli " BLOCKMQO_VERSION);
  // Operands are paths, also on Windows where "/maps/x.bd1" names a file on the
  // current drive: no "/d" or "/help" style options.
  app.allow_windows_style_options(false);
  app.footer(
      "Without -d, two files are an input and its output unless the second ends in .bd1;\n"
      "otherwise each input is written beside itself as NAME.mqo (.obj, .glb). An OBJ written\n"
      "to standard output names no materials file and none is written. Without options the\n"
      "document is the desktop program's, byte for byte. Exit status: 0 all converted,\n"
      "1 any conversion failed, 2 usage error.");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  }
  if (optimize) mesh.removeHiddenFaces = mesh.shareVertices = true;

  auto formatOf = [&](const std::string& output) {
    const std::string name = format.empty() ? output : "." + format;
    return EndsWithNoCase(name, ".obj")   ? MeshFormat::Obj
           : EndsWithNoCase(name, ".glb") ? MeshFormat::Glb
                                          : MeshFormat::Mqo;
  };
  std::vector<Job> jobs;
  if (!app.count("--directory") && files.size() == 2 && !EndsWithNoCase(files[1], ".bd1")) {
    jobs.push_back({files[0], files[1], formatOf(files[1]), mesh});
  } else {
    for (const std::string& input : files) {
      const MeshFormat chosen = formatOf("");
      // Standard input, without an output named, goes to standard output.
      std::string output = input == "-" ? input : DocumentName(input, Extension(chosen));
      if (app.count("--directory") && output != "-") {
        std::string dir = directory;
        if (!dir.empty() && !IsSeparator(dir.back())) dir += '/';
        output = dir + BaseName(output);
      }
      jobs.push_back({input, output, chosen, mesh});
    }
  }

  int status = 0;
  for (Job& job : jobs) {
    if (!Convert(job, quiet)) status = 1;
  }
  return status;
}
