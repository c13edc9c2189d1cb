// A media folder: its two pack files and its setup.exe, found in any letter
// case, and the seal of that setup.exe read and checked against them.
//
// media/ holds what setuppack knows of media: folders (here), programs that
// carry their pack files (single_file.h), the seal of setup.exe
// (seal_image.h) and what is said of an installer (installer_check.h). It
// uses expand/, encode/, platform/ and the format; it prints no result.
#pragma once

#include <string>
#include <vector>

#include "media/seal_image.h"

// The entry of folder called name in any letter case: the one there, or
// name itself when there is none. Two that differ only in case are an error,
// since which of them setup.exe reads depends on the file system.
bool EntryAnyCase(const std::string& folder, const std::string& name, std::string* path, bool* found,
                  std::string* error);

// The files of a media folder, in any letter case: the two pack files in
// the launcher's order (the script, then the installer), and setup.exe when
// there is one.
struct MediaFolder {
  std::vector<std::string> packFiles;
  std::string setup;
  bool hasSetup = false;
};

// Finds the files of the media folder media; an error names what is missing.
bool FindMediaFiles(const std::string& media, MediaFolder* folder, std::string* error);

// Reads the seal of the folder's setup.exe (SealState::None without one).
bool ReadMediaSeal(const MediaFolder& folder, SealInfo* seal, std::string* error);

// Fails, naming the file, when a pack file is not the one the seal names.
bool CheckMediaSeal(const MediaFolder& folder, const SealInfo& seal,
                    const std::vector<SealedPackFile>& packed, std::string* error);
