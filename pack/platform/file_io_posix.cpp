#include "platform/file_io.h"
#include "platform/size_limit.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

namespace {

// As gzip and xz say it: the file's name, then the system's reason
// ("nosuch: No such file or directory"). What was being done (opening,
// reading, writing) is left to the command's context, as there.
std::string SystemError(const std::string& name) { return name + ": " + strerror(errno); }

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The names of the temporary files being written, newest first, for the
// signal handler to remove: it only reads the list, which changes by single
// pointer stores.
struct TemporaryName {
  std::string path;
  std::atomic<TemporaryName*> next{nullptr};
};
std::atomic<TemporaryName*> temporaries{nullptr};

void RemoveTemporariesAndDie(int signal) {
  for (TemporaryName* t = temporaries; t; t = t->next) unlink(t->path.c_str());
  ::signal(signal, SIG_DFL);
  raise(signal);
}

void Remember(TemporaryName* name) {
  name->next = temporaries.load();
  temporaries = name;
}

void Forget(TemporaryName* name) {
  for (std::atomic<TemporaryName*>* link = &temporaries; *link; link = &(*link).load()->next) {
    if (*link == name) {
      *link = name->next.load();
      return;
    }
  }
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    size_t chunk = std::min<size_t>(size - done, 1 << 20);
    ssize_t n = write(fd, data + done, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += (size_t)n;
  }
  return true;
}

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

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

bool IsStandardStream(const std::string& path) { return path == "-"; }

std::string DisplayName(const std::string& path, bool isSource) {
  if (!IsStandardStream(path)) return path;
  return isSource ? "standard input" : "standard output";
}

static std::string TooLarge(const std::string& name) {
  return name + ": 4 GiB or larger (pack files measure sizes in 32 bits)";
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* data, std::string* error) {
  std::string name = DisplayName(path, true);
  int fd = IsStandardStream(path) ? 0 : open(path.c_str(), O_RDONLY);
  if (fd < 0) {
    *error = SystemError(name);
    return false;
  }
  data->clear();
  // Room for a regular file at once, so that the vector does not grow by
  // copies; what it reads decides all the same.
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (uint64_t)st.st_size >= SizeLimit()) {
    if (fd != 0) close(fd);
    *error = TooLarge(name);
    return false;
  }
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) data->reserve((size_t)st.st_size);
  uint8_t buffer[1 << 16];
  ssize_t n;
  bool tooLarge = false;
  while ((n = read(fd, buffer, sizeof buffer)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    data->insert(data->end(), buffer, buffer + n);
    if ((tooLarge = data->size() > SizeLimit() - 1)) break;
  }
  int saved = errno;
  if (fd != 0) close(fd);
  if (n < 0) {
    errno = saved;
    *error = SystemError(name);
    return false;
  }
  if (tooLarge) {
    *error = TooLarge(name);
    return false;
  }
  return true;
}

struct SourceFile::Handle {
  int fd = -1;
  bool owned = false;
};

SourceFile::SourceFile() = default;

SourceFile::~SourceFile() {
  if (handle_ && handle_->owned) close(handle_->fd);
}

bool SourceFile::Open(const std::string& path, std::string* error) {
  name_ = DisplayName(path, true);
  handle_.reset(new Handle);
  handle_->owned = !IsStandardStream(path);
  handle_->fd = handle_->owned ? open(path.c_str(), O_RDONLY) : 0;
  if (handle_->fd < 0) {
    *error = SystemError(name_);
    handle_.reset();
    return false;
  }
  struct stat st;
  if (fstat(handle_->fd, &st) == 0 && S_ISREG(st.st_mode)) {
    sizeKnown_ = true;
    size_ = (uint64_t)st.st_size;
    if (size_ >= SizeLimit()) {
      *error = TooLarge(name_);
      return false;
    }
  }
  return true;
}

