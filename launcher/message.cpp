// Message boxes built from the string table.
#include "launcher.h"

HINSTANCE LauncherInstance;

int ShowMessage(HWND owner, const char* text, UINT textId, UINT captionId, UINT style) {
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
  char caption[MessageCaptionSize];
  if (LoadStringA(LauncherInstance, captionId, caption, MessageCaptionSize) <= 0) caption[0] = '\0';
  return MessageBoxA(owner, body, caption, style);
}
