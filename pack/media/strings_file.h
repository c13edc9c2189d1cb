// A file of translated messages for setup.exe: UTF-8 text, one "N=text"
// line per message (N its number in the string table), "dialog=text" for
// the please-wait line and "language=N" for the texts' language (a Windows
// language number, 1033 when none is given). Blank lines and lines that
// begin with '#' are ignored; "\n" in a text is a line break and "\\" a
// backslash.
#pragma once

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

struct Translation {
  uint16_t language = 1033;
  bool hasLanguage = false;
  std::map<uint16_t, std::u16string> messages;
  std::map<uint16_t, int> lineOf;  // each message's line in the file
  bool hasDialog = false;
  std::u16string dialog;
  int dialogLine = 0;
};

// false with *error naming the file and the line for a line that is not of
// the form above, a number given twice or an empty text.
bool ReadStringsFile(const std::vector<uint8_t>& file, const std::string& name, Translation* translation,
                     std::string* error);

// Checks translation against the messages it replaces: each must be one of
// setup.exe's, and keep exactly its %s conversions (a message with one
// shows a path there); in a message that has them, every other % must be
// written %%.
bool CheckTranslation(const Translation& translation, const std::string& name,
                      const std::map<uint16_t, std::u16string>& originals, std::string* error);

// The number of %s conversions of a message that has any (other % are %%),
// or -1 when a % is followed by anything else.
int CountConversions(const std::u16string& text);
