#include "job/job_internal.h"

#if defined(__wasi__)

// The page's module has no files and imports nothing: it reads bytes and
// writes to the caller's sink, and any file step fails.
#include <cerrno>
#include <cstring>

OutputResult OpenOutput(const char*, OutputFile* file, bool) {
  std::memset(file, 0, sizeof *file);
  return {OutputStatus::OpenFailed, ENOTSUP};
}
OutputResult WriteOutput(OutputFile*, const char*, std::size_t) { return {OutputStatus::WriteFailed, ENOTSUP}; }
OutputResult CommitOutput(OutputFile*) { return {OutputStatus::WriteFailed, ENOTSUP}; }
void AbandonOutput(OutputFile*) {}

#else

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__) && defined(O_DIRECT)
#include <pthread.h>
#include <semaphore.h>
#define BLOCKMQO_BLOCK_WRITER 1
#endif
#endif

namespace {

bool CopyPath(char* to, const char* from) {
  std::size_t n = std::strlen(from);
  if (n >= kOutputPathMax) return false;
  std::memcpy(to, from, n + 1);
  return true;
}

// The temporary file's directory prefix: everything up to the last separator.
std::size_t DirectoryLength(const char* path) {
  std::size_t end = 0;
  for (std::size_t i = 0; path[i]; ++i) {
    bool separator = path[i] == '/';
#ifdef _WIN32
    separator = separator || path[i] == '\\' || path[i] == ':';
#endif
    if (separator) end = i + 1;
  }
  return end;
}

// Builds "<dir of target><name>" into file->temp.
bool TempPathBeside(OutputFile* file, const char* name) {
  std::size_t dir = DirectoryLength(file->target);
  std::size_t n = std::strlen(name);
  if (dir + n >= kOutputPathMax) return false;
  std::memcpy(file->temp, file->target, dir);
  std::memcpy(file->temp + dir, name, n + 1);
  return true;
}

constexpr OutputResult kOk{OutputStatus::Ok, 0};

OutputResult Failed(OutputStatus status, SystemError cause) {
  // A failure always has some reason to show.
  return {status, cause ? cause : LastSystemError()};
}
OutputResult OpenFailed(SystemError cause = 0) { return Failed(OutputStatus::OpenFailed, cause); }

// The conversion hands over large pieces of whole lines; a stream buffer
// would only split each of them into two writes.
OutputResult Unbuffered(OutputFile* file) {
  std::setvbuf(file->stream, nullptr, _IONBF, 0);
  return kOk;
}

OutputResult OpenInPlace(const char* path, OutputFile* file) {
  file->inPlace = true;
  file->temp[0] = '\0';
  file->stream = std::fopen(path, "wb");
  return file->stream ? Unbuffered(file) : OpenFailed();
}

#ifdef _WIN32

// What CommitOutput and AbandonOutput do to files, which is all that differs
// between the platforms there.
bool SyncToDisk(std::FILE* stream) { return _commit(_fileno(stream)) == 0; }
bool ReplaceTarget(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
void RemoveFile(const char* path) { DeleteFileA(path); }

// The temporary file's path: the usual name, or a shorter one where the
// target's directory leaves little room under MAX_PATH.
bool TempName(OutputFile* file, unsigned n) {
  char name[16];
  std::snprintf(name, sizeof name, "~bmq%04x.tmp", n & 0xffffu);
  if (TempPathBeside(file, name)) return true;
  std::snprintf(name, sizeof name, "~%04x", n & 0xffffu);
  return TempPathBeside(file, name);
}

OutputResult OpenTemp(OutputFile* file, bool targetExists) {
  unsigned seed = static_cast<unsigned>(GetTickCount() ^ (GetCurrentProcessId() << 16));
  for (unsigned attempt = 0; attempt < 64; ++attempt) {
    if (!TempName(file, seed + attempt * 7919u)) {
      // No room for a file beside the target. An existing target written in
      // place would be lost to a failed write, so it is refused; a new one is
      // written in place and removed again if the document fails.
      if (targetExists) return OpenFailed(ERROR_FILENAME_EXCED_RANGE);
      OutputResult result = OpenInPlace(file->target, file);
      file->created = result.status == OutputStatus::Ok;
      return result;
    }
    int fd = _open(file->temp, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd >= 0) {
      file->stream = _fdopen(fd, "wb");
      if (file->stream) return Unbuffered(file);
      OutputResult failed = OpenFailed();
      _close(fd);
      RemoveFile(file->temp);
      return failed;
    }
    if (errno != EEXIST) return OpenFailed();
  }
  return OpenFailed(ERROR_FILE_EXISTS);
}

}  // namespace

OutputResult OpenOutput(const char* path, OutputFile* file, bool) {
  std::memset(file, 0, sizeof *file);
  if (!CopyPath(file->target, path)) return OpenFailed(ERROR_FILENAME_EXCED_RANGE);
  // A rename would replace a read-only file where a plain create-or-truncate
  // is refused, so the attribute is checked first.
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    return OpenFailed(ERROR_ACCESS_DENIED);
  // Opening the existing target for writing, without truncating it, tells us
  // what a plain create-or-truncate would have met: locked by another
  // program, a directory, a missing folder.
  HANDLE probe = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return OpenFailed();
    return OpenTemp(file, false);
  }
  DWORD type = GetFileType(probe);
  CloseHandle(probe);
  if (type != FILE_TYPE_DISK) return OpenInPlace(path, file);
  return OpenTemp(file, true);
}

