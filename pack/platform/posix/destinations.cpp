// Destinations on POSIX systems: planned, written to a temporary, put in
// place by a rename that replaces nothing it should not.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_io.h"
#include "platform/posix/system.h"

namespace {

// Pipes, terminals and most devices cannot be synced; that is no failure.
bool SyncUnlessUnsupported(int fd) {
  return fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP || errno == EOPNOTSUPP || errno == EROFS;
}

// rename() that fails with EEXIST instead of replacing a file that appeared
// at `to` after it was planned as new.
int RenameWithoutReplacing(const char* from, const char* to) {
#ifdef RENAME_NOREPLACE
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
#endif
  // A hard link fails as well when the name is taken.
  if (link(from, to) == 0) {
    unlink(from);
    return 0;
  }
  if (errno == EEXIST) return -1;
  // A file system without links (FAT): the plain rename after a last look.
  struct stat st;
  if (lstat(to, &st) == 0) {
    errno = EEXIST;
    return -1;
  }
  return rename(from, to);
}

bool IsRegularFileMode(WriteMode mode) {
  return mode == WriteMode::NewFile || mode == WriteMode::ReplaceFile;
}

// stat() of a source or destination; "-" is standard input or output.
bool StatOf(const std::string& path, int standardFd, struct stat* st) {
  return IsStandardStream(path) ? fstat(standardFd, st) == 0 : stat(path.c_str(), st) == 0;
}

bool IsTerminalDevice(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  bool terminal = isatty(fd);
  close(fd);
  return terminal;
}

// A new file's folder must exist and take files, so that a missing folder
// is found before anything is written.
bool FolderTakesFiles(const std::string& name, const std::string& path, std::string* error) {
  if (access(FolderOf(path).c_str(), W_OK | X_OK) == 0) return true;
  *error = SystemError(name);
  return false;
}

}  // namespace

std::string ScratchFolderFor(const Destination& destination) {
  return IsRegularFileMode(destination.mode) ? FolderOf(destination.path) : "";
}

