// Unattended runs, as setuppack media set them up in setup.exe's settings
// (unpack/settings.h): exit codes for deployment tools, and silent runs,
// which show nothing and write the reason of a failure to a log instead.
#include "launcher.h"

namespace {

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; }

// 1 when the word of the command tail that begins at word (it ends at a
// character of code 32 or less) is text, without regard to letter case.
int WordIs(const char* word, const char* text) {
  for (; *text != '\0'; ++word, ++text) {
    if (AsciiUpper(*word) != AsciiUpper(*text)) return 0;
  }
  return (unsigned char)*word <= ' ';
}

}  // namespace

int ExitCodesWanted(void) { return (SetupSettings[SettingsFlagsOffset] & SettingsExitCodes) != 0; }

int SilentSwitchGiven(const char* tail) {
  const char* switches = reinterpret_cast<const char*>(SetupSettings + SettingsSwitchesOffset);
  for (const char* word = tail; *word != '\0'; ++word) {
    // Each word of the tail (after blanks and control characters).
    if ((unsigned char)*word <= ' ' || (word != tail && (unsigned char)word[-1] > ' ')) continue;
    // The list ends at an empty switch, or at the block's end.
    for (const char* s = switches; s < switches + SettingsSwitchesSize && *s != '\0'; ++s) {
      if (WordIs(word, s)) return 1;
      while (*s != '\0') ++s;
    }
  }
  return 0;
}

void LogFailure(DWORD code, const char* text, UINT textId) {
  // %TEMP%\ZIMRO~SE.LOG, a line for each failure, appended.
  char path[PathBufferSize];
  DWORD length = GetTempPathA(PathBufferSize, path);
  if (length == 0 || length >= PathBufferSize ||
      !FormatBounded(path + length, PathBufferSize - length, "%s", SETUP_FAILURE_LOG_NAME)) {
    return;
  }
  HANDLE log = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_ALWAYS, 0, NULL);
  if (log == INVALID_HANDLE_VALUE) return;
  SetFilePointer(log, 0, NULL, FILE_END);
  // The local time (yyyy-mm-dd hh:mm:ss), the code and the message a person
  // would have seen.
  SYSTEMTIME now;
  GetLocalTime(&now);
  if (!ExitCodesWanted()) code = 0;  // the code setup.exe returns
  char line[MessageFormatSize + 128];
  FormatBounded(line, 128, "%u-%u%u-%u%u %u%u:%u%u:%u%u setup.exe exit code %u: ", now.wYear, now.wMonth / 10,
                now.wMonth % 10, now.wDay / 10, now.wDay % 10, now.wHour / 10, now.wHour % 10,
                now.wMinute / 10, now.wMinute % 10, now.wSecond / 10, now.wSecond % 10, code);
  uint32_t used = 0;
  while (line[used] != '\0') ++used;
  char format[MessageFormatSize];
  if (LoadStringA(LauncherInstance, textId, format, MessageFormatSize) <= 0) format[0] = '\0';
  FormatBounded(line + used, sizeof(line) - used - 2, format, text);
  while (line[used] != '\0') ++used;
  line[used++] = '\r';
  line[used++] = '\n';
  DWORD written = 0;
  WriteFile(log, line, used, &written, NULL);
  CloseHandle(log);
}
