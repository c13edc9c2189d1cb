// The command tail, the installer's arguments and its command.
#include "launcher.h"

#include "dll_search_path.h"  // KernelFunction

namespace {

// The command line after the program name and the blanks and control
// characters that follow it. Unit is unsigned char (a narrow line, a lead
// byte taking its trail byte along) or WCHAR (isLeadByte NULL).
template <typename Unit>
const Unit* SkipProgramName(const Unit* p, int (*isLeadByte)(unsigned char byte)) {
  if (*p == '"') {
    ++p;
    while (*p != 0 && *p != '"') {
      // A lead byte takes the byte after it along, so that byte never ends
      // the name (but the terminating zero still does).
      if (isLeadByte != NULL && isLeadByte((unsigned char)*p) && p[1] != 0) ++p;
      ++p;
    }
    if (*p == '"') ++p;
  } else {
    while (*p > ' ') ++p;
  }
  while (*p != 0 && *p <= ' ') ++p;
  return p;
}

typedef LPWSTR(WINAPI* GetCommandLineWCall)(void);

}  // namespace

int AnsiLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) ? 1 : 0; }

const char* CommandTail(const char* commandLine, int (*isLeadByte)(unsigned char byte)) {
  if (commandLine == NULL) return "";
  return reinterpret_cast<const char*>(
      SkipProgramName(reinterpret_cast<const unsigned char*>(commandLine), isLeadByte));
}

const char* NarrowCommandTail(const WCHAR* wideLine, const char* narrowLine) {
  const char* tail = CommandTail(narrowLine, AnsiLeadByte);
  if (wideLine == NULL || narrowLine == NULL) return tail;
  int nameLength = (int)(SkipProgramName(wideLine, NULL) - wideLine);
  int narrowLength = 0;
  while (narrowLine[narrowLength] != '\0') ++narrowLength;
  // The code page converts character by character, so the name takes as
  // many bytes of narrowLine as its own conversion gives. No name (a line
  // that is empty, or a system whose wide line is), or one longer than the
  // narrow line: the narrow line is read as it is.
  int nameBytes = nameLength > 0 ? WideToNarrow(CP_ACP, 0, wideLine, nameLength, NULL, 0, NULL) : 0;
  return nameBytes > 0 && nameBytes <= narrowLength ? narrowLine + nameBytes : tail;
}

const char* ProcessCommandTail(void) {
  GetCommandLineWCall wideLine = reinterpret_cast<GetCommandLineWCall>(KernelFunction("GetCommandLineW"));
  return NarrowCommandTail(wideLine != NULL ? wideLine() : NULL, GetCommandLineA());
}

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
