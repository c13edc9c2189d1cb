#include "rescue/fat.h"

#include <string.h>

#include <algorithm>

namespace {

const int DeepestFolder = 64;
const size_t MostFiles = 1u << 20;
const uint64_t LargestFolder = 65536 * 32;  // the most entries a FAT folder may have
const uint32_t Unclaimed = 0;
const int MostLogicalPartitions = 128;

uint32_t Le16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | ((uint32_t)p[3] << 24); }

bool PowerOfTwo(uint32_t n) { return n && !(n & (n - 1)); }

// Where a volume's parts lie, in the image's bytes.
struct Layout {
  int bits;  // of a FAT entry: 12, 16 or 32
  uint32_t clusterSize;
  uint32_t clusters;  // data clusters, numbered 2 .. clusters + 1
  uint64_t fatOffset, fatBytes;
  uint64_t rootOffset, rootBytes;  // FAT12 and FAT16: the root folder's fixed place
  uint32_t rootCluster;            // FAT32: the root folder's first cluster
  uint64_t dataOffset;             // of cluster 2
};

// Reads the boot sector's parameter block, refusing values no formatter
// writes (so that any other file is not taken for a FAT volume).
bool ParseBootSector(const uint8_t* b, uint64_t offset, Layout* out) {
  uint32_t sectorSize = Le16(b + 11), perCluster = b[13], reserved = Le16(b + 14), fats = b[16];
  uint32_t rootEntries = Le16(b + 17), total = Le16(b + 19) ? Le16(b + 19) : Le32(b + 32);
  uint32_t fatSectors = Le16(b + 22) ? Le16(b + 22) : Le32(b + 36);
  if ((b[0] != 0xEB && b[0] != 0xE9) || sectorSize < 512 || sectorSize > 4096 || !PowerOfTwo(sectorSize) ||
      !PowerOfTwo(perCluster) || reserved == 0 || fats == 0 || fats > 4 || fatSectors == 0) {
    return false;
  }
  uint64_t rootSectors = (rootEntries * 32ull + sectorSize - 1) / sectorSize;
  uint64_t firstData = reserved + (uint64_t)fats * fatSectors + rootSectors;
  if (firstData >= total) return false;
  uint64_t clusters = (total - firstData) / perCluster;
  int bits = clusters < 4085 ? 12 : clusters < 65525 ? 16 : 32;
  if (clusters == 0 || clusters > 0x0FFFFFF5 - 2 || (bits == 32 && (rootEntries != 0 || Le16(b + 22) != 0)) ||
      (bits != 32 && rootEntries == 0) || (clusters + 2) * bits / 8 > (uint64_t)fatSectors * sectorSize) {
    return false;
  }
  out->bits = bits;
  out->clusterSize = sectorSize * perCluster;
  out->clusters = (uint32_t)clusters;
  out->fatOffset = offset + (uint64_t)reserved * sectorSize;
  out->fatBytes = ((clusters + 2) * bits + 7) / 8;
  out->rootOffset = offset + (reserved + (uint64_t)fats * fatSectors) * sectorSize;
  out->rootBytes = rootSectors * sectorSize;
  out->rootCluster = bits == 32 ? Le32(b + 44) & 0x0FFFFFFF : 0;
  out->dataOffset = offset + firstData * sectorSize;
  return true;
}

bool ReadBootSector(ImageBytes* image, uint64_t offset, Layout* layout) {
  uint8_t sector[512];
  std::string ignored;
  return ReadExactly(image, offset, sector, sizeof sector, "", &ignored) &&
         ParseBootSector(sector, offset, layout);
}

