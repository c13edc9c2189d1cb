#include "cli/json_writer.h"

#include <stdio.h>

namespace {

// The length of the UTF-8 sequence at text[at], or 0 when it is none.
size_t Utf8Length(const std::string& text, size_t at) {
  unsigned char lead = (unsigned char)text[at];
  size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if (((unsigned char)text[at + i] >> 6) != 2) return 0;
  }
  // Overlong forms and surrogates are no characters either.
  unsigned char next = (unsigned char)text[at + 1 < text.size() ? at + 1 : at];
  if ((length == 2 && lead < 0xC2) || (length == 3 && lead == 0xE0 && next < 0xA0) ||
      (length == 3 && lead == 0xED && next >= 0xA0) || (length == 4 && lead == 0xF0 && next < 0x90) ||
      (length == 4 && lead > 0xF4) || (length == 4 && lead == 0xF4 && next >= 0x90)) {
    return 0;
  }
  return length;
}

}  // namespace

std::string JsonString(const std::string& value) {
  std::string out = "\"";
  for (size_t i = 0; i < value.size();) {
    unsigned char c = (unsigned char)value[i];
    size_t length = Utf8Length(value, i);
    if (length == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += (char)c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out.append(value, i, length);
    }
    i += length;
  }
  return out + "\"";
}

void JsonWriter::NewLine() {
  text_ += '\n';
  text_.append(2 * empty_.size(), ' ');
}

void JsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (empty_.empty()) return;  // the document itself
  if (!empty_.back()) text_ += ',';
  empty_.back() = false;
  NewLine();
}

void JsonWriter::Key(const std::string& key) {
  BeforeValue();
  text_ += JsonString(key) + ": ";
  afterKey_ = true;
}

void JsonWriter::Open(char bracket) {
  BeforeValue();
  text_ += bracket;
  empty_.push_back(true);
}

void JsonWriter::Close(char bracket) {
  bool wasEmpty = empty_.back();
  empty_.pop_back();
  if (!wasEmpty) NewLine();
  text_ += bracket;
}

void JsonWriter::String(const std::string& value) {
  BeforeValue();
  text_ += JsonString(value);
}

void JsonWriter::Number(int64_t value) {
  BeforeValue();
  text_ += std::to_string(value);
}

void JsonWriter::Bool(bool value) {
  BeforeValue();
  text_ += value ? "true" : "false";
}

void JsonWriter::Null() {
  BeforeValue();
  text_ += "null";
}
