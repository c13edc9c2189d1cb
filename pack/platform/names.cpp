// The names of file_io.h that are the same on every system.
#include "platform/file_io.h"

bool IsStandardStream(const std::string& path) { return path == "-"; }

std::string DisplayName(const std::string& path, bool isSource) {
  if (!IsStandardStream(path)) return path;
  return isSource ? "standard input" : "standard output";
}
