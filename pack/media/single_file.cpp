#include "media/single_file.h"

#include <stdio.h>

#include <algorithm>

#include "platform/file_io.h"

bool MakeSingleFile(const std::vector<uint8_t>& setup, const std::string& name,
                    const std::vector<std::vector<uint8_t>>& packed, std::vector<uint8_t>* program,
                    std::string* error) {
  size_t end = 0;
  if (!ImageEnd(setup, name, &end, error)) return false;
  // Bytes after the image would lie between it and the pack files: a
  // program that carries pack files already, or a signed one.
  if (setup.size() != end) {
    *error = "'" + name + "' holds " + std::to_string(setup.size() - end) +
             " bytes after its image (a program that already carries pack files, or a signed one): give a "
             "plain setup.exe";
    return false;
  }
  *program = setup;
  uint64_t carriedAt[2] = {setup.size(), setup.size() + packed[0].size()};
  if (!SealImage(program, name, packed[0], packed[1], error, carriedAt)) return false;
  for (const std::vector<uint8_t>& file : packed) program->insert(program->end(), file.begin(), file.end());
  return SetPeChecksum(program, name, error);
}

bool ReadCarriedPackFiles(const std::vector<uint8_t>& program, const std::string& name, SealInfo* seal,
                          std::vector<std::vector<uint8_t>>* packed, std::string* error, bool keepCut) {
  size_t end = 0;
  if (!ImageEnd(program, name, &end, error) || !ReadSeal(program, name, seal, error)) return false;
  if (seal->state == SealState::None) {
    *error = "'" + name + "' is not a setup.exe of ours (it has no seal block)";
    return false;
  }
  if (seal->state != SealState::Sealed || seal->files[0].carriedAt == 0 || seal->files[1].carriedAt == 0) {
    *error = "'" + name +
             "' carries no pack files: it is a setup.exe for a media folder (give the folder that holds it)";
    return false;
  }
  packed->assign(2, {});
  for (int i = 0; i < 2; ++i) {
    const SealedPackFile& file = seal->files[i];
    // The pack files lie after the image, where a signature covers them.
    bool placed = file.carriedAt >= end;
    if (!placed || file.carriedAt > program.size() || file.length > program.size() - file.carriedAt) {
      // Offsets in the file, as a hex viewer shows them.
      std::string where = "bytes " + std::to_string(file.carriedAt) + " to " +
                          std::to_string(file.carriedAt + file.length) + " of the file";
      *error = "'" + name + "' is cut short or damaged: its seal places " + PackNames[i] + " at " + where +
               (placed ? ", and the file has only " + std::to_string(program.size()) +
                             " bytes (an incomplete download?)"
                       : ", inside its image of " + std::to_string(end) + " bytes");
      if (!placed || !keepCut) return false;
      fprintf(stderr, "setuppack: %s\n", error->c_str());
    }
    size_t from = (size_t)std::min<uint64_t>(file.carriedAt, program.size());
    size_t length = (size_t)std::min<uint64_t>(file.length, program.size() - from);
    (*packed)[i].assign(program.begin() + from, program.begin() + from + length);
  }
  return true;
}

bool LooksLikeProgram(const std::vector<uint8_t>& data) {
  if (data.size() < 2 || data[0] != 'M' || data[1] != 'Z') return false;
  // A program without a seal block is no setup.exe of ours: it is read as
  // any other file is (and is then not in pack format). One whose seal
  // cannot be read is, and says why.
  SealInfo seal;
  std::string error;
  return !ReadSeal(data, "", &seal, &error) || seal.state != SealState::None;
}

bool ReadIfProgram(const std::string& path, std::vector<uint8_t>* data) {
  std::vector<std::string> entries;
  std::string error;
  if (IsStandardStream(path) || FindAnyCase(path, "", &entries, &error)) return false;  // a folder
  // Only a regular file can be a program (a named pipe read here would lose
  // its bytes), and two bytes tell a program from a pack file, which is
  // then read as it expands, not here.
  if (!IsSameRegularFile(path, path)) return false;
  FileReader file;
  uint8_t magic[2] = {0, 0};
  size_t got = 0;
  if (!file.Open(path, &error) || !file.ReadAt(0, magic, sizeof magic, &got, &error) || got != sizeof magic ||
      magic[0] != 'M' || magic[1] != 'Z') {
    return false;
  }
  return ReadWholeFile(path, data, &error) && LooksLikeProgram(*data);
}
