// Rewrites the committed maps, and the examples' documents from the reference
// writer, and the examples' OBJ, MTL and glb files from the mesh writers:
// make_fixtures SOURCE_DIR.
#include <cstdio>

#include "tests/support/bd1.h"
#include "tests/support/reference_document.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_fixtures SOURCE_DIR\n", stderr);
    return 2;
  }
  bool ok = true;
  for (const auto& [name, bytes] : CommittedMaps()) {
    const std::string path = std::string(argv[1]) + "/" + name;
    ok = WriteFileBytes(path + ".bd1", bytes) && ok;
    if (name.starts_with("examples/")) {
      const std::string doc = ReferenceDocument(bytes.data());
      ok = WriteFileBytes(path + ".mqo", {doc.begin(), doc.end()}) && ok;
    }
  }
  for (const std::string& path : MeshFixtures()) {
    const std::string bytes = WriteMeshFixture(argv[1], path, kMqoWriteChunk);
    ok = WriteFileBytes(std::string(argv[1]) + "/" + path, {bytes.begin(), bytes.end()}) && ok;
  }
  return ok ? 0 : 1;
}
