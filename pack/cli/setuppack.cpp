// setuppack: makes the pack files that setup.exe expands, and reads them back.
// The command line is read in options.cpp, each command runs in its own file
// under commands/, and files are read and written behind platform/file_io.h.
#include <stdio.h>

#include <new>
#include <string>

#include "cli/options.h"
#include "cli/status.h"
#include "commands/commands.h"
#include "platform/file_io.h"

namespace {

// Runs the command of a parsed command line and returns the exit status.
int RunCommand(const Invocation& in, const char* programPath) {
  std::string error;
  if (!CheckOptionsApply(in, &error)) return UsageError(error);
  if (in.command == "pack") return Pack(in);
  if (in.command == "unpack") return Unpack(in);
  if (in.command == "test") return Test(in);
  if (in.command == "list") return List(in);
  if (in.command == "extract") return Extract(in);
  if (in.command == "seal") return Seal(in);
  if (in.command == "scan") return Scan(in);
  return Media(in, programPath);
}

int Run(int argc, char** argv) {
  InstallSignalHandlers();
  Invocation invocation;
  std::string error;
  if (!ParseCommandLine(argc, argv, &invocation, &error)) return UsageError(error);
  int status = ExitSuccess;
  if (invocation.help) {
    fputs(UsageText, stdout);
  } else if (invocation.version) {
    printf("setuppack %s\n", VersionText);
  } else {
    // A file too large to hold (scan finds pack files in files of any
    // size) is an error like any other, not an abort: the temporaries
    // written so far are removed as the stack unwinds.
    try {
      status = RunCommand(invocation, argv[0]);
    } catch (const std::bad_alloc&) {
      fflush(stdout);
      fprintf(stderr, "setuppack: out of memory\n");
      status = ExitData;
    }
  }
  // Output that never arrived is a failure, even of a command that succeeded.
  if (!FinishStandardOutput(&error)) {
    fprintf(stderr, "setuppack: %s\n", error.c_str());
    if (status == ExitSuccess) status = ExitData;
  }
  return status;
}

}  // namespace

#ifdef _WIN32
// The wide command line: names in any script, whatever the code page.
int wmain(int argc, wchar_t** wideArgv) {
  std::vector<std::string> arguments = Utf8Arguments(argc, wideArgv);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(&argument[0]);
  argv.push_back(nullptr);
  return Run(argc, argv.data());
}
#else
int main(int argc, char** argv) { return Run(argc, argv); }
#endif
