#include "media/seal_image.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "pack_format.h"
#include "seal.h"

size_t SealBlockSizeOf(uint32_t version) {
  return version == SealLayoutVersion1  ? SealEntriesOffset + 2 * SealEntrySizeVersion1
         : version == SealLayoutVersion ? SealBlockSize
                                        : 0;
}

namespace {

uint32_t ReadLE16(const uint8_t* p) { return (uint32_t)p[0] | ((uint32_t)p[1] << 8); }

uint64_t ReadLE64(const uint8_t* p) { return (uint64_t)ReadLE32(p) | ((uint64_t)ReadLE32(p + 4) << 32); }

// What sealing needs to know of a PE image.
struct PeLayout {
  size_t checksumOffset;
  bool isSigned;  // the certificate table's directory entry is set
  struct Section {
    size_t start, end;  // the file bytes that are loaded (and signed)
  };
  std::vector<Section> sections;
  size_t headersEnd = 0;  // the end of the section table
  size_t imageEnd = 0;    // the end of the last section's raw data
};

bool ReadPeLayout(const std::vector<uint8_t>& image, PeLayout* pe) {
  const uint8_t* p = image.data();
  size_t size = image.size();
  if (size < 64 || p[0] != 'M' || p[1] != 'Z') return false;
  size_t header = ReadLE32(p + 60);
  if (header > size || size - header < 24 || memcmp(p + header, "PE\0\0", 4) != 0) return false;
  size_t sectionCount = ReadLE16(p + header + 6), optionalSize = ReadLE16(p + header + 20);
  size_t optional = header + 24;
  if (size - optional < optionalSize || optionalSize < 2) return false;
  uint32_t magic = ReadLE16(p + optional);
  // PE32 and PE32+ differ in where the data directories begin.
  size_t directoryCountAt = magic == 0x10b ? 92 : magic == 0x20b ? 108 : 0;
  if (directoryCountAt == 0 || optionalSize < directoryCountAt + 4) return false;
  pe->checksumOffset = optional + 64;
  uint32_t directories = ReadLE32(p + optional + directoryCountAt);
  const size_t certificateEntry = directoryCountAt + 4 + 4 * 8;
  pe->isSigned =
      directories > 4 && optionalSize >= certificateEntry + 8 &&
      (ReadLE32(p + optional + certificateEntry) | ReadLE32(p + optional + certificateEntry + 4)) != 0;
  size_t table = optional + optionalSize;
  if ((size - table) / 40 < sectionCount) return false;
  pe->headersEnd = table + 40 * sectionCount;
  for (size_t i = 0; i < sectionCount; ++i) {
    const uint8_t* s = p + table + 40 * i;
    size_t start = ReadLE32(s + 20), rawSize = ReadLE32(s + 16), virtualSize = ReadLE32(s + 8);
    // Bytes past the virtual size are in the file but not in memory.
    size_t length = std::min(rawSize, virtualSize ? virtualSize : rawSize);
    if (start <= size) pe->sections.push_back({start, start + std::min(length, size - start)});
    if (rawSize != 0) pe->imageEnd = std::max(pe->imageEnd, start + rawSize);
  }
  return true;
}

std::vector<size_t> FindSealBlocks(const std::vector<uint8_t>& image) {
  std::vector<size_t> found;
  auto at = image.begin();
  while ((at = std::search(at, image.end(), SealId, SealId + SealIdSize)) != image.end()) {
    found.push_back((size_t)(at - image.begin()));
    ++at;
  }
  return found;
}

size_t SealEntrySizeOf(uint32_t version) {
  return version == SealLayoutVersion1 ? SealEntrySizeVersion1 : SealEntrySize;
}

// Locates the one seal block of a PE image. false with *error when there is
// none (*none set), or when it cannot be the block setup.exe reads.
bool LocateSeal(const std::vector<uint8_t>& image, const std::string& name, const PeLayout& pe,
                size_t* offset, uint32_t* version, bool* none, std::string* error) {
  std::vector<size_t> blocks = FindSealBlocks(image);
  *none = blocks.empty();
  if (blocks.empty()) {
    *error = "'" + name + "' has no seal block (a setup.exe from before seals, or another program)";
    return false;
  }
  if (blocks.size() > 1) {
    *error = "'" + name + "' holds " + std::to_string(blocks.size()) +
             " seal blocks, and only one can be the one setup.exe reads";
    return false;
  }
  *offset = blocks[0];
  // A section may cover the headers too; a block there would be sealed
  // over the fields that say where it is.
  if (*offset < pe.headersEnd) {
    *error = "'" + name + "': its seal block overlaps the PE headers";
    return false;
  }
  *version = image.size() - *offset >= SealIdSize + 4 ? ReadLE32(image.data() + *offset + SealIdSize) : 0;
  size_t blockSize = std::max<size_t>(SealBlockSizeOf(*version), SealEntriesOffset);
  bool inSection = std::any_of(pe.sections.begin(), pe.sections.end(), [&](const PeLayout::Section& s) {
    return *offset >= s.start && *offset < s.end && s.end - *offset >= blockSize;
  });
  if (!inSection) {
    *error =
        "'" + name + "': its seal block lies outside the sections that Windows loads and a signature covers";
    return false;
  }
  if (SealBlockSizeOf(*version) == 0) {
    *error =
        "'" + name + "': seal layout version " + std::to_string(*version) + " is unknown to this setuppack";
    return false;
  }
  return true;
}

std::string Hex(const uint8_t* bytes, size_t size) {
  std::string text;
  char two[3];
  for (size_t i = 0; i < size; ++i) {
    snprintf(two, sizeof two, "%02x", bytes[i]);
    text += two;
  }
  return text;
}

}  // namespace