bool IsSameRegularFile(const std::string& source, const std::string& destination) {
  struct stat a, b;
  return StatOf(source, 0, &a) && StatOf(destination, 1, &b) && S_ISREG(a.st_mode) && S_ISREG(b.st_mode) &&
         a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool PlanDestination(const std::string& name, bool force, Destination* d, std::string* error) {
  *d = {name, name, WriteMode::NewFile, false};
  if (IsStandardStream(name)) {
    d->name = DisplayName(name, false);
    d->mode = WriteMode::StandardOutput;
    d->isTerminal = isatty(1);
    return true;
  }
  struct stat entry, target;
  if (lstat(name.c_str(), &entry) != 0) {
    if (errno != ENOENT) {
      *error = SystemError(name);
      return false;
    }
    return FolderTakesFiles(name, name, error);
  }
  target = entry;
  if (S_ISLNK(entry.st_mode) && stat(name.c_str(), &target) != 0) {
    *error = "'" + name + "' is a symbolic link that leads nowhere (" + strerror(errno) +
             "); setuppack writes through links but creates no file behind them";
    return false;
  }
  if (S_ISDIR(target.st_mode)) {
    *error = "'" + name + "' is a directory";
    return false;
  }
  struct stat out;
  if (S_ISLNK(entry.st_mode) && fstat(1, &out) == 0 && out.st_dev == target.st_dev &&
      out.st_ino == target.st_ino) {
    // /dev/stdout and /dev/fd/1 lead to standard output, which is written
    // as it stands, whatever it is.
    d->mode = WriteMode::StandardOutput;
    d->isTerminal = isatty(1);
    return true;
  }
  if (!S_ISREG(target.st_mode)) {
    d->mode = WriteMode::InPlace;
    d->isTerminal = S_ISCHR(target.st_mode) && IsTerminalDevice(name);
    return true;
  }
  std::string what = "'" + name + "' already exists";
  if (S_ISLNK(entry.st_mode)) {
    // The link stays; the file it leads to is what gets replaced.
    char resolved[PATH_MAX];
    if (!realpath(name.c_str(), resolved)) {
      *error = SystemError(name);
      return false;
    }
    d->path = resolved;
    what = "'" + name + "' already exists (a link to '" + d->path + "')";
  }
  if (!force) {
    *error = what + "; -f replaces it";
    return false;
  }
  d->mode = WriteMode::ReplaceFile;
  return FolderTakesFiles(name, d->path, error);
}

struct DestinationWriter::Temporary {
  TemporaryName name;
  int fd = -1;          // -1 once closed
  bool stream = false;  // a pipe, a device or standard output: written where it is
  bool owned = false;   // a stream this writer opened (not standard output)
};

namespace {

// A reader that went away: the rest is of no use to anyone. Ends as gzip
// ends, by SIGPIPE, with no message, once the temporaries are gone.
[[noreturn]] void EndOnClosedPipe() {
  for (TemporaryName* t = temporaries; t; t = t->next) unlink(t->path.c_str());
  signal(SIGPIPE, SIG_DFL);
  raise(SIGPIPE);
  _exit(141);
}

}  // namespace

DestinationWriter::DestinationWriter(const Destination& destination) : destination_(destination) {}

DestinationWriter::~DestinationWriter() { Discard(); }

bool DestinationWriter::Open(size_t, std::string* error) {
  const Destination& d = destination_;
  if (!IsRegularFileMode(d.mode)) {
    temporary_.reset(new Temporary);
    temporary_->stream = true;
    if (d.mode == WriteMode::StandardOutput) {
      fflush(stdout);
      temporary_->fd = 1;
      return true;
    }
    temporary_->owned = true;
    temporary_->fd = open(d.path.c_str(), O_WRONLY | O_NOCTTY);
    struct stat st;
    if (temporary_->fd < 0) {
      *error = SystemError(d.name);
    } else if (fstat(temporary_->fd, &st) == 0 && S_ISREG(st.st_mode)) {
      *error = "'" + d.name + "' became a regular file after it was checked; it was left alone";
    } else {
      return true;
    }
    Discard();
    return false;
  }
  temporary_.reset(new Temporary);
  temporary_->name.path = d.path + ".partial-" + std::to_string(getpid());
  struct stat old;
  bool keepMode = d.mode == WriteMode::ReplaceFile && stat(d.path.c_str(), &old) == 0;
  Remember(&temporary_->name);
  temporary_->fd = open(temporary_->name.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
  if (temporary_->fd < 0) {
    *error = SystemError(d.name);
    Forget(&temporary_->name);  // a file of that name that was there is not this one's
    temporary_.reset();
    return false;
  }
  // A replaced file keeps its permissions (a private file stays private).
  if (keepMode && fchmod(temporary_->fd, old.st_mode & 0777) != 0) {
    *error = SystemError(d.name);
    Discard();
    return false;
  }
  return true;
}

bool DestinationWriter::Write(const uint8_t* data, size_t size, std::string* error) {
  if (temporary_ && temporary_->fd >= 0 && WriteAll(temporary_->fd, data, size)) return true;
  if (!temporary_ || temporary_->fd < 0) errno = EBADF;
  if (temporary_ && temporary_->stream && errno == EPIPE) EndOnClosedPipe();
  *error = SystemError(destination_.name);
  Discard();
  return false;
}

bool DestinationWriter::Close(std::string* error) {
  if (!temporary_ || temporary_->fd < 0) return true;
  int failure = 0;
  if (temporary_->stream ? !SyncUnlessUnsupported(temporary_->fd) : fsync(temporary_->fd) != 0)
    failure = errno;
  if ((!temporary_->stream || temporary_->owned) && close(temporary_->fd) != 0 && !failure) failure = errno;
  temporary_->fd = -1;
  if (failure == 0) return true;
  errno = failure;
  *error = SystemError(destination_.name);
  Discard();
  return false;
}

bool DestinationWriter::Commit(std::string* error) {
  const Destination& d = destination_;
  if (!Close(error)) return false;
  if (temporary_ && temporary_->stream) {
    temporary_.reset();
    return true;
  }
  if (!temporary_) {
    errno = EBADF;
    *error = SystemError(d.name);
    return false;
  }
  const char* temp = temporary_->name.path.c_str();
  bool ok = (d.mode == WriteMode::NewFile ? RenameWithoutReplacing(temp, d.path.c_str())
                                          : rename(temp, d.path.c_str())) == 0;
  if (ok) {
    // Renamed first: an interruption in between finds no temporary to remove.
    Forget(&temporary_->name);
    temporary_.reset();
  } else if (errno == EEXIST) {
    *error = "'" + d.name + "' appeared while it was being written; it was left alone (-f replaces it)";
  } else {
    *error = SystemError(d.name);
  }
  Discard();
  return ok;
}

void DestinationWriter::Discard() {
  if (!temporary_) return;
  if (temporary_->stream) {
    if (temporary_->owned && temporary_->fd >= 0) close(temporary_->fd);
    temporary_.reset();
    return;
  }
  if (temporary_->fd >= 0) close(temporary_->fd);
  unlink(temporary_->name.path.c_str());
  Forget(&temporary_->name);
  temporary_.reset();
}

bool WriteDestination(const Destination& d, const std::vector<uint8_t>& data, std::string* error) {
  DestinationWriter writer(d);
  return writer.Open(data.size(), error) && writer.Write(data.data(), data.size(), error) &&
         writer.Commit(error);
}
