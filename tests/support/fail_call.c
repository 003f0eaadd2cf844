/* Test support: a library loaded with LD_PRELOAD into the tools built with
 * libc shared, making chosen system calls fail the way some file systems
 * make them fail, which no file system at hand here does on request.
 *
 * PFILE_FAIL lists the faults, separated by commas, each CALL:ERRNO, then
 * optionally :N (only the N-th such call of the process fails; without it,
 * every one) and @PROGRAM (only in processes of that name, such as a child
 * nifti_tool; without it, in every process that inherits the environment).
 * ERRNO is a name from the table below. The calls:
 *   openat_tmpfile  openat() asking for an unnamed file (O_TMPFILE), as on a
 *                   file system without them (EOPNOTSUPP)
 *   close_written   close() or fclose() of a regular file open for writing,
 *                   as NFS reports a quota at close (EDQUOT): the descriptor
 *                   is closed all the same, and the file keeps only its first
 *                   half, standing for what reached the server in time
 *   flock, fsetxattr, fchmod   any call, nothing done */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

enum call { openat_tmpfile, close_written, flock_call, fsetxattr_call, fchmod_call, calls };
static const char* const call_names[calls] = {"openat_tmpfile", "close_written", "flock",
                                              "fsetxattr", "fchmod"};

static struct fault {
  int error;  /* 0: this call is left alone */
  long only;  /* fail only the only-th call; 0: every call */
  long seen;
} faults[calls];

static int error_number(const char* name) {
  static const struct { const char* name; int value; } known[] = {
      {"EOPNOTSUPP", EOPNOTSUPP}, {"EDQUOT", EDQUOT}, {"ENOLCK", ENOLCK},
      {"ENOSPC", ENOSPC},         {"EPERM", EPERM},   {"EIO", EIO}};
  for (size_t i = 0; i < sizeof known / sizeof known[0]; ++i) {
    if (strcmp(name, known[i].name) == 0) return known[i].value;
  }
  return 0;
}

/* Read once at load; a fault the library does not know stops the process,
 * so that a misspelt test cannot pass by injecting nothing. */
__attribute__((constructor)) static void read_faults(void) {
  const char* wanted = getenv("PFILE_FAIL");
  if (!wanted) return;
  char copy[256];
  snprintf(copy, sizeof copy, "%s", wanted);
  char* rest = copy;
  for (char* item; (item = strsep(&rest, ",")) != NULL;) {
    char* program = item;
    strsep(&program, "@");
    if (program && strcmp(program, program_invocation_short_name) != 0) continue;
    char* call = strsep(&item, ":");
    char* error = strsep(&item, ":");
    int known = 0;
    for (int c = 0; c < calls && error; ++c) {
      if (strcmp(call, call_names[c]) != 0 || !(faults[c].error = error_number(error))) continue;
      faults[c].only = item ? strtol(item, NULL, 10) : 0;
      known = 1;
    }
    if (!known) {
      fprintf(stderr, "fail_call: PFILE_FAIL: cannot inject \"%s\"\n", call);
      abort();
    }
  }
}

/* Whether this call of `c` is to fail; if so, errno is set. */
static int failing(enum call c) {
  struct fault* f = &faults[c];
  if (!f->error) return 0;
  ++f->seen;
  if (f->only != 0 && f->seen != f->only) return 0;
  errno = f->error;
  return 1;
}

static void* next(const char* name) { return dlsym(RTLD_NEXT, name); }

static int opens_unnamed(int flags) { return (flags & O_TMPFILE) == O_TMPFILE; }

static int open_at(const char* name, int dir, const char* path, int flags, va_list args) {
  const mode_t mode = (flags & O_CREAT) || opens_unnamed(flags) ? va_arg(args, mode_t) : 0;
  if (opens_unnamed(flags) && failing(openat_tmpfile)) return -1;
  int (*real)(int, const char*, int, ...) = next(name);
  return real(dir, path, flags, mode);
}

int openat(int dir, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int fd = open_at("openat", dir, path, flags, args);
  va_end(args);
  return fd;
}

int openat64(int dir, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int fd = open_at("openat64", dir, path, flags, args);
  va_end(args);
  return fd;
}

static int open_for_writing(int fd) {
  struct stat st;
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY && fstat(fd, &st) == 0 &&
         S_ISREG(st.st_mode);
}

/* Whether this close is to fail; if so, the file is cut to half its length. */
static int failing_close(int fd) {
  struct stat st;
  if (!open_for_writing(fd) || !failing(close_written)) return 0;
  const int err = errno;
  if (fstat(fd, &st) == 0 && ftruncate(fd, st.st_size / 2) != 0) abort();
  errno = err;
  return 1;
}

int close(int fd) {
  const int fail = failing_close(fd);
  const int err = errno;
  int (*real)(int) = next("close");
  const int result = real(fd);
  if (!fail) return result;
  errno = err;
  return -1;
}

int fclose(FILE* stream) {
  /* What the stream holds reaches the file before it is cut. */
  if (open_for_writing(fileno(stream))) fflush(stream);
  const int fail = failing_close(fileno(stream));
  const int err = errno;
  int (*real)(FILE*) = next("fclose");
  const int result = real(stream);
  if (!fail) return result;
  errno = err;
  return EOF;
}

int flock(int fd, int operation) {
  if (failing(flock_call)) return -1;
  int (*real)(int, int) = next("flock");
  return real(fd, operation);
}

int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) {
  if (failing(fsetxattr_call)) return -1;
  int (*real)(int, const char*, const void*, size_t, int) = next("fsetxattr");
  return real(fd, name, value, size, flags);
}

int fchmod(int fd, mode_t mode) {
  if (failing(fchmod_call)) return -1;
  int (*real)(int, mode_t) = next("fchmod");
  return real(fd, mode);
}
