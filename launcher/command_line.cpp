// The command tail, the installer's arguments and its command.
#include "launcher.h"

const char* CommandTail(const char* commandLine, int (*isLeadByte)(unsigned char byte)) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(commandLine);
  if (p == NULL) return "";
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"') {
      // A lead byte takes the byte after it along, so that byte never ends
      // the name (but the terminating zero still does).
      if (isLeadByte != NULL && isLeadByte(*p) && p[1] != '\0') ++p;
      ++p;
    }
    if (*p == '"') ++p;
  } else {
    while (*p > ' ') ++p;
  }
  while (*p != '\0' && *p <= ' ') ++p;
  return reinterpret_cast<const char*>(p);
}

namespace {
int AnsiLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) ? 1 : 0; }
}  // namespace

const char* ProcessCommandTail(void) { return CommandTail(GetCommandLineA(), AnsiLeadByte); }

int BuildInstallerArguments(char* buffer, uint32_t size, const char* sourceDirectory, const char* tail) {
  if (tail != NULL && tail[0] != '\0') {
    return FormatBounded(buffer, size, "\"%s\" %s", sourceDirectory, tail);
  }
  return FormatBounded(buffer, size, "\"%s\"", sourceDirectory);
}

int BuildInstallerCommand(char* buffer, uint32_t size, const char* installerPath, const char* arguments) {
  int blank = 0;
  for (const char* p = installerPath; *p != '\0'; ++p) {
    if (*p == ' ') blank = 1;
  }
  // Quoted only when it holds a blank, so that WinExec cannot take a shorter
  // prefix of it for the program; otherwise unquoted, as the installer expects.
  return FormatBounded(buffer, size, blank ? "\"%s\" %s" : "%s %s", installerPath, arguments);
}
