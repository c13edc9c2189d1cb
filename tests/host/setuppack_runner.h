// setuppack as its users run it: a real process on real files in a private
// temporary folder, its exit status and its messages.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "test_data.h"

struct Result {
  int status;
  std::string output;  // stdout and stderr together, unless the command redirects them
};

// The setuppack under test: this build's, or the program SETUPPACK_UNDER_TEST
// names (the Windows build runs these tests through a script that starts
// setuppack.exe under Wine).
inline std::string SetuppackUnderTest() {
  const char* other = getenv("SETUPPACK_UNDER_TEST");
  return other && *other ? other : SETUPPACK_PATH;
}

// Runs a shell command line in directory, with $SP naming setuppack.
inline Result RunShell(const std::string& line, const std::string& directory) {
  std::string command =
      "cd '" + directory + "' && SP='" + SetuppackUnderTest() + "' && { " + line + "\n} 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  Result r{-1, ""};
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.output.append(buffer, n);
  int status = pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// A shell line that runs command while a reader copies what is written into
// the named pipe to the file out, and ends when command does, whether or not
// command ever opened the pipe: the shell holds the pipe open for reading and
// writing (which does not wait) until command is done, so neither the reader
// nor a writer waits for the other, and the reader's end of file comes as
// soon as command and the shell have closed it.
inline std::string WithPipeReader(const std::string& pipe, const std::string& out,
                                  const std::string& command) {
  return "exec 3<>" + pipe + " 4<" + pipe + "; cat <&4 3>&- 4<&- >" + out + " & { " + command +
         "\n} 3>&- 4<&-; s=$?; exec 3>&- 4<&-; wait; exit $s";
}

inline Result RunTool(const std::string& args, const std::string& directory = ".") {
  return RunShell("\"$SP\" " + args, directory);
}

class SetuppackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/setuppack-test-XXXXXX";
    dir_ = mkdtemp(pattern);
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  void Write(const std::string& name, const std::vector<uint8_t>& data) const {
    std::ofstream(Path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), data.size());
  }
  std::vector<uint8_t> Read(const std::string& name) const { return ReadFileBytes(Path(name)); }
  bool Exists(const std::string& name) const { return access(Path(name).c_str(), F_OK) == 0; }
  // What name is, without following a link: S_IFREG, S_IFLNK, S_IFCHR... (0: nothing).
  mode_t KindOf(const std::string& name) const {
    struct stat st;
    return lstat(Path(name).c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
  }
  // Runs setuppack, or a shell line, in the test's folder.
  Result Run(const std::string& args) const { return RunTool(args, dir_); }
  Result Shell(const std::string& line) const { return RunShell(line, dir_); }
  // The names in the folder (or in a folder inside it).
  std::vector<std::string> Listing(const std::string& folder = ".") const {
    Result r = Shell("LC_ALL=C ls -A '" + folder + "'");
    std::vector<std::string> names;
    size_t at = 0, end;
    while ((end = r.output.find('\n', at)) != std::string::npos) {
      names.push_back(r.output.substr(at, end - at));
      at = end + 1;
    }
    return names;
  }
  std::string dir_;
};
