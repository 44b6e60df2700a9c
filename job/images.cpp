// Each texture name's image, decided once for every front end: found in
// folders or picked among the images handed over, read once however many
// names pick the same file, and made a PNG or JPEG for the glb.
#include <cstdlib>
#include <cstring>

#include "job/job_internal.h"

#if !defined(__wasi__)
#include <filesystem>
#include <string>
#endif

bool IsPathSeparator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\' || c == ':';
#else
  return c == '/';
#endif
}

namespace {

std::size_t FolderLength(const char* path) {
  std::size_t end = 0;
  for (std::size_t i = 0; path[i]; ++i)
    if (IsPathSeparator(path[i])) end = i + 1;
  return end;
}

bool CopyText(char* to, const char* from, std::size_t size) {
  if (size >= kJobPathMax) return false;
  std::memcpy(to, from, size);
  to[size] = '\0';
  return true;
}

// Two folders written alike once trailing separators go ("maps", "maps/";
// "" and "." are the current folder).
bool SameFolder(const char* a, std::size_t an, const char* b, std::size_t bn) {
  auto trim = [](const char* s, std::size_t& n) {
    while (n > 1 && IsPathSeparator(s[n - 1])) --n;
    if (n == 1 && s[0] == '.') n = 0;
  };
  trim(a, an), trim(b, bn);
  return an == bn && std::memcmp(a, b, an) == 0;
}

// A file found in `folder`, as the MTL beside an OBJ in `objFolder` names it:
// by its name alone when the two folders are written alike (the usual case:
// the map's folder), else by its path from there. std::filesystem takes
// narrow names as UTF-8 on Windows; a name it cannot convert keeps the path
// as found.
void PathFromObj(const char* file, const char* folder, const char* objFolder, std::size_t objLength, char* out) {
  const char* name = file + std::strlen(folder);
  while (IsPathSeparator(*name)) ++name;
  if (SameFolder(folder, std::strlen(folder), objFolder, objLength) && CopyText(out, name, std::strlen(name))) return;
  CopyText(out, file, std::strlen(file));
#if !defined(__wasi__)
  try {
    namespace fs = std::filesystem;
    const fs::path from = fs::absolute(std::string(objFolder, objLength).append(objLength ? "" : ".")).lexically_normal();
    const fs::path to = fs::absolute(file).lexically_normal();
    const fs::path relative = to.lexically_relative(from);
    const std::string text = (relative.empty() ? to : relative).generic_string();
    CopyText(out, text.c_str(), text.size());
  } catch (const std::exception&) {
  }
#endif
}

// A whole file's bytes (malloc'd), or the system's reason.
bool ReadImageFile(const char* path, unsigned char** bytes, std::size_t* size, SystemError* cause) {
#if defined(__wasi__)
  (void)path;  // no files on the page: it hands its images over
  return ReadWholeStream(nullptr, bytes, size, cause);
#else
  std::FILE* file = std::fopen(path, "rb");
  if (!file) {
    *cause = LastSystemError();
    return false;
  }
  const bool ok = ReadWholeStream(file, bytes, size, cause);
  std::fclose(file);
  return ok;
#endif
}

}  // namespace

void PickImages(const Job& job, const BlockData& data, const Mesh& mesh, JobImageFiles* files, JobReport* report) {
  const JobImages& from = job.images;
  const bool given = from.givenCount > 0;
  // The map's own folder, unless the caller says where to look.
  const char* mapFolder = ".";
  char mapFolderBuffer[kJobPathMax];
  if (!given && !from.folderCount && job.input.source == JobSource::Path) {
    const std::size_t n = FolderLength(job.input.path);
    if (n && CopyText(mapFolderBuffer, job.input.path, n)) mapFolder = mapFolderBuffer;
  }
  const char* const* folders = from.folderCount ? from.folders : &mapFolder;
  [[maybe_unused]] const int folderCount = from.folderCount ? from.folderCount : job.input.source == JobSource::Path;
  const char* objFolder = job.output.target == JobTarget::Path ? job.output.path : "";
  const std::size_t objFolderLength = FolderLength(objFolder);
  ImageName* names = given ? static_cast<ImageName*>(std::malloc(sizeof(ImageName) * static_cast<std::size_t>(from.givenCount))) : nullptr;
  for (int i = 0; names && i < from.givenCount; ++i) names[i] = from.given[i].name;

  for (int t = 0; t < kTextureNameCount; ++t) {
    JobImageReport& r = report->image[t];
    r = JobImageReport{JobImageUse::None, ImageResult::Ok, 0, -1, -1, {}};
    const ImageName name{data.textureNames[t], std::strlen(data.textureNames[t])};
    const bool inUse = mesh.groupFaceCount[t] > 0 && name.size > 0;
    if (names) {
      r.given = PickTextureFile(name, names, from.givenCount);
      if (r.given >= 0) {
        const ImageName file = names[r.given];
        if (!CopyText(r.path, file.bytes, file.size)) r.path[0] = '\0';
      }
      r.use = !inUse ? (r.given >= 0 ? JobImageUse::NotUsed : JobImageUse::None)
                     : (r.given >= 0 ? JobImageUse::Used : JobImageUse::NotGiven);
    } else if (inUse) {
#if defined(__wasi__)
      const bool found = false;  // the page has no folders: it hands its images over
#else
      const bool found = FindTextureFile(name, folders, folderCount, r.path, sizeof r.path, &r.folder) ==
                         TextureFileResult::Found;
#endif
      r.use = found ? JobImageUse::Used : JobImageUse::NotGiven;
      if (!found) r.folder = -1;
    }
    if (r.use != JobImageUse::Used) continue;
    MeshImage& image = files->image[t];
    if (job.format == MeshFormat::Obj) {
      if (r.folder >= 0 && job.output.target == JobTarget::Path)
        PathFromObj(r.path, folders[r.folder], objFolder, objFolderLength, files->path[t]);
      else  // by its name alone: the caller puts the files where it will
        std::memcpy(files->path[t], r.path + FolderLength(r.path), std::strlen(r.path + FolderLength(r.path)) + 1);
      if (files->path[t][0]) image.path = files->path[t];
      continue;
    }
    if (job.format != MeshFormat::Glb) continue;
    // The same file picked by an earlier name: its image, read once.
    auto sameFile = [&r](const JobImageReport& e) {
      if (e.use != JobImageUse::Used && e.use != JobImageUse::Unreadable) return false;
      return r.given >= 0 ? e.given == r.given : e.folder >= 0 && std::strcmp(e.path, r.path) == 0;
    };
    int same = 0;
    while (same < t && !sameFile(report->image[same])) ++same;
    if (same == t) {
      unsigned char* bytes = nullptr;
      std::size_t size = 0;
      if (r.given >= 0) {
        r.cause = MakeGltfImage(from.given[r.given].bytes, from.given[r.given].size, &files->loaded[t]);
      } else if (ReadImageFile(r.path, &bytes, &size, &r.system)) {
        r.cause = MakeGltfImage(bytes, size, &files->loaded[t]);
      }
      std::free(bytes);
      if (r.system || r.cause != ImageResult::Ok) r.use = JobImageUse::Unreadable;
    } else {
      r.use = report->image[same].use, r.cause = report->image[same].cause, r.system = report->image[same].system;
    }
    const GltfImage& loaded = files->loaded[same];
    if (r.use == JobImageUse::Used) image = MeshImage{loaded.bytes, loaded.size, loaded.mimeType, nullptr};
  }
  std::free(names);
}
