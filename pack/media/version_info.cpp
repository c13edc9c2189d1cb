#include "media/version_info.h"

#include <stdio.h>
#include <stdlib.h>

#include "media/utf16.h"

namespace {

const uint32_t FixedSignature = 0xFEEF04BD;
const uint32_t CodePageUnicode = 1200;

// One node of the tree: length, value length, type (1: text, 0: binary),
// key; then its value and its children, each on a 4-byte boundary. Its
// length counts everything up to the end of its last child.
size_t BeginNode(std::vector<uint8_t>* out, const std::u16string& key, uint32_t valueLength, bool text) {
  PadTo4(out);
  size_t at = out->size();
  Put16(out, 0);
  Put16(out, valueLength);
  Put16(out, text ? 1 : 0);
  AppendUtf16(out, key, true);
  PadTo4(out);
  return at;
}
void EndNode(std::vector<uint8_t>* out, size_t at) { Set16(&(*out)[at], (uint32_t)(out->size() - at)); }

std::u16string Ascii(const char* text) {
  return std::u16string(text, text + std::char_traits<char>::length(text));
}

struct Node {
  size_t at = 0, end = 0;  // of the node, and of its length
  uint16_t valueLength = 0, type = 0;
  std::u16string key;
  size_t valueAt = 0;
};

bool ReadNode(const std::vector<uint8_t>& data, size_t at, size_t limit, Node* node) {
  if (at > limit || limit - at < 6) return false;
  node->at = at;
  size_t length = Get16(&data[at]);
  if (length < 6 || length > limit - at) return false;
  node->end = at + length;
  node->valueLength = Get16(&data[at + 2]);
  node->type = Get16(&data[at + 4]);
  node->key.clear();
  size_t p = at + 6;
  for (;; p += 2) {
    if (node->end - p < 2) return false;
    uint16_t unit = Get16(&data[p]);
    if (unit == 0) break;
    node->key += (char16_t)unit;
  }
  node->valueAt = (p + 2 + 3) & ~(size_t)3;
  return node->valueAt <= node->end;
}

}  // namespace

bool ParseVersion(const std::string& text, uint16_t numbers[4]) {
  size_t count = 0, at = 0;
  uint16_t parsed[4] = {0, 0, 0, 0};
  while (true) {
    if (count == 4 || at >= text.size() || text[at] < '0' || text[at] > '9') return false;
    uint32_t value = 0;
    size_t digits = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
      value = value * 10 + (uint32_t)(text[at] - '0');
      if (value > 65535) return false;
    }
    parsed[count++] = (uint16_t)value;
    if (at == text.size()) break;
    if (text[at++] != '.') return false;
  }
  for (int i = 0; i < 4; ++i) numbers[i] = parsed[i];
  return true;
}

std::string DottedVersion(const uint16_t numbers[4]) {
  char text[32];
  snprintf(text, sizeof text, "%u.%u.%u.%u", numbers[0], numbers[1], numbers[2], numbers[3]);
  return text;
}

bool WriteVersionInfo(const VersionInfo& info, std::vector<uint8_t>* out, std::string* error) {
  out->clear();
  size_t root = BeginNode(out, Ascii("VS_VERSION_INFO"), 52, false);
  Put32(out, FixedSignature);
  Put32(out, 0x00010000);  // the structure's version
  Put32(out, (uint32_t)info.fileVersion[0] << 16 | info.fileVersion[1]);
  Put32(out, (uint32_t)info.fileVersion[2] << 16 | info.fileVersion[3]);
  Put32(out, (uint32_t)info.productVersion[0] << 16 | info.productVersion[1]);
  Put32(out, (uint32_t)info.productVersion[2] << 16 | info.productVersion[3]);
  Put32(out, 0x3F);     // flags that are valid: all of them...
  Put32(out, 0);        // ...and none set (no debug, pre-release or patched build)
  Put32(out, 0x40004);  // VOS_NT_WINDOWS32
  Put32(out, 1);        // VFT_APP
  Put32(out, 0);        // subtype
  Put32(out, 0);        // date: none
  Put32(out, 0);
  size_t fileInfo = BeginNode(out, Ascii("StringFileInfo"), 0, true);
  char tableKey[16];
  snprintf(tableKey, sizeof tableKey, "%04X%04X", info.language, CodePageUnicode);
  size_t table = BeginNode(out, Ascii(tableKey), 0, true);
  for (const auto& entry : info.strings) {
    std::u16string key, value;
    if (!Utf8ToUtf16(entry.first, &key) || !Utf8ToUtf16(entry.second, &value)) {
      *error = "the text of " + entry.first + " is not UTF-8";
      return false;
    }
    // Its value length counts UTF-16 units, the terminating zero with them.
    size_t node = BeginNode(out, key, (uint32_t)value.size() + 1, true);
    AppendUtf16(out, value, true);
    EndNode(out, node);
    if (out->size() - root > 0xFFFF) {
      *error = "the version information's texts are too long (64 KB in all)";
      return false;
    }
  }
  EndNode(out, table);
  EndNode(out, fileInfo);
  size_t varInfo = BeginNode(out, Ascii("VarFileInfo"), 0, true);
  size_t translation = BeginNode(out, Ascii("Translation"), 4, false);
  Put16(out, info.language);
  Put16(out, CodePageUnicode);
  EndNode(out, translation);
  EndNode(out, varInfo);
  EndNode(out, root);
  return true;
}

bool ReadVersionInfo(const std::vector<uint8_t>& data, VersionInfo* info) {
  *info = VersionInfo();
  Node root;
  if (!ReadNode(data, 0, data.size(), &root) || root.key != Ascii("VS_VERSION_INFO")) return false;
  if (root.valueLength < 52 || root.end - root.valueAt < 52) return false;
  const uint8_t* fixed = &data[root.valueAt];
  if (Get32(fixed) != FixedSignature) return false;
  for (int i = 0; i < 2; ++i) {
    info->fileVersion[2 * i] = Get16(fixed + 8 + 4 * i + 2);
    info->fileVersion[2 * i + 1] = Get16(fixed + 8 + 4 * i);
    info->productVersion[2 * i] = Get16(fixed + 16 + 4 * i + 2);
    info->productVersion[2 * i + 1] = Get16(fixed + 16 + 4 * i);
  }
  Node child;
  for (size_t at = (root.valueAt + root.valueLength + 3) & ~(size_t)3; ReadNode(data, at, root.end, &child);
       at = (child.end + 3) & ~(size_t)3) {
    if (child.key != Ascii("StringFileInfo")) continue;
    Node table;
    if (!ReadNode(data, child.valueAt, child.end, &table)) break;
    info->language = (uint16_t)strtoul(Utf16ToUtf8(table.key.substr(0, 4)).c_str(), nullptr, 16);
    Node text;
    for (size_t p = table.valueAt; ReadNode(data, p, table.end, &text); p = (text.end + 3) & ~(size_t)3) {
      std::u16string value;
      for (size_t q = text.valueAt; text.end - q >= 2 && Get16(&data[q]) != 0; q += 2)
        value += (char16_t)Get16(&data[q]);
      info->strings.push_back({Utf16ToUtf8(text.key), Utf16ToUtf8(value)});
    }
    break;
  }
  return true;
}
