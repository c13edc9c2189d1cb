#include "media/dialog_template.h"

#include "media/utf16.h"

namespace {

const uint32_t DialogSetFont = 0x40;
const uint16_t StaticClass = 0x0082;

// A template read far enough to find the line: where its text begins and
// ends, and the text.
struct Line {
  size_t textAt = 0, textEnd = 0;
  std::u16string text;
};

struct Cursor {
  const std::vector<uint8_t>& bytes;
  size_t at;

  bool Word(uint16_t* value) {
    if (bytes.size() - at < 2) return false;
    *value = Get16(&bytes[at]);
    at += 2;
    return true;
  }
  // A text, or 0xFFFF and a number (*ordinal then set).
  bool TextOrNumber(std::u16string* text, int* ordinal) {
    uint16_t first = 0;
    if (!Word(&first)) return false;
    if (first == 0xFFFF) {
      uint16_t number = 0;
      if (!Word(&number)) return false;
      if (ordinal) *ordinal = number;
      return true;
    }
    for (uint16_t unit = first; unit != 0;) {
      if (text) *text += (char16_t)unit;
      if (!Word(&unit)) return false;
    }
    return true;
  }
};

bool FindLine(const std::vector<uint8_t>& dialog, Line* line, std::string* error) {
  *error = "the dialog template of setup.exe cannot be read";
  if (dialog.size() < 18) return false;
  if (Get16(&dialog[0]) == 1 && Get16(&dialog[2]) == 0xFFFF) {
    *error = "the dialog template of setup.exe is an extended one, which this setuppack does not write";
    return false;
  }
  uint32_t style = Get32(&dialog[0]);
  size_t count = Get16(&dialog[8]);
  Cursor c{dialog, 18};
  uint16_t pointSize = 0;
  if (!c.TextOrNumber(nullptr, nullptr) || !c.TextOrNumber(nullptr, nullptr) ||
      !c.TextOrNumber(nullptr, nullptr))
    return false;  // menu, class, title
  if ((style & DialogSetFont) && (!c.Word(&pointSize) || !c.TextOrNumber(nullptr, nullptr))) return false;
  for (size_t i = 0; i < count; ++i) {
    c.at = (c.at + 3) & ~(size_t)3;
    if (c.at > dialog.size() || dialog.size() - c.at < 18) return false;
    c.at += 18;
    int ordinal = -1;
    line->textAt = 0;
    if (!c.TextOrNumber(nullptr, &ordinal)) return false;
    size_t textAt = c.at;
    std::u16string text;
    int textOrdinal = -1;
    uint16_t extra = 0;
    if (!c.TextOrNumber(&text, &textOrdinal)) return false;
    if (ordinal == StaticClass && textOrdinal < 0) {
      line->textAt = textAt;
      line->textEnd = c.at;
      line->text = text;
      return true;
    }
    if (!c.Word(&extra) || dialog.size() - c.at < extra) return false;
    c.at += extra;
  }
  *error = "the dialog template of setup.exe has no line of text";
  return false;
}

}  // namespace

bool ReadDialogLine(const std::vector<uint8_t>& dialog, std::u16string* text, std::string* error) {
  Line line;
  if (!FindLine(dialog, &line, error)) return false;
  *text = line.text;
  return true;
}

bool ReplaceDialogLine(const std::vector<uint8_t>& dialog, const std::u16string& text,
                       std::vector<uint8_t>* out, std::string* error) {
  Line line;
  if (!FindLine(dialog, &line, error)) return false;
  out->assign(dialog.begin(), dialog.begin() + line.textAt);
  AppendUtf16(out, text, true);
  // The control's extra data follows its text; the next control begins on
  // a 4-byte boundary again.
  if (dialog.size() - line.textEnd < 2) {
    *error = "the dialog template of setup.exe is cut short";
    return false;
  }
  size_t end = line.textEnd + 2 + Get16(&dialog[line.textEnd]);
  if (end > dialog.size()) {
    *error = "the dialog template of setup.exe is cut short";
    return false;
  }
  out->insert(out->end(), dialog.begin() + line.textEnd, dialog.begin() + end);
  size_t next = (end + 3) & ~(size_t)3;
  if (next < dialog.size()) {
    PadTo4(out);
    out->insert(out->end(), dialog.begin() + next, dialog.end());
  }
  return true;
}
