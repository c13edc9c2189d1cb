// The seal of a setup.exe image in memory (seal.h has its layout): found,
// read, filled in for two pack files, and checked against them.
//
// Sealing writes the seal block and the PE checksum and nothing else: the
// image keeps its size and every other byte. It is refused for an image that
// carries a signature (a signature covers the seal, so it must come after
// it), for one whose seal block is not there exactly once, and for one whose
// block is not whole inside a section, after the PE headers. Every function
// returns true on success, or false with a one-line message in *error.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "sha256.h"

enum class SealState {
  None,      // no seal block: a setup.exe from before seals
  Unsealed,  // as built, or written with --no-seal
  Sealed,
};

struct SealedPackFile {
  uint64_t length;
  uint8_t digest[Sha256DigestSize];
  uint64_t carriedAt = 0;  // its offset in the program's file; 0: beside it, in its folder
};

// The size of a seal block of layout version (0: a version unknown here).
size_t SealBlockSizeOf(uint32_t version);

struct SealInfo {
  SealState state = SealState::None;
  uint32_t version = 0;     // the seal block's layout (1: no offsets, 2)
  size_t offset = 0;        // of the seal block in the file
  SealedPackFile files[2];  // INSTALL.SC_, INSTALL.EX_ (when Sealed)
};

// Reads the seal of image (named name in messages). An image without a seal
// block, or that is no Windows program, has SealState::None; one with more
// than one block, or with a damaged or unknown one, is an error.
bool ReadSeal(const std::vector<uint8_t>& image, const std::string& name, SealInfo* seal, std::string* error);

// Seals image for the two pack files, as they are written to the media.
// carriedAt, when not null, gives the offsets at which the program will
// carry them in its own file (layout 2 only); null: they lie beside it.
bool SealImage(std::vector<uint8_t>* image, const std::string& name, const std::vector<uint8_t>& script,
               const std::vector<uint8_t>& installer, std::string* error,
               const uint64_t* carriedAt = nullptr);

// The end of image's last section in the file: where bytes after the image
// (an overlay, a signature's certificate table) begin. false with *error
// for an image that is no Windows program.
bool ImageEnd(const std::vector<uint8_t>& image, const std::string& name, size_t* end, std::string* error);

// Sets the PE checksum of a whole program file (its bytes after the image
// count too, as Windows counts them).
bool SetPeChecksum(std::vector<uint8_t>* file, const std::string& name, std::string* error);

// As above, for pack files known by their lengths and SHA-256 alone (read
// as streams): files[0] the script's, files[1] the installer's.
bool SealImage(std::vector<uint8_t>* image, const std::string& name, const SealedPackFile files[2],
               std::string* error, const uint64_t* carriedAt = nullptr);

// The length and SHA-256 of a pack file, as the seal holds them.
SealedPackFile SealOf(const std::vector<uint8_t>& packFile);

// The same, taken as the file is read: Add every byte in order, then Finish.
class SealHasher {
 public:
  SealHasher();
  void Add(const uint8_t* data, size_t size);
  SealedPackFile Finish();

 private:
  Sha256State state_;
  uint64_t length_ = 0;
};

// The index (0, 1) of the first pack file that does not match a sealed
// seal, or -1 when both match.
int SealMismatch(const SealInfo& seal, const std::vector<uint8_t>& script,
                 const std::vector<uint8_t>& installer);
int SealMismatch(const SealInfo& seal, const SealedPackFile files[2]);

// "N bytes, SHA-256 hex": a sealed file in messages.
std::string DescribeSealed(const SealedPackFile& file);

// The PE checksum of image, as Windows computes it (the checksum field at
// checksumOffset counts as zero).
uint32_t PeChecksum(const std::vector<uint8_t>& image, size_t checksumOffset);
