#include "media/pe_resources.h"

#include <string.h>

#include <algorithm>

#include "media/seal_image.h"
#include "media/utf16.h"

namespace {

const size_t SectionHeaderSize = 40;
enum { DirectoryResources = 2, DirectoryCertificates = 4, DirectoryRelocations = 5 };

struct Section {
  size_t header;  // of its entry in the section table
  std::string name;
  uint32_t virtualSize, rva, rawSize, rawOffset;
};

// What replacing the resources needs to know of a PE image.
struct PeImage {
  size_t optional = 0, directories = 0;  // offsets of the optional header and of its data directories
  uint32_t directoryCount = 0, fileAlignment = 0, sectionAlignment = 0;
  std::vector<Section> sections;
  size_t imageEnd = 0;

  uint32_t DirectoryRva(const std::vector<uint8_t>& image, int index) const {
    return index < (int)directoryCount ? Get32(&image[directories + 8 * index]) : 0;
  }
};

bool ReadPe(const std::vector<uint8_t>& image, PeImage* pe) {
  size_t size = image.size();
  if (size < 64 || image[0] != 'M' || image[1] != 'Z') return false;
  size_t header = Get32(&image[60]);
  if (header > size || size - header < 24 || memcmp(&image[header], "PE\0\0", 4) != 0) return false;
  size_t sectionCount = Get16(&image[header + 6]), optionalSize = Get16(&image[header + 20]);
  pe->optional = header + 24;
  if (size - pe->optional < optionalSize || optionalSize < 2) return false;
  uint32_t magic = Get16(&image[pe->optional]);
  size_t countAt = magic == 0x10b ? 92 : magic == 0x20b ? 108 : 0;  // PE32, PE32+
  if (countAt == 0 || optionalSize < countAt + 4) return false;
  pe->fileAlignment = Get32(&image[pe->optional + 36]);
  pe->sectionAlignment = Get32(&image[pe->optional + 32]);
  pe->directories = pe->optional + countAt + 4;
  pe->directoryCount =
      std::min<uint32_t>(Get32(&image[pe->optional + countAt]), (uint32_t)((optionalSize - countAt - 4) / 8));
  size_t table = pe->optional + optionalSize;
  if ((size - table) / SectionHeaderSize < sectionCount) return false;
  if (pe->fileAlignment == 0 || pe->sectionAlignment == 0) return false;
  for (size_t i = 0; i < sectionCount; ++i) {
    const uint8_t* s = &image[table + SectionHeaderSize * i];
    Section section{table + SectionHeaderSize * i,
                    std::string((const char*)s, strnlen((const char*)s, 8)),
                    Get32(s + 8),
                    Get32(s + 12),
                    Get32(s + 16),
                    Get32(s + 20)};
    if (section.rawSize && (section.rawOffset > size || size - section.rawOffset < section.rawSize))
      return false;
    if (section.rawSize) pe->imageEnd = std::max<size_t>(pe->imageEnd, section.rawOffset + section.rawSize);
    pe->sections.push_back(section);
  }
  return true;
}

uint32_t AlignUp(uint64_t value, uint32_t alignment) {
  return (uint32_t)((value + alignment - 1) / alignment * alignment);
}

// The section that holds the resource directory, which begins it.
const Section* ResourceSection(const std::vector<uint8_t>& image, const PeImage& pe) {
  uint32_t rva = pe.DirectoryRva(image, DirectoryResources);
  if (rva == 0) return nullptr;
  for (const Section& s : pe.sections) {
    if (s.rva == rva) return &s;
  }
  return nullptr;
}

}  // namespace

bool ReadImageResources(const std::vector<uint8_t>& image, const std::string& name,
                        std::vector<Resource>* resources, std::string* error) {
  resources->clear();
  PeImage pe;
  if (!ReadPe(image, &pe)) {
    *error = "'" + name + "' is not a Windows program (no PE header)";
    return false;
  }
  const Section* section = ResourceSection(image, pe);
  if (!section) return true;
  std::vector<uint8_t> bytes(
      image.begin() + section->rawOffset,
      image.begin() + section->rawOffset +
          std::min(section->rawSize, section->virtualSize ? section->virtualSize : section->rawSize));
  if (!ReadResources(bytes, section->rva, resources, error)) {
    *error = "'" + name + "': " + *error;
    return false;
  }
  return true;
}

