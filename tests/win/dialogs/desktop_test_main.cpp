// Entry point of the dialog helper test programs.
//
// GetAsyncKeyState follows the X server's keyboard only inside a Wine virtual
// desktop, so the program starts itself again inside one
// (`explorer /desktop=NAME,1024x768 PROGRAM ARGS`) and waits for that copy.
// The copy writes its output and its result to files named in its
// environment; the outer program prints the output and returns the result.
#include <windows.h>

#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace {

const char kResultFileVariable[] = "DIALOG_TESTS_RESULT_FILE";
const char kOutputFileVariable[] = "DIALOG_TESTS_OUTPUT_FILE";

std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  for (char c : argument) {
    if (c == '"') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::string TemporaryFileName(const char* prefix) {
  char directory[MAX_PATH];
  char name[MAX_PATH];
  GetTempPathA(MAX_PATH, directory);
  GetTempFileNameA(directory, prefix, 0, name);
  return name;
}

void CopyFileToStream(const std::string& path, FILE* stream) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return;
  char buffer[4096];
  size_t count;
  while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) std::fwrite(buffer, 1, count, stream);
  std::fclose(file);
  std::fflush(stream);
}

// The native explorer: a 32-bit program would otherwise get the 32-bit one,
// which does not run where the 32-bit Wine loader is emulated by QEMU.
std::string ExplorerPath() {
  BOOL emulated = FALSE;
  if (IsWow64Process(GetCurrentProcess(), &emulated) && emulated)
    return "C:\\windows\\sysnative\\explorer.exe";
  return "explorer.exe";
}

int RunInsideVirtualDesktop(int argc, char** argv) {
  std::string resultFile = TemporaryFileName("dtr");
  std::string outputFile = TemporaryFileName("dto");
  SetEnvironmentVariableA(kResultFileVariable, resultFile.c_str());
  SetEnvironmentVariableA(kOutputFileVariable, outputFile.c_str());

  char program[MAX_PATH];
  GetModuleFileNameA(NULL, program, MAX_PATH);
  // A desktop name of our own: a second explorer for an existing desktop
  // would hand the program over and return at once.
  std::string commandLine = ExplorerPath() + " /desktop=dialog-tests-" +
                            std::to_string(GetCurrentProcessId()) + ",1024x768 " + QuoteArgument(program);
  for (int index = 1; index < argc; ++index) commandLine += " " + QuoteArgument(argv[index]);

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(NULL, &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
    std::fprintf(stderr, "cannot start %s (error %lu)\n", commandLine.c_str(), GetLastError());
    return 1;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);

  CopyFileToStream(outputFile, stdout);
  int result = 1;
  FILE* file = std::fopen(resultFile.c_str(), "r");
  if (file == nullptr || std::fscanf(file, "%d", &result) != 1) {
    std::fprintf(stderr, "the tests inside the virtual desktop left no result\n");
    result = 1;
  }
  if (file != nullptr) std::fclose(file);
  DeleteFileA(resultFile.c_str());
  DeleteFileA(outputFile.c_str());
  return result;
}

// A crash inside the desktop is reported and ends the program at once,
// rather than waiting in Wine's debugger until the run times out.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
  std::fprintf(stderr, "test program crashed: exception 0x%08lX at %p\n",
               static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode),
               exception->ExceptionRecord->ExceptionAddress);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), 3);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int main(int argc, char** argv) {
  char resultFile[MAX_PATH] = "";
  char outputFile[MAX_PATH] = "";
  if (GetEnvironmentVariableA(kResultFileVariable, resultFile, MAX_PATH) == 0) {
    return RunInsideVirtualDesktop(argc, argv);
  }
  GetEnvironmentVariableA(kOutputFileVariable, outputFile, MAX_PATH);
  // Neither variable should reach programs this copy starts.
  SetEnvironmentVariableA(kResultFileVariable, NULL);
  SetEnvironmentVariableA(kOutputFileVariable, NULL);
  if (outputFile[0] != '\0') {
    std::freopen(outputFile, "w", stdout);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    _dup2(_fileno(stdout), _fileno(stderr));
  }

  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(ReportCrash);
  testing::InitGoogleTest(&argc, argv);
  int result = RUN_ALL_TESTS();

  FILE* file = std::fopen(resultFile, "w");
  if (file != nullptr) {
    std::fprintf(file, "%d\n", result);
    std::fclose(file);
  }
  return result;
}
