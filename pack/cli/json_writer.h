// A JSON document written as it is built, two spaces of indent a level:
//   JsonWriter json;
//   json.BeginObject();
//   json.Key("files"); json.BeginArray(); ... json.EndArray();
//   json.EndObject();
//   fputs(json.Text().c_str(), stdout);
// Strings are UTF-8; a byte that is not part of a UTF-8 sequence (a file
// name in another encoding) is written as U+FFFD, so the document always
// parses.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

class JsonWriter {
 public:
  void BeginObject() { Open('{'); }
  void EndObject() { Close('}'); }
  void BeginArray() { Open('['); }
  void EndArray() { Close(']'); }
  // The key of the next value, inside an object.
  void Key(const std::string& key);
  void String(const std::string& value);
  void Number(int64_t value);
  void Bool(bool value);
  void Null();
  // Key and value at once.
  void Field(const std::string& key, const std::string& value) { Key(key), String(value); }
  void Field(const std::string& key, const char* value) { Key(key), String(value); }
  void Field(const std::string& key, int64_t value) { Key(key), Number(value); }
  void Field(const std::string& key, uint64_t value) { Key(key), Number((int64_t)value); }
  void Field(const std::string& key, uint32_t value) { Key(key), Number(value); }
  void Field(const std::string& key, int value) { Key(key), Number(value); }
  void Field(const std::string& key, bool value) { Key(key), Bool(value); }
  // The document, with a line end after its last bracket.
  std::string Text() const { return text_ + "\n"; }

 private:
  void Open(char bracket);
  void Close(char bracket);
  void BeforeValue();
  void NewLine();
  std::string text_;
  std::vector<bool> empty_;  // of each open bracket: nothing inside it yet
  bool afterKey_ = false;
};

// value as a JSON string, quotes included.
std::string JsonString(const std::string& value);