bool SourceFile::Read(uint8_t* buffer, size_t size, size_t* got, std::string* error) {
  ssize_t n;
  do {
    n = read(handle_->fd, buffer, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    *error = SystemError(name_);
    return false;
  }
  *got = (size_t)n;
  return true;
}

bool SourceFile::Rewind(std::string* error) {
  if (lseek(handle_->fd, 0, SEEK_SET) == 0) return true;
  *error = SystemError(name_);
  return false;
}

struct ScratchFile::Handle {
  int fd = -1;
};

ScratchFile::ScratchFile() = default;

ScratchFile::~ScratchFile() {
  if (handle_) close(handle_->fd);
}

bool ScratchFile::Open(const std::string& folder, std::string* error) {
  const char* tmp = getenv("TMPDIR");
  std::string where = !folder.empty() ? folder : tmp && *tmp ? tmp : "/tmp";
  std::string pattern = JoinPath(where, ".setuppack-scratch-XXXXXX");
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back(0);
  int fd = mkstemp(name.data());
  if (fd < 0) {
    *error = SystemError("scratch file in " + where);
    return false;
  }
  // Nameless from the start: nothing is left behind, whatever ends the process.
  unlink(name.data());
  handle_.reset(new Handle);
  handle_->fd = fd;
  return true;
}

bool ScratchFile::Append(const uint8_t* data, size_t size, std::string* error) {
  if (WriteAll(handle_->fd, data, size)) return true;
  *error = SystemError("scratch file of the packed records");
  return false;
}

bool ScratchFile::Rewind(std::string* error) {
  if (lseek(handle_->fd, 0, SEEK_SET) == 0) return true;
  *error = SystemError("scratch file of the packed records");
  return false;
}

bool ScratchFile::Read(uint8_t* buffer, size_t size, size_t* got, std::string* error) {
  ssize_t n;
  do {
    n = read(handle_->fd, buffer, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    *error = SystemError("scratch file of the packed records");
    return false;
  }
  *got = (size_t)n;
  return true;
}

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

bool FinishStandardOutput(std::string* error) {
  bool earlierFailure = ferror(stdout) != 0;
  errno = 0;
  if (fflush(stdout) != 0 || earlierFailure) {
    *error = errno ? SystemError("standard output") : "standard output: an earlier write failed";
    return false;
  }
  // close() reports what a file system kept back (NFS); a standard output
  // that was never open is no failure.
  if (close(1) != 0 && errno != EBADF) {
    *error = SystemError("standard output");
    return false;
  }
  return true;
}

void InstallSignalHandlers() {
  signal(SIGPIPE, SIG_IGN);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = RemoveTemporariesAndDie;
    sigaction(s, &action, nullptr);
  }
}

bool FindAnyCase(const std::string& folder, const std::string& name, std::vector<std::string>* found,
                 std::string* error) {
  found->clear();
  DIR* dir = opendir(folder.c_str());
  if (!dir) {
    *error = SystemError(folder);
    return false;
  }
  while (const dirent* entry = readdir(dir)) {
    if (strcasecmp(entry->d_name, name.c_str()) == 0) found->push_back(entry->d_name);
  }
  closedir(dir);
  std::sort(found->begin(), found->end());
  return true;
}

bool MakeFolder(const std::string& folder, std::string* error, bool* created) {
  bool made = mkdir(folder.c_str(), 0777) == 0;
  if (created) *created = made;
  if (made || errno == EEXIST) return true;
  *error = "cannot create '" + folder + "' (" + strerror(errno) + ")";
  return false;
}

void RemoveFolder(const std::string& folder) { rmdir(folder.c_str()); }

std::string ProgramFolder(const char* programPath) {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n > 0) {
    path[n] = 0;
  } else if (!strchr(programPath, '/') || !realpath(programPath, path)) {
    return "";
  }
  std::string program = path;
  return program.substr(0, program.find_last_of('/'));
}

bool ResolveRegularFile(const std::string& path, std::string* resolved) {
  char full[PATH_MAX];
  struct stat st;
  if (!realpath(path.c_str(), full) || stat(full, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  *resolved = full;
  return true;
}

bool StandardErrorIsTerminal() { return isatty(2); }

FileReader::FileReader() : handle_(nullptr) {}

FileReader::~FileReader() {
  if (handle_) close((int)(intptr_t)handle_ - 1);
}

bool FileReader::Open(const std::string& path, std::string* error) {
  name_ = path;
  int fd = open(path.c_str(), O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    *error = SystemError(path);
    if (fd >= 0) close(fd);
    return false;
  }
  handle_ = (void*)(intptr_t)(fd + 1);  // null stays "not open"
  size_ = S_ISREG(st.st_mode) ? (uint64_t)st.st_size : 0;
  return true;
}

bool FileReader::ReadAt(uint64_t offset, uint8_t* data, size_t size, size_t* got, std::string* error) {
  *got = 0;
  int fd = (int)(intptr_t)handle_ - 1;
  while (*got < size) {
    ssize_t n = pread(fd, data + *got, size - *got, (off_t)(offset + *got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = SystemError(name_);
      return false;
    }
    if (n == 0) break;
    *got += (size_t)n;
  }
  return true;
}

bool ListFolder(const std::string& folder, std::vector<FolderEntry>* entries, std::string* error) {
  entries->clear();
  DIR* dir = opendir(folder.c_str());
  if (!dir) {
    *error = SystemError(folder);
    return false;
  }
  while (const dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string path = folder + "/" + name;
    struct stat own, target;
    if (lstat(path.c_str(), &own) != 0) continue;
    bool followed = stat(path.c_str(), &target) == 0;
    entries->push_back({name, S_ISDIR(own.st_mode), followed && S_ISREG(target.st_mode)});
  }
  closedir(dir);
  std::sort(entries->begin(), entries->end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return true;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
