#include "media/strings_file.h"

#include "media/utf16.h"

namespace {

// Longest texts, in UTF-16 units: setup.exe loads its caption into 256
// bytes and a message into 1,024, and a double-byte code page takes two
// bytes for a letter.
const size_t CaptionLimit = 120, MessageLimit = 500;
const uint16_t CaptionId = 2;

std::u16string Unescape(const std::u16string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\\' && i + 1 < text.size() && (text[i + 1] == u'n' || text[i + 1] == u'\\')) {
      out += text[++i] == u'n' ? u'\n' : u'\\';
    } else {
      out += text[i];
    }
  }
  return out;
}

bool ParseNumber(const std::string& text, uint32_t* value) {
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  size_t at = hex ? 2 : 0;
  if (at >= text.size()) return false;
  *value = 0;
  for (; at < text.size(); ++at) {
    char c = text[at];
    int digit = c >= '0' && c <= '9'          ? c - '0'
                : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                              : -1;
    if (digit < 0) return false;
    *value = *value * (hex ? 16 : 10) + (uint32_t)digit;
    if (*value > 0xFFFF) return false;
  }
  return true;
}

std::string Trim(const std::string& text) {
  size_t from = text.find_first_not_of(" \t"), to = text.find_last_not_of(" \t");
  return from == std::string::npos ? "" : text.substr(from, to - from + 1);
}

}  // namespace

int CountConversions(const std::u16string& text) {
  int count = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'%') continue;
    if (i + 1 < text.size() && text[i + 1] == u's') {
      ++count;
    } else if (i + 1 >= text.size() || text[i + 1] != u'%') {
      return -1;
    }
    ++i;
  }
  return count;
}

bool ReadStringsFile(const std::vector<uint8_t>& file, const std::string& name, Translation* translation,
                     std::string* error) {
  *translation = Translation();
  std::string text(file.begin(), file.end());
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);  // a byte-order mark
  int lineNumber = 0;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    auto refuse = [&](const std::string& why) {
      *error = name + ", line " + std::to_string(lineNumber) + ": " + why;
      return false;
    };
    if (Trim(line).empty() || line[0] == '#') continue;
    size_t equals = line.find('=');
    if (equals == std::string::npos)
      return refuse("not of the form N=text (N a message's number, or dialog)");
    std::string key = Trim(line.substr(0, equals));
    std::u16string value;
    if (!Utf8ToUtf16(line.substr(equals + 1), &value)) return refuse("its text is not UTF-8");
    value = Unescape(value);
    uint32_t number = 0;
    if (key == "language") {
      if (translation->hasLanguage) return refuse("a second language line");
      if (!ParseNumber(Trim(line.substr(equals + 1)), &number) || number == 0) {
        return refuse("the language is a Windows language number, such as 1031 or 0x0407 for German");
      }
      translation->language = (uint16_t)number;
      translation->hasLanguage = true;
      continue;
    }
    if (value.empty()) return refuse("an empty text");
    if (key == "dialog") {
      if (translation->hasDialog) return refuse("a second dialog line");
      if (value.size() > MessageLimit)
        return refuse("a text of more than " + std::to_string(MessageLimit) + " letters");
      translation->hasDialog = true;
      translation->dialog = value;
      translation->dialogLine = lineNumber;
      continue;
    }
    if (!ParseNumber(key, &number) || key[0] == '0') {
      return refuse("'" + key + "' is neither a message's number nor dialog nor language");
    }
    if (translation->messages.count((uint16_t)number)) {
      return refuse("message " + key + " a second time (first on line " +
                    std::to_string(translation->lineOf[(uint16_t)number]) + ")");
    }
    size_t limit = number == CaptionId ? CaptionLimit : MessageLimit;
    if (value.size() > limit) return refuse("a text of more than " + std::to_string(limit) + " letters");
    translation->messages[(uint16_t)number] = value;
    translation->lineOf[(uint16_t)number] = lineNumber;
  }
  return true;
}

bool CheckTranslation(const Translation& translation, const std::string& name,
                      const std::map<uint16_t, std::u16string>& originals, std::string* error) {
  for (const auto& message : translation.messages) {
    std::string where = name + ", line " + std::to_string(translation.lineOf.at(message.first)) +
                        ": message " + std::to_string(message.first);
    auto original = originals.find(message.first);
    if (original == originals.end()) {
      std::string known;
      for (const auto& o : originals) known += (known.empty() ? "" : ", ") + std::to_string(o.first);
      *error = where + " is not one of setup.exe's (they are " + known + ", and dialog)";
      return false;
    }
    int wanted = CountConversions(original->second);
    int has = CountConversions(message.second);
    // A message without %s is shown as it is: a % there is a percent sign.
    if (wanted <= 0) {
      if (message.second.find(u"%s") != std::u16string::npos) {
        *error = where + " has a %s, and the original has none: setup.exe puts nothing there";
        return false;
      }
      continue;
    }
    if (has < 0) {
      *error = where + " has a % that is not %s: write a percent sign as %%";
      return false;
    }
    if (has != wanted) {
      *error = where + " must keep exactly " + std::to_string(wanted) +
               " %s of the original (where setup.exe puts " + "the path it names), and has " +
               std::to_string(has);
      return false;
    }
  }
  if (translation.hasDialog && translation.dialog.find(u"%s") != std::u16string::npos) {
    *error = name + ", line " + std::to_string(translation.dialogLine) +
             ": the dialog's line has a %s, and the original has none: setup.exe puts nothing there";
    return false;
  }
  return true;
}
