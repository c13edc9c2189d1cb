#include "media/media_folder.h"

#include "platform/file_io.h"

bool EntryAnyCase(const std::string& folder, const std::string& name, std::string* path, bool* found,
                  std::string* error) {
  std::vector<std::string> entries;
  if (!FindAnyCase(folder, name, &entries, error)) return false;
  if (entries.size() > 1) {
    *error = "'" + folder + "' holds both '" + entries[0] + "' and '" + entries[1] +
             "', names that differ only in case; remove one";
    return false;
  }
  *found = !entries.empty();
  *path = JoinPath(folder, entries.empty() ? name : entries[0]);
  return true;
}

bool FindMediaFiles(const std::string& media, MediaFolder* folder, std::string* error) {
  folder->packFiles.resize(2);
  if (!IsStandardStream(media) && !IsFolder(media)) {
    FileReader file;
    if (!file.Open(media, error)) return false;
    *error = media + ": not a folder; 'setuppack scan " + media +
             "' finds media inside disc images and other files";
    return false;
  }
  const char* names[] = {"INSTALL.SC_", "INSTALL.EX_"};
  for (int i = 0; i < 2; ++i) {
    bool found = false;
    if (!EntryAnyCase(media, names[i], &folder->packFiles[i], &found, error)) return false;
    if (!found) {
      *error = "'" + media + "' has no " + names[i] + " (in any letter case); 'setuppack scan " + media +
               "' looks in the folders below it";
      return false;
    }
  }
  return EntryAnyCase(media, "setup.exe", &folder->setup, &folder->hasSetup, error);
}

bool ReadMediaSeal(const MediaFolder& folder, SealInfo* seal, std::string* error) {
  *seal = SealInfo();
  std::vector<uint8_t> image;
  if (!folder.hasSetup) return true;
  if (!ReadWholeFile(folder.setup, &image, error) || !ReadSeal(image, folder.setup, seal, error))
    return false;
  if (seal->state == SealState::Sealed && (seal->files[0].carriedAt | seal->files[1].carriedAt) != 0) {
    *error = "'" + folder.setup +
             "' carries its own pack files and never reads those beside it: test or extract it as a program";
    return false;
  }
  return true;
}

bool CheckMediaSeal(const MediaFolder& folder, const SealInfo& seal,
                    const std::vector<SealedPackFile>& packed, std::string* error) {
  int mismatch = SealMismatch(seal, packed.data());
  if (mismatch < 0) return true;
  *error = "'" + folder.packFiles[mismatch] + "' does not match the seal of '" + folder.setup + "' (it is " +
           DescribeSealed(packed[mismatch]) + "; the seal names " + DescribeSealed(seal.files[mismatch]) +
           "): setup.exe refuses it";
  return false;
}
