// blockmqo-cli: the converter for scripts and batch work.
//
//   blockmqo-cli IN.bd1 -o OUT          one file, to the output named
//   blockmqo-cli IN.bd1 OUT.mqo         the same, when OUT ends in .mqo, .obj
//                                       or .glb (any case), or is -
//   blockmqo-cli IN1.bd1 IN2.bd1 ...    each next to its input, as NAME.mqo
//   blockmqo-cli IN... -d DIR           each into DIR
//
// Only a file the user named as an output (and a named OBJ's MTL) is
// replaced: any other pair of operands is two inputs, and a run whose other
// outputs exist (without --overwrite), whose outputs would land on one another
// or on an input, or whose device or pipe input has nowhere to write, is
// refused before anything is written (cli/plan.cpp). -d's folder is made.
// The format comes from --format or the output's name (.obj with its .mtl
// beside it, .glb); a name that says nothing, or the opposite, is a usage
// error. "-" is standard input or output.
//
// Exit status: 0 when every conversion succeeded, 1 when any failed, 2 for a
// usage error. A failure prints one line on standard error naming the file
// and the system's reason; success is silent unless the map holds what some
// readers choke on, which prints one warning line per kind (not with
// --quiet). Warnings never change the document or the exit status. A batch
// that takes more than a second counts its maps on a terminal.
#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// The C runtime expands wildcards in the arguments, as Windows' own tools
// do: cmd and PowerShell hand "*.bd1" over as it is.
extern "C" {
int _dowildcard = -1;
}
#else
#include <unistd.h>
#endif

#include "cli/cli.h"
#include "image/image.h"
#include "mesh/mesh.h"
#include "mqo/mqo.h"
#include "mqo/output_file.h"

using namespace cli;

namespace {

ReadResult ReadStandardInput(BlockData* data, SystemError* cause) {
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);
#endif
  std::string bytes;
  char buffer[65536];
  try {
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, stdin)) bytes.append(buffer, n);
  } catch (const std::bad_alloc&) {
    return ReadResult::OutOfMemory;
  }
  if (std::ferror(stdin)) {
    *cause = LastSystemError();
    return ReadResult::Truncated;
  }
  return ReadBlockDataBytes(bytes.data(), bytes.size(), data);
}

constexpr OutputResult kWritten{OutputStatus::Ok, 0};

// One output into `file`, opened here, in pieces of the chunk, not yet in
// place: the caller commits it, or abandons it when a file written with it fails.
template <typename Next>
OutputResult WriteUncommitted(const std::string& path, std::vector<char>& chunk, OutputFile* file, Next next) {
  if (OutputResult result = OpenOutput(path.c_str(), file); result.status != OutputStatus::Ok) return result;
  while (std::size_t n = next(chunk.data(), chunk.size())) {
    if (OutputResult result = WriteOutput(file, chunk.data(), n); result.status != OutputStatus::Ok) {
      AbandonOutput(file);
      return result;
    }
  }
  return kWritten;
}

// One output, atomically (or to standard output), in pieces of the chunk.
template <typename Next>
OutputResult WriteAll(const std::string& path, std::vector<char>& chunk, Next next) {
  if (path == "-") {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    while (std::size_t n = next(chunk.data(), chunk.size()))
      if (std::fwrite(chunk.data(), 1, n, stdout) != n) return {OutputStatus::WriteFailed, LastSystemError()};
    if (std::fflush(stdout) != 0) return {OutputStatus::WriteFailed, LastSystemError()};
    return kWritten;
  }
  OutputFile file;
  OutputResult result = WriteUncommitted(path, chunk, &file, next);
  return result.status == OutputStatus::Ok ? CommitOutput(&file) : result;
}

// A whole file's bytes, or false.
bool ReadWholeFile(const char* path, std::vector<unsigned char>* bytes) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) return false;
  unsigned char buffer[65536];
  bool ok = true;
  try {
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, file)) bytes->insert(bytes->end(), buffer, buffer + n);
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  ok = ok && !std::ferror(file);
  std::fclose(file);
  return ok;
}

// The map's textures in use, found in the folders: for the MTL, each file's
// path from the OBJ's folder; for the glb, each file made a PNG or JPEG (a
// file refused, like one not found, has no bytes). Each file is read once.
struct Textures {
  MeshImage image[kTextureNameCount] = {};
  std::string path[kTextureNameCount];
  GltfImage loaded[kTextureNameCount] = {};

