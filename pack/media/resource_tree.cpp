#include "media/resource_tree.h"

#include <algorithm>
#include <map>

#include "media/utf16.h"

namespace {

const size_t DirectorySize = 16, EntrySize = 8, DataEntrySize = 16;
const uint32_t HighBit = 0x80000000u;

struct Reader {
  const std::vector<uint8_t>& section;
  uint32_t sectionRva;
  std::vector<Resource>* resources;
  std::string* error;
  int directories = 0;

  bool Fail(const std::string& what) {
    *error = "its resources are damaged: " + what;
    return false;
  }

  bool Key(uint32_t field, ResourceKey* key) {
    if (!(field & HighBit)) {
      if (field > 0xFFFF) return Fail("a resource number past 65535");
      *key = ResourceKey::Id((uint16_t)field);
      return true;
    }
    size_t at = field & ~HighBit;
    if (at > section.size() || section.size() - at < 2) return Fail("a name outside the section");
    size_t length = Get16(&section[at]);
    if ((section.size() - at - 2) / 2 < length) return Fail("a name outside the section");
    key->named = true;
    key->name.clear();
    for (size_t i = 0; i < length; ++i) key->name += (char16_t)Get16(&section[at + 2 + 2 * i]);
    return true;
  }

  // level 0: types, 1: names, 2: languages.
  bool Directory(size_t at, int level, Resource* path) {
    // A tree of n resources has far fewer than this many directories; more
    // means entries that point back at their own directories.
    if (++directories > 65536) return Fail("its directories point at each other");
    if (at > section.size() || section.size() - at < DirectorySize)
      return Fail("a directory outside the section");
    size_t count = (size_t)Get16(&section[at + 12]) + Get16(&section[at + 14]);
    if ((section.size() - at - DirectorySize) / EntrySize < count)
      return Fail("a directory outside the section");
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* entry = &section[at + DirectorySize + EntrySize * i];
      uint32_t name = Get32(entry), target = Get32(entry + 4);
      if (level == 0 && !Key(name, &path->type)) return false;
      if (level == 1 && !Key(name, &path->name)) return false;
      if (level == 2) {
        if (name & HighBit || name > 0xFFFF) return Fail("a language that is no number");
        path->language = (uint16_t)name;
      }
      bool isDirectory = (target & HighBit) != 0;
      if (isDirectory != (level < 2)) return Fail("a tree that is not three levels deep");
      if (isDirectory) {
        if (!Directory(target & ~HighBit, level + 1, path)) return false;
      } else if (!Data(target, path)) {
        return false;
      }
    }
    return true;
  }

  bool Data(size_t at, Resource* path) {
    if (at > section.size() || section.size() - at < DataEntrySize)
      return Fail("a data entry outside the section");
    uint32_t rva = Get32(&section[at]), size = Get32(&section[at + 4]);
    if (rva < sectionRva || rva - sectionRva > section.size() || section.size() - (rva - sectionRva) < size) {
      return Fail("data outside the resource section");
    }
    path->codePage = Get32(&section[at + 8]);
    const uint8_t* data = section.data() + (rva - sectionRva);
    path->data.assign(data, data + size);
    resources->push_back(*path);
    return true;
  }
};

}  // namespace

bool ReadResources(const std::vector<uint8_t>& section, uint32_t sectionRva, std::vector<Resource>* resources,
                   std::string* error) {
  resources->clear();
  Reader reader{section, sectionRva, resources, error};
  Resource path;
  return reader.Directory(0, 0, &path);
}

