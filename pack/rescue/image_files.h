// The files of any image read here, alike whatever its kind: ISO 9660 (with
// Joliet names), the same held in raw CD sectors, and FAT12/16/32 volumes,
// bare or behind an MBR. scan reads every image through this.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "rescue/image_bytes.h"
#include "rescue/iso9660.h"
#include "rescue/raw_sectors.h"

// A file of a volume: its folder (an index in ImageVolume::folders) and its
// name there. Paths are made when they are shown, so that memory follows
// the bytes of the volume's folders however deep they nest.
struct ImageFile {
  size_t folder;
  std::string name;
  std::shared_ptr<ImageBytes> bytes;  // what the image holds of it
  uint64_t size;                      // as the image's folder says: more than bytes hold when damaged
  std::string damage;                 // empty when bytes holds it whole
};

struct ImageVolume {
  std::string fileSystem;          // "ISO 9660, Joliet", "FAT12", "FAT16, partition at byte 1048576"...
  std::vector<IsoFolder> folders;  // the root first; each names its parent
  std::vector<ImageFile> files;
  std::vector<std::string> problems;  // damage that hides folders (their files are not listed)

  // "SETUP/DISK1" ("" for the root), "SETUP/DISK1/INSTALL.SC_": "/"-separated,
  // without a leading "/".
  std::string PathOf(size_t folder) const;
  std::string PathOf(const ImageFile& file) const;
};

// The volumes the bytes hold. False when they are no image of a kind read
// here, or one whose folders cannot be read (then with *error). track,
// when given, says where a raw CD's data track lies (from its cue sheet).
bool ReadImage(std::shared_ptr<ImageBytes> bytes, const RawTrack* track, std::vector<ImageVolume>* volumes,
               std::string* error);

// The data track a cue sheet names: the file that holds it, found beside
// the sheet in any letter case, and where in it the track lies.
bool ReadCueFile(const std::string& cuePath, std::string* dataPath, RawTrack* track, std::string* error);