  Textures() = default;
  Textures(const Textures&) = delete;
  Textures& operator=(const Textures&) = delete;
  ~Textures() {
    for (GltfImage& file : loaded) ReleaseGltfImage(&file);
  }
};

// A file found in `folder`, as the MTL beside an OBJ in `objFolder` names
// it: by its name alone when the two folders are written alike (the usual
// case: the map's folder), else by its path from there. std::filesystem
// takes narrow names as UTF-8 on Windows; a name it cannot convert keeps the
// path as found.
std::string PathFromFolder(const std::string& file, const std::string& folder, const std::string& objFolder) {
  std::string name = file.substr(folder.size());
  while (!name.empty() && IsSeparator(name.front())) name.erase(0, 1);
  if (FolderOf(folder + "/x") == FolderOf(objFolder + "/x")) return name;
  try {
    namespace fs = std::filesystem;
    const fs::path from = fs::absolute(objFolder).lexically_normal(), to = fs::absolute(file).lexically_normal();
    const fs::path relative = to.lexically_relative(from);
    return (relative.empty() ? to : relative).generic_string();
  } catch (const std::exception&) {
    return file;
  }
}

void FindTextures(const BlockData& data, const Mesh& mesh, const Job& job, const std::vector<std::string>& folders,
                  Textures* textures) {
  std::vector<const char*> where;
  for (const std::string& folder : folders) where.push_back(folder.c_str());
  std::string found[kTextureNameCount];
  for (int t = 0; t < kTextureNameCount; ++t) {
    const ImageName name{data.textureNames[t], std::char_traits<char>::length(data.textureNames[t])};
    char path[4096];
    int in = 0;  // the folder it was found in
    if (!mesh.groupFaceCount[t] ||
        FindTextureFile(name, where.data(), static_cast<int>(where.size()), path, sizeof path, &in) !=
            TextureFileResult::Found)
      continue;
    found[t] = path;
    MeshImage& image = textures->image[t];
    if (job.format == MeshFormat::Obj) {
      textures->path[t] = PathFromFolder(found[t], folders[static_cast<std::size_t>(in)],
                                         job.output == "-" ? "." : FolderOf(job.output));
      image.path = textures->path[t].c_str();
      continue;
    }
    int same = 0;
    while (same < t && found[same] != found[t]) ++same;
    if (same == t) {
      std::vector<unsigned char> bytes;
      if (ReadWholeFile(path, &bytes) && MakeGltfImage(bytes.data(), bytes.size(), &textures->loaded[t]) != ImageResult::Ok)
        textures->loaded[t] = GltfImage{};
    }
    const GltfImage& loaded = textures->loaded[same];
    image = MeshImage{loaded.bytes, loaded.size, loaded.mimeType, nullptr};
  }
}