SealHasher::SealHasher() { Sha256Init(&state_); }

void SealHasher::Add(const uint8_t* data, size_t size) {
  // In pieces: the hash takes 32-bit sizes.
  for (size_t at = 0; at < size; at += 1u << 30) {
    Sha256Update(&state_, data + at, (uint32_t)std::min<size_t>(size - at, 1u << 30));
  }
  length_ += size;
}

SealedPackFile SealHasher::Finish() {
  SealedPackFile file;
  file.length = length_;
  Sha256Final(&state_, file.digest);
  return file;
}

SealedPackFile SealOf(const std::vector<uint8_t>& packFile) {
  SealHasher hasher;
  hasher.Add(packFile.data(), packFile.size());
  return hasher.Finish();
}

bool ReadSeal(const std::vector<uint8_t>& image, const std::string& name, SealInfo* seal,
              std::string* error) {
  *seal = SealInfo();
  PeLayout pe;
  bool none = false;
  if (!ReadPeLayout(image, &pe)) return true;
  if (!LocateSeal(image, name, pe, &seal->offset, &seal->version, &none, error)) return none;
  const uint8_t* block = image.data() + seal->offset;
  if (memcmp(block + SealStateOffset, SealStateUnsealed, SealStateSize) == 0) {
    seal->state = SealState::Unsealed;
    return true;
  }
  if (memcmp(block + SealStateOffset, SealStateSealed, SealStateSize) != 0) {
    *error = "'" + name + "': its seal block is damaged (its state is neither sealed nor unsealed)";
    return false;
  }
  seal->state = SealState::Sealed;
  for (int i = 0; i < 2; ++i) {
    const uint8_t* entry = block + SealEntriesOffset + SealEntrySizeOf(seal->version) * i;
    if (seal->version != SealLayoutVersion1) {
      seal->files[i].carriedAt = ReadLE64(entry);
      entry += SealEntryLengthOffset;
    }
    seal->files[i].length = ReadLE64(entry);
    memcpy(seal->files[i].digest, entry + 8, Sha256DigestSize);
  }
  return true;
}

bool SealImage(std::vector<uint8_t>* image, const std::string& name, const std::vector<uint8_t>& script,
               const std::vector<uint8_t>& installer, std::string* error, const uint64_t* carriedAt) {
  const SealedPackFile files[2] = {SealOf(script), SealOf(installer)};
  return SealImage(image, name, files, error, carriedAt);
}