// A name in UTF-8, made safe as one part of a path: no separators, no
// control characters, never "." or "..". DOS code page bytes of short names
// are kept as Latin-1.
void AppendUtf8(std::string* out, uint32_t c) {
  if (c < 0x20 || c == '/' || c == '\\' || c == 0x7F) c = '_';
  if (c < 0x80) {
    *out += (char)c;
  } else if (c < 0x800) {
    *out += (char)(0xC0 | (c >> 6));
    *out += (char)(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += (char)(0xE0 | (c >> 12));
    *out += (char)(0x80 | ((c >> 6) & 0x3F));
    *out += (char)(0x80 | (c & 0x3F));
  } else {
    *out += (char)(0xF0 | (c >> 18));
    *out += (char)(0x80 | ((c >> 12) & 0x3F));
    *out += (char)(0x80 | ((c >> 6) & 0x3F));
    *out += (char)(0x80 | (c & 0x3F));
  }
}

std::string SafeName(std::string name) { return name == "." || name == ".." ? "_" : name; }

// "INSTALL EX_" -> "INSTALL.EX_", in lower case where Windows NT marked it so.
std::string ShortName(const uint8_t* e) {
  std::string base, extension;
  for (int i = 0; i < 11; ++i) {
    uint32_t c = i == 0 && e[0] == 0x05 ? 0xE5 : e[i];
    if (c >= 'A' && c <= 'Z' && (e[12] & (i < 8 ? 0x08 : 0x10))) c += 'a' - 'A';
    AppendUtf8(i < 8 ? &base : &extension, c);
  }
  while (!base.empty() && base.back() == ' ') base.pop_back();
  while (!extension.empty() && extension.back() == ' ') extension.pop_back();
  return SafeName(extension.empty() ? base : base + "." + extension);
}

uint8_t ShortNameSum(const uint8_t* e) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = (uint8_t)(((sum & 1) << 7) + (sum >> 1) + e[i]);
  return sum;
}

// The pieces of a long name gathered from the entries before a short one.
struct LongName {
  uint16_t units[20 * 13];
  int parts = 0;  // 0: none being gathered
  int seen = 0;   // the last part gathered (they come last first)
  uint8_t sum = 0;

  void Take(const uint8_t* e) {
    int order = e[0] & 0x1F;
    if (order == 0 || order > 20 ||
        ((e[0] & 0x40) == 0 && (parts == 0 || order != seen - 1 || e[13] != sum))) {
      parts = 0;
      return;
    }
    if (e[0] & 0x40) parts = order, sum = e[13];
    seen = order;
    static const int At[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (int i = 0; i < 13; ++i) units[(order - 1) * 13 + i] = (uint16_t)Le16(e + At[i]);
  }
  // The name, when its pieces are all there and belong to this short entry.
  bool For(const uint8_t* e, std::string* name) {
    bool whole = parts > 0 && seen == 1 && sum == ShortNameSum(e);
    int count = parts * 13;
    parts = 0;
    if (!whole) return false;
    name->clear();
    for (int i = 0; i < count && units[i] != 0; ++i) {
      uint32_t c = units[i];
      if (c >= 0xD800 && c < 0xDC00 && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
      }
      AppendUtf8(name, c);
    }
    *name = SafeName(*name);
    return !name->empty();
  }
};

// One volume being read: its FAT, and which file or folder claimed each
// cluster (so that a chain that loops or runs into another is caught the
// first time, and no cluster is read twice).
class VolumeReader {
 public:
  VolumeReader(ImageBytes* image, const Layout& layout) : image_(image), layout_(layout) {}