bool Convert(const Job& job, MeshOptions choice, const std::vector<std::string>& textureFolders, bool quiet,
             Progress* progress) {
  const bool isMesh = job.format != MeshFormat::Mqo || choice.removeHiddenFaces || choice.shareVertices;
  BlockData data;
  SystemError cause = 0;
  ReadResult read = job.input == "-" ? ReadStandardInput(&data, &cause)
                                     : ReadBlockDataFileWithCause(job.input.c_str(), &data, &cause);
  if (read != ReadResult::Ok) return FailRead(progress, Shown(job.input, false), read, cause);
  MqoHazards hazards = CountMqoHazards(data);
  Mesh mesh{};
  std::vector<char> chunk;
  bool built = !isMesh || BuildMesh(data, job.format, choice, &mesh) == MeshResult::Ok;
  try {
    if (built) chunk.resize(kMqoWriteChunk);
  } catch (const std::bad_alloc&) {
    built = false;
  }
  if (!built) {
    ReleaseMesh(&mesh);
    ReleaseBlockData(&data);
    return FailRead(progress, job.input, ReadResult::OutOfMemory, 0);
  }
  Textures textures;
  if (job.format != MeshFormat::Mqo) {
    // The map's own folder, unless the user names others.
    std::vector<std::string> folders = textureFolders;
    if (folders.empty() && job.input != "-") folders.push_back(FolderOf(job.input));
    FindTextures(data, mesh, job, folders, &textures);
  }
  // Writes one of the mesh's files, a piece at a time.
  auto meshFile = [&](MeshFormat format, const char* mtl) {
    return [doc = MeshDocument{&data, &mesh, format, mtl, textures.image}, cursor = MeshCursor{}](
               char* out, std::size_t capacity) mutable { return MeshDocumentNext(doc, &cursor, out, capacity); };
  };
  std::string failed = job.output;
  MeshFormat failedFormat = job.format;
  OutputResult result = kWritten;
  if (!isMesh) {
    MqoCursor cursor{};
    result = WriteAll(job.output, chunk, [&](char* out, std::size_t capacity) {
      return MqoDocumentNext(data, &cursor, out, capacity);
    });
  } else if (job.format == MeshFormat::Obj && job.output != "-") {
    // Both files are written before either replaces its target, so a failure
    // leaves the old pair as it was, not a new MTL beside an old OBJ.
    const std::string mtl = MtlName(job.output), mtlBase = BaseName(mtl);
    OutputFile mtlFile, objFile;
    failed = mtl, failedFormat = MeshFormat::Mtl;
    result = WriteUncommitted(mtl, chunk, &mtlFile, meshFile(MeshFormat::Mtl, nullptr));
    if (result.status == OutputStatus::Ok) {
      failed = job.output, failedFormat = MeshFormat::Obj;
      result = WriteUncommitted(job.output, chunk, &objFile, meshFile(MeshFormat::Obj, mtlBase.c_str()));
      if (result.status != OutputStatus::Ok) AbandonOutput(&mtlFile);
    }
    if (result.status == OutputStatus::Ok) {
      failed = mtl, failedFormat = MeshFormat::Mtl;
      result = CommitOutput(&mtlFile);
      if (result.status != OutputStatus::Ok) AbandonOutput(&objFile);
    }
    if (result.status == OutputStatus::Ok) {
      failed = job.output, failedFormat = MeshFormat::Obj;
      result = CommitOutput(&objFile);
    }
  } else {
    result = WriteAll(job.output, chunk, meshFile(job.format, nullptr));
  }
  if (!quiet && result.status == OutputStatus::Ok) {
    char text[kMeshWarningMax];
    if (job.format == MeshFormat::Mqo) {
      // The mesh's document gives such faces a material of their own.
      if (isMesh) hazards.texturesOutOfRange = 0;
      for (int kind = 0; kind < kMqoWarningKinds; ++kind)
        Warn(progress, text, FormatMqoWarning(hazards, static_cast<MqoWarning>(kind), text), job.input);
    }
    for (int kind = 0; kind < kMeshWarningKinds && job.format != MeshFormat::Mqo; ++kind)
      Warn(progress, text,
           FormatMeshWarning(MeshDocument{&data, &mesh, job.format, nullptr, textures.image},
                             static_cast<MeshWarning>(kind), text),
           job.input);
  }
  ReleaseMesh(&mesh);
  ReleaseBlockData(&data);
  if (result.status == OutputStatus::Ok) return true;
  return Fail(progress, MqoResultOfOutput(result), Extension(failedFormat) + 1, Shown(failed, true),
              result.cause);
}

#ifdef _WIN32
// Double-clicked in Explorer, the program has a console of its own that
// closes as soon as it exits: it explains itself and waits for a key instead.
bool AloneOnConsole() {
  DWORD processes[2], mode;
  return GetConsoleProcessList(processes, 2) == 1 &&
         GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode);
}

void Introduce() {
  std::fputs(
      "blockmqo-cli converts block data files (*.bd1) to Metasequoia documents (*.mqo),\n"
      "or to meshes for other 3D tools (.obj, .glb). It is used from a command prompt,\n"
      "not by double-clicking it; blockmqo.exe asks for the files in dialogs instead.\n"
      "\n"
      "To convert a map:\n"
      "  1. Open the folder holding blockmqo-cli.exe in File Explorer, click the address\n"
      "     bar, type  cmd  and press Enter. A command prompt opens in that folder.\n"
      "  2. Type a command and press Enter, for example:\n"
      "       blockmqo-cli examples\\cube.bd1 cube.mqo\n"
      "       blockmqo-cli examples\\*.bd1\n"
      "     (In PowerShell, start it with .\\ as in  .\\blockmqo-cli examples\\cube.bd1 cube.mqo)\n"
      "  3. blockmqo-cli --help lists every option; README.txt tells more.\n"
      "\n"
      "Press any key to close this window.\n",
      stdout);
  std::fflush(stdout);
  _getch();
}
#endif

}  // namespace

// The core's message hook, for ConvertBlockDataToMqo; this program reports
// from the results instead, with the file's name and the reason.
void ShowError(const char* text) { std::fprintf(stderr, "blockmqo-cli: %s\n", text); }

