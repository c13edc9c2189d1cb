// What the POSIX files of file_io.h share, and nothing outside them uses:
// the system's messages, whole writes, the one read that retries when a
// signal interrupts it, and the list of temporaries a signal removes.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <string>

// As gzip and xz say it: the file's name, then the system's reason
// ("nosuch: No such file or directory"). What was being done (opening,
// reading, writing) is left to the command's context, as there.
std::string SystemError(const std::string& name);

// The folder of path ("." for none).
std::string FolderOf(const std::string& path);

// Writes every byte, retried when a signal interrupts it; false with errno.
bool WriteAll(int fd, const uint8_t* data, size_t size);

// One read() of up to size bytes, retried when a signal interrupts it
// (*got = 0 at the end); false with *error naming name.
bool ReadSome(int fd, uint8_t* buffer, size_t size, size_t* got, const std::string& name, std::string* error);

// The names of the temporary files being written, newest first, for the
// signal handler to remove: it only reads the list, which changes by single
// pointer stores.
struct TemporaryName {
  std::string path;
  std::atomic<TemporaryName*> next{nullptr};
};
extern std::atomic<TemporaryName*> temporaries;
void Remember(TemporaryName* name);
void Forget(TemporaryName* name);
