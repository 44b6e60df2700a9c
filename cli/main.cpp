// blockmqo-cli: the converter for scripts and batch work.
//
//   blockmqo-cli IN.bd1 OUT            one file (OUT not ending in .bd1)
//   blockmqo-cli IN1.bd1 IN2.bd1 ...   each next to its input, as NAME.mqo
//   blockmqo-cli IN... -d DIR          each into DIR
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

#include "mqo/mqo.h"

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

// NAME.bd1 becomes NAME.mqo; any other name just gains ".mqo", so an input is
// never chosen as its own output.
std::string DocumentName(const std::string& input) {
  std::string base = input;
  if (EndsWithNoCase(base, ".bd1")) base.resize(base.size() - 4);
  return base + ".mqo";
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

bool Convert(const std::string& input, const std::string& output, bool quiet) {
  MqoHazards hazards{};
  MqoResult result = ConvertFile(input.c_str(), output.c_str(), &hazards);
  if (result != MqoResult::Ok) {
    const char* message = MqoResultMessage(result);
    // Messages about the document name the output; the rest name the input.
    const std::string& path = EndsWithNoCase(message, "(mqo)") ? output : input;
    std::fprintf(stderr, "blockmqo-cli: %s: %s\n", message, path.c_str());
    return false;
  }
  if (quiet) return true;
  Warn(hazards, input);
  return true;
}

}  // namespace

// The core's message hook, for ConvertBlockDataToMqo; this program reports
// from ConvertFile's result instead, with the file's name.
void ShowError(const char* text) { std::fprintf(stderr, "blockmqo-cli: %s\n", text); }

int main(int argc, char** argv) {
  CLI::App app{"Converts block data files (*.bd1) to Metasequoia documents (*.mqo).",
               "blockmqo-cli"};
  std::vector<std::string> files;
  std::string directory;
  app.add_option("files", files,
                 "IN.bd1 OUT.mqo, or one or more IN.bd1 each written as IN.mqo")
      ->required();
  app.add_option("-d,--directory", directory, "write every document into DIR")
      ->option_text("DIR")
      ->check(CLI::ExistingDirectory);
  bool quiet = false;
  app.add_flag("-q,--quiet", quiet, "print no warnings about what some readers reject");
  app.set_version_flag("--version", "blockmqo-cli " BLOCKMQO_VERSION);
  // Operands are paths, also on Windows where "/maps/x.bd1" names a file on the
  // current drive: no "/d" or "/help" style options.
  app.allow_windows_style_options(false);
  app.footer(
      "Without -d, two files are an input and its output unless the second ends in .bd1;\n"
      "otherwise each input is written beside itself as NAME.mqo. Exit status: 0 all converted,\n"
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

  std::vector<std::pair<std::string, std::string>> jobs;
  if (!app.count("--directory") && files.size() == 2 && !EndsWithNoCase(files[1], ".bd1")) {
    jobs.emplace_back(files[0], files[1]);
  } else {
    for (const std::string& input : files) {
      std::string output = DocumentName(input);
      if (app.count("--directory")) {
        std::string dir = directory;
        if (!dir.empty() && !IsSeparator(dir.back())) dir += '/';
        output = dir + BaseName(output);
      }
      jobs.emplace_back(input, output);
    }
  }

  int status = 0;
  for (const auto& [input, output] : jobs)
    if (!Convert(input, output, quiet)) status = 1;
  return status;
}
