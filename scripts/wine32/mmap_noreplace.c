/* Preloaded into 32-bit Wine under qemu's user-mode emulator (scripts/wine32-run),
 * where it mends two ways in which qemu 7.2 differs from the kernel.
 *
 * 1. Asked for an mmap with MAP_FIXED_NOREPLACE over a range that is taken,
 * qemu 7.2 maps elsewhere instead of failing with EEXIST, as the kernel does.
 * Wine's loader reserves its address space that way and keeps whatever it
 * gets, so the misplaced mappings cover the shared user data page at
 * 0x7ffe0000 and Wine stops with "failed to map the shared user data".
 * Here a mapping placed anywhere but the address asked for is undone and the
 * call fails with EEXIST, as the kernel's would.
 *
 * Built twice by scripts/wine32-setup and loaded through a $LIB path: the
 * 32-bit build does this, the 64-bit build (-DBLOCKMQO_NOOP) is empty, so the
 * 64-bit processes of the same run (Wine's server, the shell) load a library
 * of the right class and say nothing. */
#ifndef BLOCKMQO_NOOP
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <sys/mman.h>
#include <sys/types.h>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

typedef void *(*mmap_fn)(void *, size_t, int, int, int, off_t);
typedef void *(*mmap64_fn)(void *, size_t, int, int, int, off64_t);

static void *checked(void *want, void *got, size_t length, int flags) {
  if ((flags & MAP_FIXED_NOREPLACE) && got != MAP_FAILED && got != want) {
    munmap(got, length);
    errno = EEXIST;
    return MAP_FAILED;
  }
  return got;
}

void *mmap(void *addr, size_t length, int prot, int flags, int fd, off_t offset) {
  static mmap_fn real;
  if (!real) real = (mmap_fn)dlsym(RTLD_NEXT, "mmap");
  return checked(addr, real(addr, length, prot, flags, fd, offset), length, flags);
}

void *mmap64(void *addr, size_t length, int prot, int flags, int fd, off64_t offset) {
  static mmap64_fn real;
  if (!real) real = (mmap64_fn)dlsym(RTLD_NEXT, "mmap64");
  return checked(addr, real(addr, length, prot, flags, fd, offset), length, flags);
}

/* 2. A signal ignored across execve stays ignored (POSIX), which is how a caller
 * runs a program under a file size limit with SIGXFSZ ignored and gets EFBIG
 * instead of the signal. qemu-user holds such signals with a handler of its
 * own, so when the emulated Wine loader execs itself (it does, once the
 * missing wine-preloader fails) they come back as default, and the first
 * write past the limit kills the program. The set of ignored signals is
 * carried over the exec here and ignored again before the program starts. */
#define IGNORED_VAR "BLOCKMQO_IGNORED_SIGNALS"

static void ignored_signals(char *text, size_t size) {  /* "IGNORED_VAR=1,25," */
  size_t n = (size_t)snprintf(text, size, "%s=", IGNORED_VAR);
  for (int sig = 1; sig < 65 && n + 4 < size; ++sig) {
    struct sigaction old;
    if (sig != SIGKILL && sig != SIGSTOP && sigaction(sig, NULL, &old) == 0 &&
        !(old.sa_flags & SA_SIGINFO) && old.sa_handler == SIG_IGN)
      n += (size_t)snprintf(text + n, size - n, "%d,", sig);
  }
}

__attribute__((constructor)) static void ignore_again(void) {
  const char *list = getenv(IGNORED_VAR);
  if (!list) return;
  for (const char *p = list; *p;) {
    int sig = atoi(p);
    if (sig > 0) signal(sig, SIG_IGN);
    while (*p && *p != ',') ++p;
    if (*p) ++p;
  }
  unsetenv(IGNORED_VAR);
}

typedef int (*execve_fn)(const char *, char *const[], char *const[]);

int execve(const char *path, char *const argv[], char *const envp[]) {
  static execve_fn real;
  if (!real) real = (execve_fn)dlsym(RTLD_NEXT, "execve");
  static char text[256];
  ignored_signals(text, sizeof text);
  size_t count = 0;
  while (envp && envp[count]) ++count;
  char **env = malloc((count + 2) * sizeof *env);
  if (!env) return real(path, argv, envp);
  size_t k = 0;
  for (size_t i = 0; i < count; ++i)
    if (strncmp(envp[i], IGNORED_VAR "=", sizeof IGNORED_VAR) != 0) env[k++] = envp[i];
  env[k++] = text;
  env[k] = NULL;
  int result = real(path, argv, env);
  free(env);
  return result;
}

int execv(const char *path, char *const argv[]) { return execve(path, argv, environ); }
#else
typedef int blockmqo_noop; /* an empty library of the host's class */
#endif
