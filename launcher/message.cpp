// Message boxes built from the string table.
#include "launcher.h"

#include <string.h>

HINSTANCE LauncherInstance;

int ShowMessage(HWND owner, const char* text, UINT textId, UINT captionId, UINT style, UINT addedId) {
  if (text == NULL && textId == 0) return 0;
  char body[MessageBodySize];
  body[0] = '\0';
  if (text != NULL && textId != 0) {
    char format[MessageFormatSize];
    if (LoadStringA(LauncherInstance, textId, format, MessageFormatSize) <= 0) format[0] = '\0';
    FormatBounded(body, MessageBodySize, format, text);  // a cut body is still shown
  } else if (text != NULL) {
    CopyBounded(body, text, MessageBodySize);
  } else if (LoadStringA(LauncherInstance, textId, body, MessageBodySize) <= 0) {
    body[0] = '\0';
  }
  if (addedId != 0) {
    uint32_t used = (uint32_t)strlen(body);
    LoadStringA(LauncherInstance, addedId, body + used, (int)(MessageBodySize - used));
  }
  char caption[MessageCaptionSize];
  if (LoadStringA(LauncherInstance, captionId, caption, MessageCaptionSize) <= 0) caption[0] = '\0';
  return MessageBoxA(owner, body, caption, style);
}