bool SealImage(std::vector<uint8_t>* image, const std::string& name, const SealedPackFile files[2],
               std::string* error, const uint64_t* carriedAt) {
  PeLayout pe;
  if (!ReadPeLayout(*image, &pe)) {
    *error = "'" + name + "' is not a Windows program (no PE header)";
    return false;
  }
  if (pe.isSigned) {
#ifdef _WIN32
    const char* unsign = "signtool remove /s";
#else
    const char* unsign = "osslsigncode remove-signature";
#endif
    *error = "'" + name +
             "' carries a signature, which the seal would break: seal first, then sign (sign the sealed "
             "copy again; " +
             unsign + " gives back the unsigned one)";
    return false;
  }
  size_t offset = 0;
  uint32_t version = 0;
  bool none = false;
  if (!LocateSeal(*image, name, pe, &offset, &version, &none, error)) return false;
  // A folder's setup.exe with bytes after its image would be a program that
  // carries pack files, sealed for others beside it.
  if (!carriedAt && pe.imageEnd != 0 && image->size() > pe.imageEnd) {
    *error = "'" + name + "' holds " + std::to_string(image->size() - pe.imageEnd) +
             " bytes after its image (a program that carries its pack files?): seal a plain setup.exe";
    return false;
  }
  if (carriedAt && version == SealLayoutVersion1) {
    *error = "'" + name +
             "' is a setup.exe from before programs carried their pack files (seal layout 1): use one of "
             "this version";
    return false;
  }
  uint8_t* block = image->data() + offset;
  memcpy(block + SealStateOffset, SealStateSealed, SealStateSize);
  for (int i = 0; i < 2; ++i) {
    const SealedPackFile& sealed = files[i];
    uint8_t* entry = block + SealEntriesOffset + SealEntrySizeOf(version) * i;
    if (version != SealLayoutVersion1) {
      uint64_t at = carriedAt ? carriedAt[i] : 0;
      WriteLE32(entry, (uint32_t)at);
      WriteLE32(entry + 4, (uint32_t)(at >> 32));
      entry += SealEntryLengthOffset;
    }
    WriteLE32(entry, (uint32_t)sealed.length);
    WriteLE32(entry + 4, (uint32_t)(sealed.length >> 32));
    memcpy(entry + 8, sealed.digest, Sha256DigestSize);
  }
  WriteLE32(image->data() + pe.checksumOffset, PeChecksum(*image, pe.checksumOffset));
  return true;
}

bool ImageEnd(const std::vector<uint8_t>& image, const std::string& name, size_t* end, std::string* error) {
  PeLayout pe;
  if (!ReadPeLayout(image, &pe)) {
    *error = "'" + name + "' is not a Windows program (no PE header)";
    return false;
  }
  *end = pe.imageEnd;
  return true;
}

bool SetPeChecksum(std::vector<uint8_t>* file, const std::string& name, std::string* error) {
  PeLayout pe;
  if (!ReadPeLayout(*file, &pe)) {
    *error = "'" + name + "' is not a Windows program (no PE header)";
    return false;
  }
  WriteLE32(file->data() + pe.checksumOffset, PeChecksum(*file, pe.checksumOffset));
  return true;
}

int SealMismatch(const SealInfo& seal, const std::vector<uint8_t>& script,
                 const std::vector<uint8_t>& installer) {
  const SealedPackFile files[2] = {SealOf(script), SealOf(installer)};
  return SealMismatch(seal, files);
}

int SealMismatch(const SealInfo& seal, const SealedPackFile files[2]) {
  if (seal.state != SealState::Sealed) return -1;
  for (int i = 0; i < 2; ++i) {
    const SealedPackFile& actual = files[i];
    if (actual.length != seal.files[i].length ||
        memcmp(actual.digest, seal.files[i].digest, Sha256DigestSize) != 0) {
      return i;
    }
  }
  return -1;
}

std::string DescribeSealed(const SealedPackFile& file) {
  return std::to_string(file.length) + " bytes, SHA-256 " + Hex(file.digest, Sha256DigestSize);
}

uint32_t PeChecksum(const std::vector<uint8_t>& image, size_t checksumOffset) {
  // 16-bit one's-complement sum of the file with the checksum field as zero,
  // plus the file's length.
  uint64_t sum = 0;
  for (size_t i = 0; i < image.size(); i += 2) {
    uint32_t low = i - checksumOffset < 4 ? 0 : image[i];
    uint32_t high = i + 1 >= image.size() || i + 1 - checksumOffset < 4 ? 0 : image[i + 1];
    sum += low | (high << 8);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return (uint32_t)(sum + image.size());
}