bool ReplaceImageResources(std::vector<uint8_t>* image, const std::string& name,
                           const std::vector<Resource>& resources, std::string* error) {
  PeImage pe;
  if (!ReadPe(*image, &pe)) {
    *error = "'" + name + "' is not a Windows program (no PE header)";
    return false;
  }
  const Section* found = ResourceSection(*image, pe);
  if (!found) {
    *error = "'" + name + "' has no resource section to write its resources into";
    return false;
  }
  if (pe.DirectoryRva(*image, DirectoryCertificates) != 0) {
    *error = "'" + name + "' carries a signature: give the unsigned setup.exe, and sign what media writes";
    return false;
  }
  if (image->size() != pe.imageEnd) {
    *error = "'" + name + "' holds " + std::to_string(image->size() - pe.imageEnd) +
             " bytes after its image: give a plain setup.exe";
    return false;
  }
  const Section rsrc = *found;
  std::vector<uint8_t> bytes = WriteResources(resources, rsrc.rva);
  uint32_t rawSize = AlignUp(bytes.size(), pe.fileAlignment);
  // The sections after it, in memory and in the file, follow it as closely
  // as the alignments let them.
  uint64_t nextRva = UINT64_MAX, nextRaw = image->size();
  for (const Section& s : pe.sections) {
    if (s.rva > rsrc.rva) nextRva = std::min<uint64_t>(nextRva, s.rva);
    if (s.rawSize && s.rawOffset > rsrc.rawOffset) nextRaw = std::min<uint64_t>(nextRaw, s.rawOffset);
  }
  if (nextRaw < (uint64_t)rsrc.rawOffset + rsrc.rawSize) {
    *error = "'" + name + "': its sections overlap in the file";
    return false;
  }
  int64_t rawShift = (int64_t)rsrc.rawOffset + rawSize - (int64_t)nextRaw;
  int64_t rvaShift = nextRva == UINT64_MAX
                         ? 0
                         : (int64_t)rsrc.rva + AlignUp(bytes.size(), pe.sectionAlignment) - (int64_t)nextRva;
  // Code may refer to any section's addresses but the base relocations'.
  for (const Section& s : pe.sections) {
    if (s.rva > rsrc.rva && rvaShift != 0 && s.name != ".reloc") {
      *error = "'" + name + "': its section " + s.name + " lies after its resources and cannot move";
      return false;
    }
  }
  std::vector<uint8_t> out(image->begin(), image->begin() + rsrc.rawOffset);
  out.insert(out.end(), bytes.begin(), bytes.end());
  out.resize(rsrc.rawOffset + rawSize);
  out.insert(out.end(), image->begin() + nextRaw, image->end());
  uint8_t* rsrcHeader = &out[rsrc.header];
  Set32(rsrcHeader + 8, (uint32_t)bytes.size());
  Set32(rsrcHeader + 16, rawSize);
  uint32_t imageSize = 0;
  for (const Section& s : pe.sections) {
    uint8_t* header = &out[s.header];
    if (s.rawSize && s.rawOffset > rsrc.rawOffset) Set32(header + 20, (uint32_t)(s.rawOffset + rawShift));
    if (s.rva > rsrc.rva) Set32(header + 12, (uint32_t)(s.rva + rvaShift));
    imageSize = std::max(
        imageSize, AlignUp((uint64_t)Get32(header + 12) + std::max(Get32(header + 8), Get32(header + 16)),
                           pe.sectionAlignment));
  }
  // The directories that lie in moved sections (the relocations), and the
  // resource directory's new size.
  for (uint32_t i = 0; i < pe.directoryCount; ++i) {
    uint8_t* entry = &out[pe.directories + 8 * i];
    if (i != DirectoryCertificates && Get32(entry) > rsrc.rva)
      Set32(entry, (uint32_t)(Get32(entry) + rvaShift));
  }
  Set32(&out[pe.directories + 8 * DirectoryResources + 4], (uint32_t)bytes.size());
  Set32(&out[pe.optional + 56], imageSize);
  Set32(&out[pe.optional + 8], (uint32_t)(Get32(&out[pe.optional + 8]) + rawShift));  // initialised data
  if (!SetPeChecksum(&out, name, error)) return false;
  image->swap(out);
  return true;
}
