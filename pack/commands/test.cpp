// setuppack test: pack files, a media folder (with the seal of its
// setup.exe), or a program that carries its pack files.
#include <stdio.h>

#include "cli/status.h"
#include "commands/commands.h"
#include "commands/expand_files.h"
#include "commands/file_pairs.h"
#include "expand/expand.h"
#include "expand/records.h"
#include "media/media_folder.h"
#include "media/single_file.h"

namespace {

// Tests pack files as unpack expands them and says what it found of each.
bool TestPackFiles(const std::vector<std::string>& files, std::vector<SealedPackFile>* seals, bool quiet) {
  std::string error;
  Expansion expansion;
  expansion.hashed = seals != nullptr;
  expansion.quiet = quiet;
  size_t failed = files.size();
  bool ok = ReadAndExpand(files, nullptr, false, &expansion, &failed, &error);
  if (ok) failed = files.size();
  const std::vector<PackCheck>& checks = expansion.checks;
  if (seals) seals->swap(expansion.seals);
  for (size_t i = 0; i < files.size(); ++i) {
    std::string name = DisplayName(files[i], true);
    if (i < failed) {
      printf("%s: OK, %s\n", name.c_str(), Verified(checks[i], checks[i].expandedSize).c_str());
    } else if (i == failed) {
      fflush(stdout);
      DataError(error);
    } else {
      printf("%s: not tested: it continues the decoder state of a file that failed before it\n",
             name.c_str());
    }
  }
  return ok;
}

int TestMedia(const std::string& media, bool quiet) {
  MediaFolder folder;
  SealInfo seal;
  std::string error;
  if (!FindMediaFiles(media, &folder, &error) || !ReadMediaSeal(folder, &seal, &error))
    return DataError(error);
  std::vector<SealedPackFile> packed;
  if (!TestPackFiles(folder.packFiles, &packed, quiet)) return ExitData;
  if (!CheckMediaSeal(folder, seal, packed, &error)) return DataError(error);
  const char* found = seal.state == SealState::Sealed ? "sealed, and both pack files match its seal"
                      : seal.state == SealState::Unsealed
                          ? "unsealed: it expands any pack files beside it (setuppack seal seals it)"
                          : "no seal block: a setup.exe from before seals, which expands any pack files";
  if (folder.hasSetup) {
    printf("%s: %s\n", folder.setup.c_str(), found);
  } else {
    printf("%s: no setup.exe, no seal to check\n", media.c_str());
  }
  return ExitSuccess;
}

int TestProgram(const std::string& path, const std::vector<uint8_t>& program) {
  SealInfo seal;
  std::vector<std::vector<uint8_t>> packed;
  std::vector<PackCheck> checks;
  size_t failed = 0;
  std::string error;
  if (!ReadCarriedPackFiles(program, path, &seal, &packed, &error)) return DataError(error);
  bool whole = ExpandPackedData(packed, nullptr, &checks, &failed, &error);
  for (size_t i = 0; i < 2; ++i) {
    std::string name = path + " (" + PackNames[i] + ")";
    if (whole || i < failed) {
      printf("%s: OK, %s\n", name.c_str(), Verified(checks[i], checks[i].expandedSize).c_str());
    } else if (i == failed) {
      fflush(stdout);
      DataError(name + ": " + error);
    } else {
      printf("%s: not tested: it continues the decoder state of a file that failed before it\n",
             name.c_str());
    }
  }
  if (!whole) return ExitData;
  int mismatch = SealMismatch(seal, packed[0], packed[1]);
  if (mismatch >= 0) {
    return DataError("'" + path + "': the " + PackNames[mismatch] + " it carries (" +
                     DescribeSealed(SealOf(packed[mismatch])) + ") does not match its seal (" +
                     DescribeSealed(seal.files[mismatch]) + "): setup.exe refuses it");
  }
  printf("%s: sealed, and both pack files it carries match its seal\n", path.c_str());
  return ExitSuccess;
}

}  // namespace

int Test(const Invocation& in) {
  if (in.files.empty()) return UsageError("test needs at least one PACKED file");
  std::vector<std::string> entries;
  std::string error;
  if (in.files.size() == 1 && !IsStandardStream(in.files[0]) &&
      FindAnyCase(in.files[0], "", &entries, &error)) {
    return TestMedia(in.files[0], in.quiet);  // a folder
  }
  std::vector<uint8_t> program;
  if (in.files.size() == 1 && ReadIfProgram(in.files[0], &program)) return TestProgram(in.files[0], program);
  if (!CheckNamesOnce(in.files, {}, &error)) return UsageError(error);
  return TestPackFiles(in.files, nullptr, in.quiet) ? ExitSuccess : ExitData;
}
