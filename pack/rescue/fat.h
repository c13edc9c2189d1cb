// FAT12, FAT16 and FAT32 images (floppies, hard disks, memory cards) read
// as files, bare or behind an MBR partition table: no mounting, no root.
// Files are followed along their cluster chains, so a fragmented file reads
// whole; a damaged chain keeps what could be followed before the damage.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "rescue/image_bytes.h"

struct FatFile {
  std::string path;  // long names where there are, "/"-separated, without a leading "/"
  uint64_t size;     // as its directory entry says
  // Its clusters' bytes, in order, in the image's bytes: size bytes in all,
  // or fewer when the damage below cut the chain short.
  std::vector<Extent> extents;
  // Empty, or what is wrong with its chain: it loops, runs past the image,
  // runs into another file's clusters, ends early, or the image was cut.
  std::string damage;
};

struct FatVolume {
  std::string kind;  // "FAT12", "FAT16" or "FAT32"
  uint64_t offset;   // of its boot sector in the image (a partition's start)
};

// The FAT volumes of the image: itself, or the partitions of its MBR that
// hold one, primary and logical (none: it is not a FAT image).
std::vector<FatVolume> FindFatVolumes(ImageBytes* image);

// The regular files of the volume, in the order of its directories. False,
// with *error, when its boot sector or root folder cannot be read; damage
// further down is told in the files it damages (and in *problems for the
// folders it hides).
bool ReadFatVolume(ImageBytes* image, const FatVolume& volume, std::vector<FatFile>* files,
                   std::vector<std::string>* problems, std::string* error);
