#include "media/utf16.h"

bool Utf8ToUtf16(const std::string& text, std::u16string* out) {
  out->clear();
  size_t i = 0, size = text.size();
  while (i < size) {
    uint32_t c = (uint8_t)text[i];
    size_t extra = c < 0x80             ? 0
                   : (c & 0xE0) == 0xC0 ? 1
                   : (c & 0xF0) == 0xE0 ? 2
                   : (c & 0xF8) == 0xF0 ? 3
                                        : 4;
    if (extra == 4 || size - i <= extra) return false;
    static const uint32_t smallest[4] = {0, 0x80, 0x800, 0x10000};
    uint32_t code = extra == 0 ? c : c & (0x3F >> extra);
    for (size_t k = 1; k <= extra; ++k) {
      uint8_t next = (uint8_t)text[i + k];
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    if (code < smallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return false;
    if (code >= 0x10000) {
      code -= 0x10000;
      out->push_back((char16_t)(0xD800 + (code >> 10)));
      out->push_back((char16_t)(0xDC00 + (code & 0x3FF)));
    } else {
      out->push_back((char16_t)code);
    }
    i += extra + 1;
  }
  return true;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t code = text[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (code >= 0xD800 && code < 0xE000) {
      code = 0xFFFD;
    }
    if (code < 0x80) {
      out += (char)code;
    } else if (code < 0x800) {
      out += (char)(0xC0 | (code >> 6));
      out += (char)(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += (char)(0xE0 | (code >> 12));
      out += (char)(0x80 | ((code >> 6) & 0x3F));
      out += (char)(0x80 | (code & 0x3F));
    } else {
      out += (char)(0xF0 | (code >> 18));
      out += (char)(0x80 | ((code >> 12) & 0x3F));
      out += (char)(0x80 | ((code >> 6) & 0x3F));
      out += (char)(0x80 | (code & 0x3F));
    }
  }
  return out;
}

void AppendUtf16(std::vector<uint8_t>* out, const std::u16string& text, bool terminated) {
  for (char16_t unit : text) Put16(out, unit);
  if (terminated) Put16(out, 0);
}
