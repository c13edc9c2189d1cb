// The resource section of a Windows program as a list of resources, read
// from and written back into the section's bytes.
//
// The section holds a tree three levels deep (type, name, language) whose
// leaves point at the data by relative virtual address; Write lays it out as
// resource compilers do: the directories, then the data entries, the name
// strings and the data, each datum on an 8-byte boundary.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// A type or a name: a number, or a text (then id is unused).
struct ResourceKey {
  bool named = false;
  uint16_t id = 0;
  std::u16string name;

  static ResourceKey Id(uint16_t id) {
    ResourceKey key;
    key.id = id;
    return key;
  }
  bool operator==(const ResourceKey& other) const {
    return named == other.named && (named ? name == other.name : id == other.id);
  }
  // Named entries come first, ordered by their texts; then numbers, rising.
  bool operator<(const ResourceKey& other) const {
    if (named != other.named) return named;
    return named ? name < other.name : id < other.id;
  }
};

struct Resource {
  ResourceKey type, name;
  uint16_t language = 0;
  uint32_t codePage = 0;
  std::vector<uint8_t> data;
};

// Resource types used here (the platform's RT_ numbers).
enum : uint16_t {
  ResourceIcon = 3,
  ResourceDialog = 5,
  ResourceString = 6,
  ResourceGroupIcon = 14,
  ResourceVersion = 16,
};

// Reads the resources of section (its bytes as the file holds them, loaded
// at sectionRva). false with *error for a tree that points outside the
// section, loops or goes deeper than three levels.
bool ReadResources(const std::vector<uint8_t>& section, uint32_t sectionRva, std::vector<Resource>* resources,
                   std::string* error);

// The section's bytes for resources, loaded at sectionRva.
std::vector<uint8_t> WriteResources(const std::vector<Resource>& resources, uint32_t sectionRva);

// The resources of type and name, in every language.
std::vector<const Resource*> FindResources(const std::vector<Resource>& resources, const ResourceKey& type,
                                           const ResourceKey& name);
// Removes those of type (and name, when given).
void RemoveResources(std::vector<Resource>* resources, const ResourceKey& type, const ResourceKey* name);
