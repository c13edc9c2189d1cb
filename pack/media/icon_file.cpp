#include "media/icon_file.h"

#include <string.h>

#include <set>

#include "media/utf16.h"

namespace {

const size_t HeaderSize = 6, EntrySize = 16, GroupEntrySize = 14;
const uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

}  // namespace

bool ReadIconFile(const std::vector<uint8_t>& file, const std::string& name, std::vector<IconImage>* images,
                  std::string* error) {
  images->clear();
  auto refuse = [&](const std::string& why) {
    *error = "'" + name + "' is not an icon file (.ico) or is damaged: " + why;
    return false;
  };
  if (file.size() < HeaderSize || Get16(&file[0]) != 0 || Get16(&file[2]) != 1) {
    return refuse("it does not begin with an icon header");
  }
  size_t count = Get16(&file[4]);
  if (count == 0) return refuse("it holds no image");
  if ((file.size() - HeaderSize) / EntrySize < count) return refuse("its list of images is cut short");
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* entry = &file[HeaderSize + EntrySize * i];
    uint32_t size = Get32(entry + 8), offset = Get32(entry + 12);
    std::string which = "image " + std::to_string(i + 1);
    if (size == 0 || offset > file.size() || file.size() - offset < size) {
      return refuse(which + " lies outside the file");
    }
    const uint8_t* data = &file[offset];
    bool png = size >= sizeof PngSignature && memcmp(data, PngSignature, sizeof PngSignature) == 0;
    // A bitmap image begins with a BITMAPINFOHEADER: 40 bytes, one plane.
    bool bitmap = size >= 40 && Get32(data) == 40 && Get16(data + 12) == 1;
    if (!png && !bitmap) return refuse(which + " is neither a bitmap nor a PNG image");
    IconImage image{entry[0], entry[1], entry[2], Get16(entry + 4), Get16(entry + 6), {data, data + size}};
    images->push_back(image);
  }
  return true;
}

void ReplaceIconGroup(std::vector<Resource>* resources, uint16_t groupId,
                      const std::vector<IconImage>& images, uint16_t language) {
  const ResourceKey iconType = ResourceKey::Id(ResourceIcon), groupType = ResourceKey::Id(ResourceGroupIcon);
  const ResourceKey group = ResourceKey::Id(groupId);
  // The icons of the old group go with it (a group lists them by number).
  for (const Resource* old : FindResources(*resources, groupType, group)) {
    const std::vector<uint8_t>& d = old->data;
    for (size_t at = HeaderSize; d.size() >= HeaderSize && d.size() - at >= GroupEntrySize;
         at += GroupEntrySize) {
      ResourceKey icon = ResourceKey::Id(Get16(&d[at + 12]));
      RemoveResources(resources, iconType, &icon);
    }
  }
  RemoveResources(resources, groupType, &group);
  std::set<uint16_t> taken;
  for (const Resource& r : *resources) {
    if (r.type == iconType && !r.name.named) taken.insert(r.name.id);
  }
  Resource groupResource;
  groupResource.type = groupType;
  groupResource.name = group;
  groupResource.language = language;
  Put16(&groupResource.data, 0);
  Put16(&groupResource.data, 1);
  Put16(&groupResource.data, (uint32_t)images.size());
  uint16_t next = 1;
  for (const IconImage& image : images) {
    while (taken.count(next)) ++next;
    taken.insert(next);
    Resource icon;
    icon.type = iconType;
    icon.name = ResourceKey::Id(next);
    icon.language = language;
    icon.data = image.data;
    resources->push_back(icon);
    std::vector<uint8_t>& g = groupResource.data;
    g.push_back(image.width);
    g.push_back(image.height);
    g.push_back(image.colorCount);
    g.push_back(0);
    Put16(&g, image.planes);
    Put16(&g, image.bitCount);
    Put32(&g, (uint32_t)image.data.size());
    Put16(&g, next);
  }
  resources->push_back(groupResource);
}
