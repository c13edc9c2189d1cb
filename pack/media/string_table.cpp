#include "media/string_table.h"

#include "media/utf16.h"

std::map<uint16_t, std::u16string> ReadStringTable(const std::vector<Resource>& resources,
                                                   uint16_t* language) {
  std::map<uint16_t, std::u16string> strings;
  for (const Resource& block : resources) {
    if (block.type.named || block.type.id != ResourceString || block.name.named || block.name.id == 0)
      continue;
    if (language) *language = block.language;
    size_t at = 0;
    for (uint32_t i = 0; i < 16 && block.data.size() - at >= 2; ++i) {
      size_t length = Get16(&block.data[at]);
      at += 2;
      if ((block.data.size() - at) / 2 < length) break;  // a cut block: what is whole of it
      std::u16string text;
      for (size_t k = 0; k < length; ++k) text += (char16_t)Get16(&block.data[at + 2 * k]);
      at += 2 * length;
      if (!text.empty()) strings[(uint16_t)((block.name.id - 1) * 16 + i)] = text;
    }
  }
  return strings;
}

void WriteStringTable(std::vector<Resource>* resources, const std::map<uint16_t, std::u16string>& strings,
                      uint16_t language) {
  ResourceKey type = ResourceKey::Id(ResourceString);
  RemoveResources(resources, type, nullptr);
  for (auto at = strings.begin(); at != strings.end();) {
    uint32_t block = at->first / 16;
    Resource r;
    r.type = type;
    r.name = ResourceKey::Id((uint16_t)(block + 1));
    r.language = language;
    for (uint32_t i = 0; i < 16; ++i) {
      auto found = strings.find((uint16_t)(block * 16 + i));
      std::u16string text = found == strings.end() ? std::u16string() : found->second;
      Put16(&r.data, (uint32_t)text.size());
      AppendUtf16(&r.data, text, false);
    }
    resources->push_back(r);
    while (at != strings.end() && at->first / 16 == block) ++at;
  }
}
