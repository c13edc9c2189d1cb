#include "rescue/iso9660.h"

#include <string.h>

#include <set>

namespace {

const uint64_t DescriptorStart = 16 * 2048;  // volume descriptors begin at sector 16
const size_t SectorSize = 2048;
const int MostDescriptors = 64;
const int DeepestFolder = 64;
const uint32_t LargestFolder = 16u << 20;
const size_t MostFiles = 1u << 20;

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | ((uint32_t)p[3] << 24); }
uint32_t Le16(const uint8_t* p) { return p[0] | (p[1] << 8); }

bool ReadExactly(FileReader* file, uint64_t offset, uint8_t* data, size_t size, std::string* error) {
  size_t got = 0;
  if (!file->ReadAt(offset, data, size, &got, error)) return false;
  if (got < size) {
    *error = "the image ends inside its directories";
    return false;
  }
  return true;
}

// A Joliet name (UCS-2, big-endian) in UTF-8.
std::string FromUcs2(const uint8_t* name, size_t size) {
  std::string utf8;
  for (size_t i = 0; i + 1 < size; i += 2) {
    uint32_t c = ((uint32_t)name[i] << 8) | name[i + 1];
    if (c < 0x80) {
      utf8 += (char)c;
    } else if (c < 0x800) {
      utf8 += (char)(0xC0 | (c >> 6));
      utf8 += (char)(0x80 | (c & 0x3F));
    } else {
      utf8 += (char)(0xE0 | (c >> 12));
      utf8 += (char)(0x80 | ((c >> 6) & 0x3F));
      utf8 += (char)(0x80 | (c & 0x3F));
    }
  }
  return utf8;
}

// "INSTALL.SC_;1" -> "INSTALL.SC_", "README.;1" -> "README".
std::string PlainName(std::string name) {
  size_t version = name.find(';');
  if (version != std::string::npos) name.resize(version);
  if (!name.empty() && name.back() == '.') name.pop_back();
  return name;
}

struct Folder {
  std::string path;
  uint32_t extent, size;
  int depth;
};

}  // namespace

bool IsIsoImage(FileReader* file, uint64_t base, uint64_t size) {
  uint8_t id[6];
  size_t got = 0;
  std::string ignored;
  return size >= DescriptorStart + SectorSize &&
         file->ReadAt(base + DescriptorStart, id, sizeof id, &got, &ignored) && got == sizeof id &&
         memcmp(id + 1, "CD001", 5) == 0;
}

bool ReadIsoImage(FileReader* file, uint64_t base, uint64_t size, std::vector<IsoFile>* files,
                  std::string* error) {
  files->clear();
  // The primary volume descriptor, and a Joliet one when there is one.
  uint8_t descriptor[SectorSize];
  uint8_t root[34] = {0};
  bool found = false, joliet = false;
  uint32_t blockSize = SectorSize;
  for (int i = 0; i < MostDescriptors; ++i) {
    if (!ReadExactly(file, base + DescriptorStart + i * SectorSize, descriptor, SectorSize, error))
      return false;
    if (memcmp(descriptor + 1, "CD001", 5) != 0 || descriptor[0] == 255) break;
    bool isJoliet = descriptor[0] == 2 && descriptor[88] == '%' && descriptor[89] == '/' &&
                    (descriptor[90] == '@' || descriptor[90] == 'C' || descriptor[90] == 'E');
    if ((descriptor[0] == 1 && !found) || (isJoliet && !joliet)) {
      memcpy(root, descriptor + 156, sizeof root);
      blockSize = Le16(descriptor + 128);
      found = true;
      joliet = joliet || isJoliet;
    }
  }
  if (!found || (blockSize != 512 && blockSize != 1024 && blockSize != 2048)) {
    *error = "no primary volume descriptor";
    return false;
  }
  std::vector<Folder> folders = {{"", Le32(root + 2), Le32(root + 10), 0}};
  // A folder is queued once however many records name it (a loop, or a
  // damaged tree whose records all name a few folders). The folders of an
  // image do not overlap, nor do its files: each kind holds no more bytes
  // than the image. Twice that bounds the reading of an image whose records
  // say otherwise (every folder naming every other, overlapping one), and
  // still reads one where damage made a folder or file a little longer.
  std::set<uint32_t> queued = {folders[0].extent};
  std::set<std::pair<uint64_t, uint64_t>> listed;
  uint64_t folderBytes = 0, fileBytes = 0;
  std::vector<uint8_t> data;
  for (size_t f = 0; f < folders.size(); ++f) {
    Folder folder = folders[f];
    if (folder.depth > DeepestFolder) continue;
    uint64_t at = (uint64_t)folder.extent * blockSize;
    if (folder.size > LargestFolder || at + folder.size > size) {
      *error = "folder '" + folder.path + "' lies outside the image";
      return false;
    }
    folderBytes += folder.size;
    if (folderBytes > 2 * size) {
      *error = "its folders overlap (they claim more than twice the bytes the image holds)";
      return false;
    }
    data.resize(folder.size);
    if (!ReadExactly(file, base + at, data.data(), data.size(), error)) return false;
    for (size_t i = 0; i < data.size();) {
      uint8_t length = data[i];
      if (length == 0) {  // records do not cross a sector: the rest of this one is empty
        i = (i / SectorSize + 1) * SectorSize;
        continue;
      }
      if (length < 34 || i + length > data.size()) break;
      const uint8_t* record = data.data() + i;
      i += length;
      uint8_t nameSize = record[32];
      if (33u + nameSize > length) break;
      if (nameSize == 1 && (record[33] == 0 || record[33] == 1)) continue;  // the folder itself, its parent
      std::string name = joliet ? FromUcs2(record + 33, nameSize)
                                : PlainName(std::string((const char*)record + 33, nameSize));
      name = PlainName(name);
      std::string path = folder.path.empty() ? name : folder.path + "/" + name;
      uint32_t extent = Le32(record + 2), dataSize = Le32(record + 10);
      uint8_t flags = record[25];
      if (flags & 0x02) {
        if (queued.insert(extent).second) folders.push_back({path, extent, dataSize, folder.depth + 1});
      } else if ((uint64_t)extent * blockSize + dataSize <= size && files->size() < MostFiles) {
        // Names of the same bytes (hard links) are each listed; their bytes
        // count once.
        if (listed.insert({extent, dataSize}).second) fileBytes += dataSize;
        if (fileBytes > 2 * size) {
          *error = "its files overlap (they claim more than twice the bytes the image holds)";
          return false;
        }
        files->push_back({path, base + (uint64_t)extent * blockSize, dataSize});
      }
    }
  }
  return true;
}
