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
#include "job/job.h"

using namespace cli;

namespace {

// One planned job through the core's conversion, and what it reports.
bool Convert(const cli::Job& planned, MeshOptions choice, const std::vector<std::string>& textureFolders, bool quiet,
             Progress* progress) {
  std::vector<const char*> folders;
  for (const std::string& folder : textureFolders) folders.push_back(folder.c_str());
  ::Job job{};
  job.input = planned.input == "-" ? JobInput{JobSource::StandardInput, nullptr, nullptr, 0}
                                   : JobInput{JobSource::Path, planned.input.c_str(), nullptr, 0};
  job.output = planned.output == "-" ? JobOutput{JobTarget::StandardOutput, nullptr, {}, nullptr}
                                     : JobOutput{JobTarget::Path, planned.output.c_str(), {}, nullptr};
  job.format = planned.format;
  job.options = choice;
  job.images = {folders.data(), static_cast<int>(folders.size()), nullptr, 0};
  // Tens of kilobytes (a path for each texture name): not on the stack.
  static JobReport report;
  const JobOutcome outcome = RunJob(job, &report);
  if (outcome.result != JobResult::Ok) {
    const std::string failed = outcome.file == JobFile::Input ? Shown(planned.input, false)
                               : outcome.file == JobFile::Mtl ? MtlName(planned.output)  // the core's name for it
                                                              : Shown(planned.output, true);
    return Fail(progress, outcome, planned.format, failed);
  }
  char text[kJobWarningMax];
  for (int kind = 0; kind < kJobWarningKinds && !quiet; ++kind)
    Warn(progress, text, FormatJobWarning(report, static_cast<JobWarning>(kind), text), planned.input);
  return true;
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

int main(int argc, char** argv) {
#ifdef _WIN32
  if (argc == 1 && AloneOnConsole()) {
    Introduce();
    return 2;
  }
#endif
  KeepMemoryBetweenJobs();  // a batch's maps after the first reuse the memory of the one before
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

  std::vector<cli::Job> jobs;
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
