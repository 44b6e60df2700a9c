/* Preloaded into 32-bit Wine under qemu's user-mode emulator (scripts/wine32-run).
 *
 * Asked for an mmap with MAP_FIXED_NOREPLACE over a range that is taken,
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
#include <stddef.h>
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
#else
typedef int blockmqo_noop; /* an empty library of the host's class */
#endif
