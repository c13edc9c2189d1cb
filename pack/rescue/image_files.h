// The files of any image read here, alike whatever its kind: ISO 9660 (with
// Joliet names), the same held in raw CD sectors, and FAT12/16/32 volumes,
// bare or behind an MBR. scan reads every image through this.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "rescue/image_bytes.h"
#include "rescue/raw_sectors.h"

struct ImageFile {
  std::string path;                   // inside its volume, "/"-separated, without a leading "/"
  std::shared_ptr<ImageBytes> bytes;  // what the image holds of it
  uint64_t size;                      // as the image's folder says: more than bytes hold when damaged
  std::string damage;                 // empty when bytes holds it whole
};

struct ImageVolume {
  std::string fileSystem;  // "ISO 9660, Joliet", "FAT12", "FAT16, partition at byte 1048576"...
  std::vector<ImageFile> files;
  std::vector<std::string> problems;  // damage that hides folders (their files are not listed)
};

// The volumes the bytes hold. False when they are no image of a kind read
// here, or one whose folders cannot be read (then with *error). track,
// when given, says where a raw CD's data track lies (from its cue sheet).
bool ReadImage(std::shared_ptr<ImageBytes> bytes, const RawTrack* track, std::vector<ImageVolume>* volumes,
               std::string* error);

// The data track a cue sheet names: the file that holds it, found beside
// the sheet in any letter case, and where in it the track lies.
bool ReadCueFile(const std::string& cuePath, std::string* dataPath, RawTrack* track, std::string* error);
