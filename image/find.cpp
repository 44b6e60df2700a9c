// Directory listing for FindTextureFile. The page has no file system and
// leaves this file out; it calls PickTextureFile on the names it was given.
#include <cstring>
#include <string>
#include <vector>

#include "image/image.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#endif

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

std::string Join(const char* folder, const std::string& name) {
  std::string path = folder;
  if (!path.empty() && path.back() != '/' && path.back() != kSeparator) path += kSeparator;
  return path + name;
}

// The regular files in `folder` that the texture name could pick. Listing
// and comparing names, rather than opening the name, keeps the match the
// same on case-sensitive and case-insensitive file systems.
std::vector<std::string> Candidates(const char* folder, ImageName textureName) {
  std::vector<std::string> found;
  const auto matches = [&](const char* name) {
    const ImageName file{name, std::strlen(name)};
    return PickTextureFile(textureName, &file, 1) == 0;
  };
#ifdef _WIN32
  WIN32_FIND_DATAA entry;
  const HANDLE list = FindFirstFileA(Join(*folder ? folder : ".", "*").c_str(), &entry);
  if (list == INVALID_HANDLE_VALUE) return found;
  do {
    // A name the narrow code page cannot spell comes back with '?' in it,
    // which no file name holds: it must not match a map's '?'.
    if (!std::strchr(entry.cFileName, '?') && matches(entry.cFileName) &&
        !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      found.emplace_back(entry.cFileName);
  } while (FindNextFileA(list, &entry));
  FindClose(list);
#else
  DIR* list = opendir(*folder ? folder : ".");
  if (!list) return found;
  while (const dirent* entry = readdir(list)) {
    struct stat info;
    // stat follows links: a link to an image is the image.
    if (matches(entry->d_name) && stat(Join(folder, entry->d_name).c_str(), &info) == 0 &&
        S_ISREG(info.st_mode))
      found.emplace_back(entry->d_name);
  }
  closedir(list);
#endif
  return found;
}

}  // namespace

TextureFileResult FindTextureFile(ImageName textureName, const char* const* folders, int folderCount,
                                  char* path, std::size_t capacity, int* folder) {
  const char last = textureName.size ? textureName.bytes[textureName.size - 1] : '/';
  if (last == '/' || last == '\\') return TextureFileResult::NoFileName;
  for (int f = 0; f < folderCount; ++f) {
    const std::vector<std::string> names = Candidates(folders[f], textureName);
    std::vector<ImageName> list;
    for (const std::string& name : names) list.push_back({name.data(), name.size()});
    const int pick = PickTextureFile(textureName, list.data(), static_cast<int>(list.size()));
    if (pick < 0) continue;
    const std::string found = Join(folders[f], names[static_cast<std::size_t>(pick)]);
    if (found.size() >= capacity) return TextureFileResult::PathTooLong;
    std::memcpy(path, found.c_str(), found.size() + 1);
    if (folder) *folder = f;
    return TextureFileResult::Found;
  }
  return TextureFileResult::NotFound;
}
