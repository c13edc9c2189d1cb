#include "platform/posix/system.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

std::string SystemError(const std::string& name) { return name + ": " + strerror(errno); }

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
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

bool ReadSome(int fd, uint8_t* buffer, size_t size, size_t* got, const std::string& name,
              std::string* error) {
  ssize_t n;
  do {
    n = read(fd, buffer, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    *error = SystemError(name);
    return false;
  }
  *got = (size_t)n;
  return true;
}
