// Reading on POSIX systems: whole files, streams, scratch files, and files
// read at any offset.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_io.h"
#include "platform/size_limit.h"
#include "platform/posix/system.h"

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
  size_t got = 0;
  bool ok = true, tooLarge = false;
  while ((ok = ReadSome(fd, buffer, sizeof buffer, &got, name, error)) && got != 0) {
    data->insert(data->end(), buffer, buffer + got);
    if ((tooLarge = data->size() > SizeLimit() - 1)) break;
  }
  if (fd != 0) close(fd);
  if (!ok) return false;
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
  return ReadSome(handle_->fd, buffer, size, got, name_, error);
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
  return ReadSome(handle_->fd, buffer, size, got, "scratch file of the packed records", error);
}

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
