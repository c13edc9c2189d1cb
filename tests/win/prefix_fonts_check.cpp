// Checks that the Wine prefix of scripts/wine-run.sh has the fonts setup.exe's
// dialog is drawn with, or the tests and docs/please-wait.png show a dialog
// no user sees. Wine draws the caption buttons as letters of Marlett ("r" is
// the close box); with no Marlett another face draws the plain letter. The
// dialog template asks for MS Sans Serif.
//
// A plain program rather than GoogleTest: a failed assertion there calls
// OutputDebugString, whose exception the 32-bit loader under QEMU does not
// survive, so the program would crash or hang instead of reporting.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

struct Face {
  const char* name;
  BYTE charset;  // as the drawing code asks for it
  const char* use;
};

const Face kFaces[] = {
    {"Marlett", SYMBOL_CHARSET, "for the caption buttons"},
    {"MS Sans Serif", DEFAULT_CHARSET, "the dialog's font"},
};

// The face GDI selects for a request of `face`.
void MappedFace(const Face& face, char (&mapped)[LF_FACESIZE]) {
  mapped[0] = 0;
  LOGFONTA request = {};
  request.lfHeight = -11;
  request.lfWeight = FW_NORMAL;
  request.lfCharSet = face.charset;
  lstrcpynA(request.lfFaceName, face.name, LF_FACESIZE);
  HFONT font = CreateFontIndirectA(&request);
  if (font == nullptr) return;
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, font);
  GetTextFaceA(dc, LF_FACESIZE, mapped);
  SelectObject(dc, previous);
  DeleteDC(dc);
  DeleteObject(font);
}

}  // namespace

int main() {
  int missing = 0;
  for (const Face& face : kFaces) {
    char mapped[LF_FACESIZE];
    MappedFace(face, mapped);
    const bool found = std::strcmp(mapped, face.name) == 0;
    std::printf("%s %s (%s): GDI selects \"%s\"\n", found ? "found  " : "MISSING", face.name, face.use,
                mapped);
    if (!found) ++missing;
  }
  if (missing != 0)
    std::printf("Wine's own fonts are not in this prefix (C:\\windows\\Fonts): see scripts/wine-run.sh\n");
  std::fflush(stdout);
  return missing == 0 ? 0 : 1;
}