#else  // POSIX

bool SyncToDisk(std::FILE* stream) { return fsync(fileno(stream)) == 0; }
bool ReplaceTarget(const char* from, const char* to) { return rename(from, to) == 0; }
void RemoveFile(const char* path) { unlink(path); }

#if BLOCKMQO_BLOCK_WRITER

// The thread that writes a file's whole blocks, in the order handed over,
// up to kOutputQueue - 1 writes in hand: the caller posts `work` for each
// write (and to stop), the thread posts `done` after each.
struct BlockWrite {
  const char* bytes;
  std::size_t size;
  int error;  // the thread's, read after its `done`
};
struct BlockWriterState {
  sem_t work, done;
  pthread_t thread;
  int fd;
  BlockWrite queue[kOutputQueue];
  unsigned posted, finished;  // the caller's: writes handed over, and those waited for
  bool stop;
  int error;  // the caller's: the first failed write's
};

// Where the file system took the flag and still refuses such a write, it and
// the rest go through the cache.
int WriteAll(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EINVAL) {
      const int flags = fcntl(fd, F_GETFL);
      if (flags != -1 && (flags & O_DIRECT) && fcntl(fd, F_SETFL, flags & ~O_DIRECT) == 0) continue;
    }
    if (n <= 0) return n < 0 ? errno : EIO;
    bytes += n, size -= static_cast<std::size_t>(n);
  }
  return 0;
}

// A wait that a signal handler cuts short is taken up again.
void Wait(sem_t* semaphore) {
  while (sem_wait(semaphore) != 0 && errno == EINTR) {
  }
}

void* RunBlockWriter(void* state) {
  auto* w = static_cast<BlockWriterState*>(state);
  for (unsigned taken = 0;; ++taken) {
    Wait(&w->work);
    if (w->stop) return nullptr;
    BlockWrite& write = w->queue[taken % kOutputQueue];
    write.error = WriteAll(w->fd, write.bytes, write.size);
    sem_post(&w->done);
  }
}

// Waits until at most `pending` writes are in hand; the first error, or 0.
int WaitForBlocks(BlockWriterState* w, unsigned pending) {
  while (w->posted - w->finished > pending) {
    Wait(&w->done);
    const int error = w->queue[w->finished++ % kOutputQueue].error;
    if (!w->error) w->error = error;
  }
  return w->error;
}

// Hands a write over, and returns once the buffer after it is free again.
int SubmitBlocks(BlockWriterState* w, const char* bytes, std::size_t size) {
  if (w->error) return w->error;
  w->queue[w->posted++ % kOutputQueue] = {bytes, size, 0};
  sem_post(&w->work);
  return WaitForBlocks(w, kOutputQueue - 1);
}

