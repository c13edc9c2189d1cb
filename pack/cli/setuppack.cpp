// setuppack: makes the pack files that setup.exe expands, and reads them back.
// The command line is read in options.cpp, each command runs in its own file
// under commands/, and files are read and written behind platform/file_io.h.
#include <stdio.h>

#include <new>
#include <string>

#include "cli/json_report.h"
#include "cli/options.h"
#include "cli/status.h"
#include "commands/commands.h"
#include "platform/file_io.h"

namespace {

// Runs the command of a parsed command line and returns the exit status.
// verdicts: what test, list and scan found, for --json (null without it).
int RunCommand(const Invocation& in, const char* programPath, Verdicts* verdicts) {
  if (in.command == "pack") return Pack(in);
  if (in.command == "unpack") return Unpack(in);
  if (in.command == "test") return Test(in, verdicts);
  if (in.command == "list") return List(in, verdicts);
  if (in.command == "extract") return Extract(in);
  if (in.command == "seal") return Seal(in);
  if (in.command == "scan") return Scan(in, verdicts);
  return Media(in, programPath);
}

int Run(int argc, char** argv) {
  InstallSignalHandlers();
  // Each result line is out before any message that follows it, in a pipe
  // as on a terminal (the Windows C runtime buffers whole blocks for
  // _IOLBF). Standard error is left as the runtime sets it: unbuffered, and
  // on Windows written once for each call (made unbuffered by hand, the
  // Windows runtime writes a message piece by piece, which a console then
  // draws piece by piece).
#ifdef _WIN32
  setvbuf(stdout, nullptr, _IONBF, 0);
#else
  setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
#endif
  Invocation invocation;
  std::string error;
  if (!ParseCommandLine(argc, argv, &invocation, &error) ||
      (!invocation.help && !invocation.version && !CheckOptionsApply(invocation, &error))) {
    return UsageError(error);
  }
  Verdicts verdicts;
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
      status = RunCommand(invocation, argv[0], invocation.json ? &verdicts : nullptr);
    } catch (const std::bad_alloc&) {
      fflush(stdout);
      fprintf(stderr, "setuppack: out of memory\n");
      status = ExitData;
    }
    // One document, whatever the command found (a usage error writes none).
    if (invocation.json && status != ExitUsage)
      fputs(JsonReport(invocation.command, status, verdicts).c_str(), stdout);
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