  bool Read(std::vector<FatFile>* files, std::vector<std::string>* problems, std::string* error) {
    // The first FAT, as far as the image holds it (a damaged boot sector
    // may claim a FAT far larger than the image).
    uint64_t imageSize = image_->Size();
    uint64_t held = layout_.fatOffset < imageSize ? imageSize - layout_.fatOffset : 0;
    fat_.resize((size_t)std::min(layout_.fatBytes, held));
    size_t got = 0;
    if (!image_->ReadAt(layout_.fatOffset, fat_.data(), fat_.size(), &got, error)) return false;
    fat_.resize(got);
    entries_ = (uint32_t)std::min<uint64_t>((uint64_t)got * 8 / layout_.bits, layout_.clusters + 2ull);
    claimedBy_.assign(entries_, Unclaimed);
    names_.push_back("");  // owner 0: nobody

    struct Folder {
      std::string path;
      std::vector<uint8_t> data;
      int depth;
    };
    std::vector<Folder> folders(1);
    if (layout_.bits == 32) {
      Chain root = Follow(layout_.rootCluster, LargestFolder, Claim("/"), true);
      if (!ReadChain(root, &folders[0].data, error)) return false;
      if (!root.damage.empty()) problems->push_back("the root folder: " + root.damage);
    } else {
      folders[0].data.resize((size_t)std::min<uint64_t>(layout_.rootBytes, LargestFolder));
      if (!ReadExactly(image_, layout_.rootOffset, folders[0].data.data(), folders[0].data.size(),
                       "the image ends before its root folder", error)) {
        return false;
      }
    }
    folders[0].depth = 0;
    for (size_t f = 0; f < folders.size(); ++f) {
      std::vector<uint8_t> data = std::move(folders[f].data);
      std::string folderPath = folders[f].path;
      int depth = folders[f].depth;
      LongName longName;
      for (size_t i = 0; i + 32 <= data.size() && data[i] != 0; i += 32) {
        const uint8_t* e = &data[i];
        uint8_t attributes = e[11];
        if (e[0] == 0xE5) {
          longName.parts = 0;
          continue;
        }
        if ((attributes & 0x3F) == 0x0F) {
          longName.Take(e);
          continue;
        }
        std::string name;
        if (!longName.For(e, &name)) name = ShortName(e);
        if ((attributes & 0x08) || e[0] == '.')
          continue;  // the volume's label; the folder itself, its parent
        std::string path = folderPath.empty() ? name : folderPath + "/" + name;
        uint32_t first = Le16(e + 26) | (layout_.bits == 32 ? Le16(e + 20) << 16 : 0);
        if (attributes & 0x10) {
          if (depth >= DeepestFolder) continue;
          Chain chain = Follow(first, LargestFolder, Claim(path + "/"), true);
          folders.push_back({path, {}, depth + 1});
          if (!chain.damage.empty()) problems->push_back("folder " + path + ": " + chain.damage);
          if (!ReadChain(chain, &folders.back().data, error)) return false;
        } else if (files->size() < MostFiles) {
          uint64_t size = Le32(e + 28);
          Chain chain = Follow(first, size, Claim(path), false);
          files->push_back({path, size, std::move(chain.extents), chain.damage});
        }
      }
    }
    return true;
  }

 private:
  struct Chain {
    std::vector<Extent> extents;
    uint64_t bytes = 0;
    std::string damage;
  };

  uint32_t Claim(const std::string& name) {
    names_.push_back(name);
    return (uint32_t)(names_.size() - 1);
  }

  // A FAT entry: the cluster after n (or an end, free or bad mark).
  uint32_t Next(uint32_t n) const {
    if (layout_.bits == 12) {
      uint32_t pair = Le16(&fat_[n * 3 / 2]);
      return n & 1 ? pair >> 4 : pair & 0xFFF;
    }
    if (layout_.bits == 16) return Le16(&fat_[n * 2]);
    return Le32(&fat_[n * 4]) & 0x0FFFFFFF;
  }

  // Follows the chain from first for want bytes (a folder: to its end, up
  // to want), claiming its clusters for owner.
  Chain Follow(uint32_t first, uint64_t want, uint32_t owner, bool toItsEnd) {
    Chain chain;
    uint32_t endMark = layout_.bits == 12 ? 0xFF8 : layout_.bits == 16 ? 0xFFF8 : 0x0FFFFFF8;
    uint64_t imageSize = image_->Size();
    auto bytesSoFar = [&]() {
      return toItsEnd
                 ? ""
                 : " (" + std::to_string(chain.bytes) + " of its " + std::to_string(want) + " bytes read)";
    };
    for (uint32_t n = first; toItsEnd || chain.bytes < want;) {
      if (n < 2 || n >= layout_.clusters + 2) {
        if (chain.bytes == 0 && n == 0 && !toItsEnd) chain.damage = "it has no clusters";
        if (chain.damage.empty()) {
          chain.damage =
              "its cluster chain leads past the end of the volume (cluster " + std::to_string(n) + ")";
        }
        break;
      }
      if (n >= entries_) {
        chain.damage = "the image ends before the FAT entry of its cluster " + std::to_string(n);
        break;
      }
      if (claimedBy_[n] != Unclaimed) {
        chain.damage = claimedBy_[n] == owner
                           ? "its cluster chain loops back to cluster " + std::to_string(n)
                           : "its cluster chain runs into the clusters of " + names_[claimedBy_[n]] +
                                 " (cluster " + std::to_string(n) + ")";
        break;
      }
      claimedBy_[n] = owner;
      uint64_t at = layout_.dataOffset + (uint64_t)(n - 2) * layout_.clusterSize;
      uint64_t take = std::min<uint64_t>(layout_.clusterSize, want - chain.bytes);
      if (at + take > imageSize) {
        take = at < imageSize ? imageSize - at : 0;
        chain.damage = "the image ends inside it";
      }
      if (take > 0) {
        if (!chain.extents.empty() && chain.extents.back().offset + chain.extents.back().size == at) {
          chain.extents.back().size += take;
        } else {
          chain.extents.push_back({at, take});
        }
        chain.bytes += take;
      }
      if (!chain.damage.empty() || chain.bytes >= want) break;
      uint32_t next = Next(n);
      if (next >= endMark) {
        if (!toItsEnd) chain.damage = "its cluster chain ends early";
        break;
      }
      if (next < 2 || next >= layout_.clusters + 2) {
        chain.damage =
            next == 0 || next == 1
                ? "its cluster chain breaks at cluster " + std::to_string(n) + " (the next is marked free)"
            : next == endMark - 1
                ? "its cluster chain runs into a bad cluster after cluster " + std::to_string(n)
                : "its cluster chain leads past the end of the volume (cluster " + std::to_string(next) + ")";
        break;
      }
      n = next;
    }
    if (!chain.damage.empty()) chain.damage += bytesSoFar();
    return chain;
  }