// Asks for the O_DIRECT flag and starts the thread; the file stays as it was
// where either is refused.
void StartBlockWriter(OutputFile* file) {
  const int fd = fileno(file->stream), flags = fcntl(fd, F_GETFL);
  if (flags == -1 || fcntl(fd, F_SETFL, flags | O_DIRECT) != 0) return;
  auto* w = static_cast<BlockWriterState*>(std::calloc(1, sizeof(BlockWriterState)));
  if (w && sem_init(&w->work, 0, 0) == 0) {
    if (sem_init(&w->done, 0, 0) == 0) {
      w->fd = fd;
      // The thread only calls write: a small stack, rather than the system's
      // megabytes of address space, which a limit on it would have to allow.
      pthread_attr_t attributes;
      bool started = false;
      if (pthread_attr_init(&attributes) == 0) {
        started = pthread_attr_setstacksize(&attributes, 64 * 1024) == 0 &&
                  pthread_create(&w->thread, &attributes, RunBlockWriter, w) == 0;
        pthread_attr_destroy(&attributes);
      }
      if (started) {
        file->blocks = reinterpret_cast<BlockWriter*>(w);
        return;
      }
      sem_destroy(&w->done);
    }
    sem_destroy(&w->work);
  }
  std::free(w);
  fcntl(fd, F_SETFL, flags);
}

// Waits for the last write and ends the thread; the file goes through the
// cache from here on. The first error, or 0.
int StopBlockWriter(OutputFile* file) {
  auto* w = reinterpret_cast<BlockWriterState*>(file->blocks);
  if (!w) return 0;
  int error = WaitForBlocks(w, 0);
  w->stop = true;
  sem_post(&w->work);
  pthread_join(w->thread, nullptr);
  const int flags = fcntl(w->fd, F_GETFL);
  if ((flags == -1 || ((flags & O_DIRECT) && fcntl(w->fd, F_SETFL, flags & ~O_DIRECT) != 0)) && !error) error = errno;
  sem_destroy(&w->work);
  sem_destroy(&w->done);
  std::free(w);
  file->blocks = nullptr;
  return error;
}

#endif