int main(int argc, char** argv) {
#ifdef _WIN32
  if (argc == 1 && AloneOnConsole()) {
    Introduce();
    return 2;
  }
#endif
  CLI::App app{"Converts block data files (*.bd1) to Metasequoia documents (*.mqo), or to a mesh\n"
               "for other tools (Wavefront OBJ, glTF binary).",
               "blockmqo-cli"};
  Request request;
  app.add_option("files", request.files,
                 "IN.bd1 [OUT.mqo|OUT.obj|OUT.glb|-], or one or more IN.bd1 each written as\n"
                 "IN.mqo (or .obj, .glb); - is standard input or output");
  app.add_option("-o,--output", request.output, "write the one input to FILE (- for standard output)")
      ->option_text("FILE");
  app.add_option("-d,--directory", request.directory, "write every output into DIR, made when missing")
      ->option_text("DIR");
  app.add_option("-f,--format", request.format,
                 "mqo, obj (with its materials in NAME.mtl) or glb; by default taken from\n"
                 "the output's extension, else mqo")
      ->option_text("FORMAT")
      ->check(CLI::IsMember({"mqo", "obj", "glb"}));
  app.add_option("--textures", request.textures,
                 "look for the map's texture images in DIR (may be given more than once, the first\n"
                 "holding one wins); by default the map's own folder. A glb holds the images,\n"
                 "an OBJ's materials name them")
      ->option_text("DIR")
      ->check(CLI::ExistingDirectory)
      ->allow_extra_args(false);
  app.add_flag("--overwrite", request.overwrite,
               "let outputs not named (NAME.mqo beside its input, or in DIR) replace files");
  MeshOptions choice{};
  bool optimize = false, quiet = false;
  app.add_flag("--remove-hidden-faces", choice.removeHiddenFaces,
               "drop each pair of faces of two blocks that lie on each other, facing each other");
  app.add_flag("--share-vertices", choice.shareVertices, "make corners at the same position one vertex");
  app.add_flag("--optimize", optimize, "both of the above");
  app.add_flag("-q,--quiet", quiet,
               "print no warnings about what some readers reject or lose, and no progress");
  app.set_version_flag("--version", "blockmqo-cli " BLOCKMQO_VERSION);
  // Operands are paths, also on Windows where "/maps/x.bd1" names a file on the
  // current drive: no "/d" or "/help" style options.
  app.allow_windows_style_options(false);
  app.footer(
      "Two operands are an input and its output only when the second ends in .mqo, .obj or\n"
      ".glb or is -; otherwise every operand is an input, written beside itself as NAME.mqo\n"
      "(.obj, .glb) or into DIR. Only a named output (and a named OBJ's NAME.mtl) replaces\n"
      "a file: a run whose other outputs exist is refused, listing them, unless --overwrite\n"
      "is given. Refused too: outputs on one another or on an input, and an input that is not\n"
      "a regular file (a device, a pipe) with no output named and no DIR. An OBJ written to\n"
      "standard output names no materials file and none is written. Warnings go to standard\n"
      "error and change neither the output nor the exit status. Without options the\n"
      "document is the desktop program's, byte for byte.\n"
      "Exit status: 0 all converted, 1 any conversion failed, 2 usage error (nothing written).");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ExtrasError&) {
    // Every operand is taken, so what is left over is an option we do not know.
    const std::vector<std::string> unknown = app.remaining();
    return UsageError("unknown option " + (unknown.empty() ? std::string("?") : unknown.front()));
  } catch (const CLI::ParseError& e) {
    return UsageError(e.what());
  }
  if (optimize) choice.removeHiddenFaces = choice.shareVertices = true;

  std::vector<Job> jobs;
  if (const std::string refused = Plan(request, KindOfFile, &jobs); !refused.empty()) return UsageError(refused);
  if (!request.directory.empty()) {
    if (const SystemError cause = MakeFolder(request.directory)) {
      FailFolder(request.directory, cause);
      return 1;
    }
  }

  Progress progress{jobs.size(), !quiet && jobs.size() > 1 && StandardErrorIsTerminal(), false,
                    std::chrono::steady_clock::now(), {}};
  int status = 0;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    if (!Convert(jobs[i], choice, request.textures, quiet, &progress)) status = 1;
    ShowProgress(&progress, i + 1);
  }
  ClearProgress(&progress);
  return status;
}
