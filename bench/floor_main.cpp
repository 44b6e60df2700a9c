// The least a conversion process must spend, as a process of its own: read
// the whole map into one allocation, write as many bytes as its document
// holds to a temporary file beside the target in the conversion's pieces,
// fsync it and rename it over the target.
//
//   blockmqo_floor MAP.bd1 BYTES OUT
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: blockmqo_floor MAP.bd1 BYTES OUT\n");
    return 2;
  }
  std::FILE* in = std::fopen(argv[1], "rb");
  struct stat st;
  if (!in || fstat(fileno(in), &st) != 0 || st.st_size <= 0) return 1;
  auto* map = static_cast<char*>(std::malloc(static_cast<std::size_t>(st.st_size)));
  const bool read = map && std::fread(map, 1, static_cast<std::size_t>(st.st_size), in) == static_cast<std::size_t>(st.st_size);
  std::fclose(in);
  // What the bytes are does not matter to the disk, only how many: the
  // piece is the map's first bytes, repeated.
  constexpr std::size_t kPiece = 512 * 1024;
  auto* piece = static_cast<char*>(std::calloc(kPiece, 1));
  if (!read || !piece) return 1;
  std::memcpy(piece, map, static_cast<std::size_t>(st.st_size) < kPiece ? static_cast<std::size_t>(st.st_size) : kPiece);
  const std::string temp = std::string(argv[3]) + ".tmp";
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return 1;
  for (unsigned long long left = std::strtoull(argv[2], nullptr, 10); left > 0;) {
    const std::size_t n = left < kPiece ? static_cast<std::size_t>(left) : kPiece;
    if (write(fd, piece, n) != static_cast<ssize_t>(n)) return 1;
    left -= n;
  }
  if (fsync(fd) != 0 || close(fd) != 0) return 1;
  std::free(piece);
  std::free(map);
  return std::rename(temp.c_str(), argv[3]) == 0 ? 0 : 1;
}
