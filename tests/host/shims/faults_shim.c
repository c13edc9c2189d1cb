// Faults planted in a real setuppack process through LD_PRELOAD, each set by
// an environment variable:
//   FAULT_THREADS_THAT_START=N  pthread_create fails (EAGAIN) after N threads
//   FAULT_MALLOC_IN_THREADS=1   malloc fails in every thread but the first
//   FAULT_FLIP_FILE=NAME, FAULT_FLIP_AT=OFFSET
//                               the first read of a file whose path ends in
//                               NAME that covers OFFSET returns that byte
//                               with its lowest bit flipped; later reads are
//                               true (flaky media, a file changed as read)
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

static int started = 0;
static int flipped = 0;
static char flipFd[4096];  // fds open on the file to flip

// Under AddressSanitizer its allocator is the one: malloc is not replaced.
#ifndef __SANITIZE_ADDRESS__
extern void* __libc_malloc(size_t size);

void* malloc(size_t size) {
  static int inThreads = -1;
  if (inThreads < 0) inThreads = getenv("FAULT_MALLOC_IN_THREADS") != NULL;
  if (inThreads && syscall(SYS_gettid) != getpid()) {
    errno = ENOMEM;
    return NULL;
  }
  return __libc_malloc(size);
}
#endif

int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg) {
  static int (*real)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  if (!real) real = dlsym(RTLD_NEXT, "pthread_create");
  const char* most = getenv("FAULT_THREADS_THAT_START");
  if (most && __atomic_fetch_add(&started, 1, __ATOMIC_SEQ_CST) >= atoi(most)) return EAGAIN;
  return real(thread, attr, start, arg);
}

static void Remember(int fd, const char* path) {
  const char* name = getenv("FAULT_FLIP_FILE");
  if (fd < 0 || fd >= (int)sizeof flipFd || !name) return;
  size_t n = strlen(name), p = strlen(path);
  flipFd[fd] = p >= n && strcmp(path + p - n, name) == 0;
}

static void Flip(int fd, void* buffer, ssize_t got, off_t at) {
  if (got <= 0 || flipped || fd < 0 || fd >= (int)sizeof flipFd || !flipFd[fd]) return;
  off_t target = atoll(getenv("FAULT_FLIP_AT"));
  if (target >= at && target < at + got) {
    ((unsigned char*)buffer)[target - at] ^= 1;
    flipped = 1;
  }
}

// The calls that open and read files go to the kernel directly: they may
// come before the C library (or a sanitizer's runtime) is ready for dlsym.
static int OpenAt(int dir, const char* path, int flags, va_list args) {
  int mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, int) : 0;
  int fd = (int)syscall(SYS_openat, dir, path, flags, mode);
  Remember(fd, path);
  return fd;
}

#define OPEN_LIKE(name, dir, ...)            \
  int name(__VA_ARGS__, int flags, ...) {    \
    va_list args;                            \
    va_start(args, flags);                   \
    int fd = OpenAt(dir, path, flags, args); \
    va_end(args);                            \
    return fd;                               \
  }
OPEN_LIKE(open, AT_FDCWD, const char* path)
OPEN_LIKE(open64, AT_FDCWD, const char* path)
OPEN_LIKE(openat, dir, int dir, const char* path)
OPEN_LIKE(openat64, dir, int dir, const char* path)

ssize_t read(int fd, void* buffer, size_t size) {
  off_t at = (off_t)syscall(SYS_lseek, fd, 0, SEEK_CUR);
  ssize_t got = (ssize_t)syscall(SYS_read, fd, buffer, size);
  if (at >= 0) Flip(fd, buffer, got, at);
  return got;
}

ssize_t pread(int fd, void* buffer, size_t size, off_t at) {
  ssize_t got = (ssize_t)syscall(SYS_pread64, fd, buffer, size, at);
  Flip(fd, buffer, got, at);
  return got;
}

ssize_t pread64(int fd, void* buffer, size_t size, off_t at) { return pread(fd, buffer, size, at); }
