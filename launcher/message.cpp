// Message boxes built from the string table.
//
// Their texts are UTF-16: a translated string table (setuppack media
// --strings) then shows in its own letters whatever the system's code page,
// which the narrow functions would turn into '?' where it lacks them.
#include "launcher.h"

HINSTANCE LauncherInstance;

namespace {

// Narrow text (the ANSI code page) as UTF-16 in buffer, cut to size - 1
// units.
void WidenBounded(const char* text, WCHAR* buffer, uint32_t size) {
  uint32_t length = 0;
  while (text[length] != '\0' && length + 1 < size) ++length;
  int wide = MultiByteToWideChar(CP_ACP, 0, text, (int)length, buffer, (int)size - 1);
  buffer[wide > 0 ? wide : 0] = 0;
}

// String id into buffer: as UTF-16 where the system has wide strings (NT
// and later), else (Windows 95, 98 and Me, whose LoadStringW loads nothing)
// narrow and converted. Empty when there is no such string.
void LoadText(UINT id, WCHAR* buffer, uint32_t size) {
  if (LoadStringW(LauncherInstance, id, buffer, (int)size) > 0) return;
  char narrow[MessageFormatSize];
  if (LoadStringA(LauncherInstance, id, narrow, MessageFormatSize) <= 0) narrow[0] = '\0';
  WidenBounded(narrow, buffer, size);
}

}  // namespace

int ShowMessage(HWND owner, const char* text, UINT textId, UINT captionId, UINT style, UINT addedId) {
  if (text == NULL && textId == 0) return 0;
  WCHAR body[MessageBodySize];
  if (text != NULL && textId != 0) {
    // The format's %s takes the text; %% is a percent sign (the messages
    // have no other conversion). A cut body is still shown.
    WCHAR format[MessageFormatSize], argument[ArgumentsBufferSize];
    LoadText(textId, format, MessageFormatSize);
    WidenBounded(text, argument, ArgumentsBufferSize);
    uint32_t used = 0;
    for (const WCHAR* f = format; *f != 0 && used + 1 < MessageBodySize; ++f) {
      if (f[0] == '%' && (f[1] == 's' || f[1] == '%')) {
        const WCHAR* part = *++f == 's' ? argument : L"%";
        while (*part != 0 && used + 1 < MessageBodySize) body[used++] = *part++;
      } else {
        body[used++] = *f;
      }
    }
    body[used] = 0;
  } else if (text != NULL) {
    WidenBounded(text, body, MessageBodySize);
  } else {
    LoadText(textId, body, MessageBodySize);
  }
  if (addedId != 0) {
    uint32_t used = (uint32_t)lstrlenW(body);
    LoadText(addedId, body + used, MessageBodySize - used);
  }
  WCHAR caption[MessageCaptionSize];
  LoadText(captionId, caption, MessageCaptionSize);
  return MessageBoxW(owner, body, caption, style);
}
