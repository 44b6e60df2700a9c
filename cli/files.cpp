// The file system facts planning asks for, and the folder -d writes into.
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <sys/stat.h>
#endif

#include "cli/cli.h"

namespace cli {

namespace {

bool MakeOne(const std::string& path) {
#ifdef _WIN32
  return CreateDirectoryA(path.c_str(), nullptr) != 0;
#else
  return mkdir(path.c_str(), 0777) == 0;
#endif
}

bool ParentMissing(SystemError cause) {
#ifdef _WIN32
  return cause == ERROR_PATH_NOT_FOUND;
#else
  return cause == ENOENT;
#endif
}

}  // namespace

FileKind KindOfFile(const std::string& path) {
#ifdef _WIN32
  // The names are the C runtime's, as fopen takes them.
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FileKind::Missing;
  return attributes & FILE_ATTRIBUTE_DIRECTORY ? FileKind::Folder : FileKind::Regular;
#else
  // Through links: a link to a map is a map. But a link to one of this
  // program's own streams (/dev/stdin, /dev/fd/1) is that stream, whatever it
  // was redirected to: it has no folder of its own to write beside.
  struct stat facts, link, stream;
  if (stat(path.c_str(), &facts) != 0) return FileKind::Missing;
  if (S_ISDIR(facts.st_mode)) return FileKind::Folder;
  if (!S_ISREG(facts.st_mode)) return FileKind::Other;
  if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
    for (int fd = 0; fd <= 2; ++fd)
      if (fstat(fd, &stream) == 0 && stream.st_dev == facts.st_dev && stream.st_ino == facts.st_ino)
        return FileKind::Other;
  return FileKind::Regular;
#endif
}

SystemError MakeFolder(const std::string& path) {
  if (MakeOne(path)) return 0;
  const SystemError cause = LastSystemError();
  if (KindOfFile(path) == FileKind::Folder) return 0;
  // Only a missing folder above is made, from the nearest one that exists
  // down, so a share or a drive is never made.
  std::size_t end = path.size();
  while (end > 0 && IsPathSeparator(path[end - 1])) --end;
  while (end > 0 && !IsPathSeparator(path[end - 1])) --end;
  if (!ParentMissing(cause) || end == 0) return cause;
  if (const SystemError above = MakeFolder(path.substr(0, end))) return above;
  return MakeOne(path) || KindOfFile(path) == FileKind::Folder ? 0 : LastSystemError();
}

}  // namespace cli