mode_t NewFileMode() {
  mode_t mask = umask(0);
  umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

OutputResult OpenTemp(OutputFile* file, mode_t mode, const struct stat* existing) {
  if (!TempPathBeside(file, ".blockmqo-XXXXXX")) return OpenFailed(ENAMETOOLONG);
  int fd = mkstemp(file->temp);
  if (fd < 0) return OpenFailed();
  // The new file takes the place of the old one, so it keeps its permission
  // bits (and, where we may, its owner).
  if (existing && fchown(fd, existing->st_uid, existing->st_gid) != 0) {
    // Not ours to give away; the mode still carries over.
  }
  if (fchmod(fd, mode) == 0) file->stream = fdopen(fd, "wb");
  if (!file->stream) {
    OutputResult failed = OpenFailed();
    close(fd);
    RemoveFile(file->temp);
    return failed;
  }
  return Unbuffered(file);
}

OutputResult OpenTarget(const char* path, OutputFile* file) {
  std::memset(file, 0, sizeof *file);
  if (!CopyPath(file->target, path)) return OpenFailed(ENAMETOOLONG);
  struct stat st;
  if (stat(path, &st) != 0) {
    if (errno != ENOENT) return OpenFailed();
    struct stat link;
    if (lstat(path, &link) == 0) {
      // A dangling link: the file it names is created and written in place.
      // Until the document is complete that file is ours, so a failure
      // removes it rather than leaving part of a document behind.
      OutputResult result = OpenInPlace(path, file);
      if (result.status == OutputStatus::Ok) file->created = realpath(path, file->target) != nullptr;
      return result;
    }
    // A missing folder: the temporary file's creation says so.
    return OpenTemp(file, NewFileMode(), nullptr);
  }
  if (!S_ISREG(st.st_mode)) return OpenInPlace(path, file);
  // A link is followed: the file it names is replaced and the link stays.
  if (!realpath(path, file->target)) return OpenFailed();
  // Opening the existing target for writing, without truncating it, tells us
  // what a plain create-or-truncate would have met (a read-only file).
  int probe = open(file->target, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (probe < 0) return OpenFailed();
  close(probe);
  return OpenTemp(file, st.st_mode & 07777, &st);
}

}  // namespace

OutputResult OpenOutput(const char* path, OutputFile* file, bool inBlocks) {
  const OutputResult result = OpenTarget(path, file);
#if BLOCKMQO_BLOCK_WRITER
  if (result.status == OutputStatus::Ok && inBlocks && !file->inPlace) StartBlockWriter(file);
#else
  (void)inBlocks;
#endif
  return result;
}

#endif

OutputResult CommitOutput(OutputFile* file) {
  // The first step that fails gives the reason; the steps after it only clean up.
  SystemError cause = 0;
  auto step = [&cause](bool ok) {
    if (!ok && !cause) cause = LastSystemError();
    return ok;
  };
  bool ok = true;
#if BLOCKMQO_BLOCK_WRITER
  if (const int error = StopBlockWriter(file)) cause = static_cast<SystemError>(error), ok = false;
#endif
  ok = ok && step(std::fflush(file->stream) == 0);
  if (ok && !file->inPlace) ok = step(SyncToDisk(file->stream));
  ok = step(std::fclose(file->stream) == 0) && ok;
  file->stream = nullptr;
  if (ok && !file->inPlace) ok = step(ReplaceTarget(file->temp, file->target));
  if (!ok && !file->inPlace) RemoveFile(file->temp);
  if (!ok && file->created) RemoveFile(file->target);
  return ok ? kOk : Failed(OutputStatus::WriteFailed, cause);
}

void AbandonOutput(OutputFile* file) {
#if BLOCKMQO_BLOCK_WRITER
  StopBlockWriter(file);
#endif
  if (file->stream) std::fclose(file->stream);
  file->stream = nullptr;
  if (!file->inPlace) RemoveFile(file->temp);
  if (file->created) RemoveFile(file->target);
}

namespace {

// The document is flushed to disk before it replaces the target. Asking the
// kernel to start writing each few megabytes as soon as they are complete
// lets the disk work while later lines are formatted, so the final flush
// waits for little more than the last stretch.
void StartWriteBack(OutputFile* file) {
#if defined(__linux__)
  constexpr unsigned long long kWriteBackStretch = 4u << 20;
  if (file->inPlace || file->written - file->flushedFrom < kWriteBackStretch) return;
  // Whatever is still in the stream's buffer is left for the final flush.
  sync_file_range(fileno(file->stream), static_cast<off_t>(file->flushedFrom),
                  static_cast<off_t>(file->written - file->flushedFrom), SYNC_FILE_RANGE_WRITE);
  file->flushedFrom = file->written;
#else
  (void)file;
#endif
}

}  // namespace

OutputResult WriteOutput(OutputFile* file, const char* bytes, std::size_t size) {
#if BLOCKMQO_BLOCK_WRITER
  if (auto* w = reinterpret_cast<BlockWriterState*>(file->blocks)) {
    if (size % kOutputBlock || reinterpret_cast<std::uintptr_t>(bytes) % kOutputBlock) {
      if (const int error = StopBlockWriter(file)) return Failed(OutputStatus::WriteFailed, static_cast<SystemError>(error));
    } else {
      if (const int error = SubmitBlocks(w, bytes, size))
        return Failed(OutputStatus::WriteFailed, static_cast<SystemError>(error));
      file->written += size, file->flushedFrom = file->written;
      return kOk;
    }
  }
#endif
  if (std::fwrite(bytes, 1, size, file->stream) != size) return Failed(OutputStatus::WriteFailed, 0);
  file->written += size;
  StartWriteBack(file);
  return kOk;
}

#endif  // __wasi__
