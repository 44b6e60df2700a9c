// Rewrites the committed maps and the examples' documents: make_fixtures SOURCE_DIR.
#include <cstdio>

#include "tests/support/bd1.h"
#include "tests/support/reference_document.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fixtures SOURCE_DIR\n");
    return 2;
  }
  for (const Fixture& f : Fixtures()) {
    const std::string path = std::string(argv[1]) + "/" + f.path;
    WriteFileBytes(path + ".bd1", f.bytes);
    if (f.path.starts_with("examples/")) {
      const std::string doc = ReferenceDocument(f.bytes.data());
      WriteFileBytes(path + ".mqo", {doc.begin(), doc.end()});
    }
    if (ReadFileBytes(path + ".bd1").size() != f.bytes.size()) return 1;
  }
  return 0;
}
