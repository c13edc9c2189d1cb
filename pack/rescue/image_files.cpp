#include "rescue/image_files.h"

#include "rescue/iso9660.h"
#include "rescue/fat.h"

#include <map>

namespace {

const uint64_t LargestCueSheet = 1 << 16;

std::string HoldsOf(uint64_t held, uint64_t size) {
  return held == 0 ? "the image ends before it"
                   : "the image ends inside it (" + std::to_string(held) + " of its " + std::to_string(size) +
                         " bytes are there)";
}

bool ReadIsoVolume(std::shared_ptr<ImageBytes> bytes, const std::string& how,
                   std::vector<ImageVolume>* volumes, std::string* error) {
  IsoImage listing;
  bool joliet = false;
  if (!ReadIsoImage(bytes.get(), &listing, &joliet, error)) return false;
  volumes->emplace_back();
  ImageVolume& volume = volumes->back();
  volume.fileSystem = std::string("ISO 9660") + (joliet ? ", Joliet" : "") + how;
  volume.folders = std::move(listing.folders);
  for (const IsoFile& f : listing.files) {
    std::shared_ptr<ImageBytes> held(new ExtentBytes(bytes, {{f.offset, f.held}}));
    volume.files.push_back({f.folder, f.name, held, f.size, f.held < f.size ? HoldsOf(f.held, f.size) : ""});
  }
  return true;
}

}  // namespace

std::string ImageVolume::PathOf(size_t folder) const {
  std::vector<size_t> chain;
  for (size_t f = folder; f != 0 && chain.size() < folders.size(); f = folders[f].parent) chain.push_back(f);
  std::string path;
  for (auto f = chain.rbegin(); f != chain.rend(); ++f) path += (path.empty() ? "" : "/") + folders[*f].name;
  return path;
}

std::string ImageVolume::PathOf(const ImageFile& file) const {
  std::string folder = PathOf(file.folder);
  return folder.empty() ? file.name : folder + "/" + file.name;
}

bool ReadImage(std::shared_ptr<ImageBytes> bytes, const RawTrack* track, std::vector<ImageVolume>* volumes,
               std::string* error) {
  volumes->clear();
  RawTrack found;
  if (track && track->start >= bytes->Size()) {
    *error = "its cue sheet places a data track at byte " + std::to_string(track->start) + ", past its end";
    return false;
  }
  if (track && track->sectorSize == 2048) {
    std::shared_ptr<ImageBytes> iso(new ExtentBytes(bytes, {{track->start, bytes->Size() - track->start}}));
    return IsIsoImage(iso.get()) && ReadIsoVolume(iso, "", volumes, error);
  }
  if (track || IsRawSectorImage(bytes.get(), 0, &found)) {
    if (track && !IsRawSectorImage(bytes.get(), track->start, &found)) {
      *error = "its cue sheet places a data track at byte " + std::to_string(track->start) +
               ", and no raw sectors begin there";
      return false;
    }
    std::shared_ptr<ImageBytes> sectors(new RawSectorBytes(bytes, found));
    if (!IsIsoImage(sectors.get())) return false;
    return ReadIsoVolume(sectors, "; raw sectors, mode " + std::to_string(found.mode), volumes, error);
  }
  if (IsIsoImage(bytes.get())) return ReadIsoVolume(bytes, "", volumes, error);
  std::vector<FatVolume> fat = FindFatVolumes(bytes.get());
  for (const FatVolume& v : fat) {
    std::vector<FatFile> files;
    ImageVolume volume;
    volume.fileSystem = v.kind + (v.offset ? ", partition at byte " + std::to_string(v.offset) : "");
    std::string why;
    if (!ReadFatVolume(bytes.get(), v, &files, &volume.problems, &why)) {
      // One partition that cannot be read leaves the others readable.
      if (fat.size() == 1) {
        *error = why;
        return false;
      }
      volume.problems.push_back(why);
    }
    // The FAT reader gives paths; each folder of them becomes one entry.
    std::map<std::string, size_t> folderOf = {{"", 0}};
    volume.folders.push_back({0, ""});
    for (FatFile& f : files) {
      size_t slash = f.path.find_last_of('/'), folder = 0, from = 0;
      while (slash != std::string::npos && from <= slash) {
        size_t end = f.path.find('/', from);
        auto known = folderOf.emplace(f.path.substr(0, end), volume.folders.size());
        if (known.second) volume.folders.push_back({folder, f.path.substr(from, end - from)});
        folder = known.first->second;
        from = end + 1;
      }
      std::shared_ptr<ImageBytes> held(new ExtentBytes(bytes, std::move(f.extents)));
      std::string name = slash == std::string::npos ? f.path : f.path.substr(slash + 1);
      volume.files.push_back({folder, name, held, f.size, f.damage});
    }
    volumes->push_back(std::move(volume));
  }
  return !volumes->empty();
}

bool ReadCueFile(const std::string& cuePath, std::string* dataPath, RawTrack* track, std::string* error) {
  FileReader file;
  if (!file.Open(cuePath, error)) return false;
  std::string text((size_t)std::min<uint64_t>(file.Size(), LargestCueSheet), '\0');
  size_t got = 0;
  if (!file.ReadAt(0, (uint8_t*)&text[0], text.size(), &got, error)) return false;
  text.resize(got);
  CueTrack cue;
  if (!ReadCueSheet(text, &cue)) {
    *error = cuePath + ": no data track of mode 1 or 2 in raw sectors, or mode 1 in 2,048-byte sectors";
    return false;
  }
  size_t slash = cuePath.find_last_of("/\\");
  std::string folder = slash == std::string::npos ? "." : cuePath.substr(0, slash);
  size_t nameAt = cue.file.find_last_of("/\\");  // the sheet may name the folder it was made in
  std::string name = nameAt == std::string::npos ? cue.file : cue.file.substr(nameAt + 1);
  std::vector<std::string> found;
  if (!FindAnyCase(folder, name, &found, error)) return false;
  if (found.empty()) {
    *error = cuePath + ": the file it names, '" + name + "', is not beside it";
    return false;
  }
  *dataPath = slash == std::string::npos ? found[0] : JoinPath(folder, found[0]);
  *track = cue.track;
  return true;
}