  bool ReadChain(const Chain& chain, std::vector<uint8_t>* data, std::string* error) {
    data->resize((size_t)chain.bytes);
    size_t done = 0;
    for (const Extent& e : chain.extents) {
      if (!ReadExactly(image_, e.offset, data->data() + done, (size_t)e.size,
                       "the image ends inside a folder", error)) {
        return false;
      }
      done += (size_t)e.size;
    }
    return true;
  }

  ImageBytes* image_;
  Layout layout_;
  std::vector<uint8_t> fat_;
  uint32_t entries_ = 0;  // FAT entries the image holds
  std::vector<uint32_t> claimedBy_;
  std::vector<std::string> names_;  // of each owner of clusters
};

}  // namespace

std::vector<FatVolume> FindFatVolumes(ImageBytes* image) {
  std::vector<FatVolume> volumes;
  Layout layout;
  if (ReadBootSector(image, 0, &layout)) {
    volumes.push_back({"FAT" + std::to_string(layout.bits), 0});
    return volumes;
  }
  // The four primary partitions of an MBR, and the logical ones of an
  // extended partition: a chain of boot records, each holding one
  // partition (placed from itself) and the next record (placed from the
  // extended partition's start).
  uint64_t extended = 0, next = 0;
  for (int record = 0; record < MostLogicalPartitions; ++record) {
    uint8_t mbr[512];
    std::string ignored;
    if (!ReadExactly(image, next, mbr, sizeof mbr, "", &ignored) || mbr[510] != 0x55 || mbr[511] != 0xAA)
      break;
    uint64_t here = next;
    next = 0;
    for (int i = 0; i < (record == 0 ? 4 : 2); ++i) {
      const uint8_t* entry = mbr + 446 + 16 * i;
      uint64_t start = (uint64_t)Le32(entry + 8) * 512;
      bool isExtended = entry[4] == 0x05 || entry[4] == 0x0F || entry[4] == 0x85;
      if (isExtended && start > 0) {
        if (record == 0) extended = start;
        next = extended + (record == 0 ? 0 : start);
      } else if (entry[4] != 0 && start > 0 && ReadBootSector(image, here + start, &layout)) {
        volumes.push_back({"FAT" + std::to_string(layout.bits), here + start});
      }
    }
    if (next <= here) break;  // each record lies after the one before: no loop
  }
  return volumes;
}

bool ReadFatVolume(ImageBytes* image, const FatVolume& volume, std::vector<FatFile>* files,
                   std::vector<std::string>* problems, std::string* error) {
  files->clear();
  Layout layout;
  if (!ReadBootSector(image, volume.offset, &layout)) {
    *error = "no FAT boot sector at offset " + std::to_string(volume.offset);
    return false;
  }
  VolumeReader reader(image, layout);
  return reader.Read(files, problems, error);
}