std::vector<uint8_t> WriteResources(const std::vector<Resource>& resources, uint32_t sectionRva) {
  // The tree: type -> name -> language -> index in resources.
  std::map<ResourceKey, std::map<ResourceKey, std::map<uint16_t, size_t>>> tree;
  for (size_t i = 0; i < resources.size(); ++i) {
    tree[resources[i].type][resources[i].name][resources[i].language] = i;
  }
  // Sizes first: every directory, then the data entries, then the names.
  size_t directoriesSize = DirectorySize + EntrySize * tree.size(), leaves = 0;
  for (const auto& type : tree) {
    directoriesSize += DirectorySize + EntrySize * type.second.size();
    for (const auto& name : type.second) {
      directoriesSize += DirectorySize + EntrySize * name.second.size();
      leaves += name.second.size();
    }
  }
  // Each name string once, in the map's order.
  std::map<std::u16string, uint32_t> nameAt;
  for (const auto& type : tree) {
    if (type.first.named) nameAt[type.first.name] = 0;
    for (const auto& name : type.second) {
      if (name.first.named) nameAt[name.first.name] = 0;
    }
  }
  size_t namesEnd = directoriesSize + DataEntrySize * leaves;
  for (auto& name : nameAt) {
    name.second = (uint32_t)namesEnd;
    namesEnd += 2 + 2 * name.first.size();
  }
  std::vector<uint8_t> out;
  out.reserve(namesEnd);
  size_t nextDirectory = 0, nextLeaf = directoriesSize;
  // Appends one directory's header and entries; children get the places
  // that follow in breadth-first order.
  auto directory = [&](const std::vector<std::pair<uint32_t, uint32_t>>& entries, size_t named) {
    Put32(&out, 0);  // characteristics
    Put32(&out, 0);  // time stamp: none, so that the same input gives the same bytes
    Put32(&out, 0);  // version
    Put16(&out, (uint32_t)named);
    Put16(&out, (uint32_t)(entries.size() - named));
    for (const auto& entry : entries) {
      Put32(&out, entry.first);
      Put32(&out, entry.second);
    }
  };
  auto keyField = [&](const ResourceKey& key) { return key.named ? HighBit | nameAt[key.name] : key.id; };
  auto countNamed = [](const auto& level) {
    return (size_t)std::count_if(level.begin(), level.end(), [](const auto& e) { return e.first.named; });
  };
  // Root, then each type's directory, then each name's.
  nextDirectory = DirectorySize + EntrySize * tree.size();
  std::vector<std::pair<uint32_t, uint32_t>> entries;
  for (const auto& type : tree) {
    entries.push_back({keyField(type.first), HighBit | (uint32_t)nextDirectory});
    nextDirectory += DirectorySize + EntrySize * type.second.size();
  }
  directory(entries, countNamed(tree));
  for (const auto& type : tree) {
    entries.clear();
    for (const auto& name : type.second) {
      entries.push_back({keyField(name.first), HighBit | (uint32_t)nextDirectory});
      nextDirectory += DirectorySize + EntrySize * name.second.size();
    }
    directory(entries, countNamed(type.second));
  }
  std::vector<size_t> leafOrder;
  for (const auto& type : tree) {
    for (const auto& name : type.second) {
      entries.clear();
      for (const auto& language : name.second) {
        entries.push_back({language.first, (uint32_t)nextLeaf});
        nextLeaf += DataEntrySize;
        leafOrder.push_back(language.second);
      }
      directory(entries, 0);
    }
  }
  // The data entries, pointing at data laid out after the names.
  size_t dataAt = (namesEnd + 7) & ~(size_t)7;
  for (size_t index : leafOrder) {
    const Resource& r = resources[index];
    Put32(&out, (uint32_t)(sectionRva + dataAt));
    Put32(&out, (uint32_t)r.data.size());
    Put32(&out, r.codePage);
    Put32(&out, 0);
    dataAt = (dataAt + r.data.size() + 7) & ~(size_t)7;
  }
  for (const auto& name : nameAt) {
    Put16(&out, (uint32_t)name.first.size());
    AppendUtf16(&out, name.first, false);
  }
  for (size_t index : leafOrder) {
    out.resize((out.size() + 7) & ~(size_t)7);
    out.insert(out.end(), resources[index].data.begin(), resources[index].data.end());
  }
  return out;
}

std::vector<const Resource*> FindResources(const std::vector<Resource>& resources, const ResourceKey& type,
                                           const ResourceKey& name) {
  std::vector<const Resource*> found;
  for (const Resource& r : resources) {
    if (r.type == type && r.name == name) found.push_back(&r);
  }
  return found;
}

void RemoveResources(std::vector<Resource>* resources, const ResourceKey& type, const ResourceKey* name) {
  resources->erase(
      std::remove_if(resources->begin(), resources->end(),
                     [&](const Resource& r) { return r.type == type && (!name || r.name == name[0]); }),
      resources->end());
}
