// Folders on POSIX systems: listed, searched in any letter case, made; and
// where the program itself lies.
#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/file_io.h"
#include "platform/posix/system.h"

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
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
