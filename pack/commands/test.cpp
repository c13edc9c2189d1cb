// setuppack test: pack files, a media folder (with the seal of its
// setup.exe), or a program that carries its pack files.
#include <stdio.h>

#include "cli/status.h"
#include "commands/commands.h"
#include "commands/expand_files.h"
#include "commands/file_pairs.h"
#include "commands/verdicts.h"
#include "expand/expand.h"
#include "expand/records.h"
#include "media/branding.h"
#include "media/launcher_settings.h"
#include "media/media_folder.h"
#include "media/single_file.h"

namespace {

// A program's version information, a field a line, when it has any.
void PrintVersion(const std::vector<uint8_t>& program) {
  for (const std::string& line : DescribeVersion(program)) printf("%s\n", line.c_str());
}

// The size of a file, for the report (-1 for standard input or none).
int64_t SizeOf(const std::string& path) {
  FileReader file;
  std::string error;
  return !IsStandardStream(path) && file.Open(path, &error) ? (int64_t)file.Size() : -1;
}

// Tests pack files as unpack expands them and says what it found of each
// (in verdicts, when not null, and on standard output unless quiet).
bool TestPackFiles(const std::vector<std::string>& files, std::vector<SealedPackFile>* seals, bool quiet,
                   Verdicts* verdicts) {
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
      if (verdicts) verdicts->files.push_back(WholeFile(name, SizeOf(files[i]), checks[i]));
      if (!quiet) printf("%s: OK, %s\n", name.c_str(), Verified(checks[i], checks[i].expandedSize).c_str());
    } else if (i == failed) {
      int64_t size = SizeOf(files[i]);
      if (verdicts)
        verdicts->files.push_back(FailedFile(
            name, size, size < 0 && !IsStandardStream(files[i]) ? "unreadable" : "damaged", error));
      DataError(error);
    } else {
      if (verdicts) verdicts->files.push_back(FailedFile(name, SizeOf(files[i]), "not_tested", ""));
      if (!quiet) {
        printf("%s: not tested: it continues the decoder state of a file that failed before it\n",
               name.c_str());
      }
    }
  }
  return ok;
}

int TestMedia(const std::string& media, bool quiet, Verdicts* verdicts) {
  MediaFolder folder;
  SealInfo seal;
  std::string error;
  if (!FindMediaFiles(media, &folder, &error) || !ReadMediaSeal(folder, &seal, &error))
    return DataError(error);
  std::vector<SealedPackFile> packed;
  if (!TestPackFiles(folder.packFiles, &packed, quiet, verdicts)) return ExitData;
  if (verdicts) {
    verdicts->sealPath = folder.hasSetup ? folder.setup : media;
    verdicts->seal = !folder.hasSetup                        ? "no_setup"
                     : seal.state == SealState::Unsealed     ? "unsealed"
                     : seal.state == SealState::None         ? "no_seal_block"
                     : SealMismatch(seal, packed.data()) < 0 ? "match"
                                                             : "mismatch";
  }
  if (!CheckMediaSeal(folder, seal, packed, &error)) return DataError(error);
  const char* found = seal.state == SealState::Sealed ? "sealed, and both pack files match its seal"
                      : seal.state == SealState::Unsealed
                          ? "unsealed: it expands any pack files beside it (setuppack seal seals it)"
                          : "no seal block: a setup.exe from before seals, which expands any pack files";
  if (quiet) return ExitSuccess;
  std::vector<uint8_t> image;
  if (folder.hasSetup) {
    printf("%s: %s\n", folder.setup.c_str(), found);
    if (ReadWholeFile(folder.setup, &image, &error)) {
      printf("%s", SettingsLines(image, folder.setup).c_str());
      PrintVersion(image);
    }
  } else {
    printf("%s: no setup.exe, no seal to check\n", media.c_str());
  }
  return ExitSuccess;
}

int TestProgram(const std::string& path, const std::vector<uint8_t>& program, bool quiet,
                Verdicts* verdicts) {
  SealInfo seal;
  std::vector<std::vector<uint8_t>> packed;
  std::vector<PackCheck> checks;
  size_t failed = 0;
  std::string error;
  if (!ReadCarriedPackFiles(program, path, &seal, &packed, &error)) return DataError(error);
  bool whole = ExpandPackedData(packed, nullptr, &checks, &failed, &error);
  for (size_t i = 0; i < 2; ++i) {
    std::string name = path + " (" + PackNames[i] + ")";
    FileVerdict file;
    if (whole || i < failed) {
      file = WholeFile(PackNames[i], (int64_t)packed[i].size(), checks[i]);
      if (!quiet) printf("%s: OK, %s\n", name.c_str(), Verified(checks[i], checks[i].expandedSize).c_str());
    } else if (i == failed) {
      file = FailedFile(PackNames[i], (int64_t)packed[i].size(), "damaged", error);
      DataError(name + ": " + error);
    } else {
      file = FailedFile(PackNames[i], (int64_t)packed[i].size(), "not_tested", "");
      if (!quiet) {
        printf("%s: not tested: it continues the decoder state of a file that failed before it\n",
               name.c_str());
      }
    }
    file.container = path;
    file.carriedAt = (int64_t)seal.files[i].carriedAt;
    if (verdicts) verdicts->files.push_back(file);
  }
  if (!whole) return ExitData;
  int mismatch = SealMismatch(seal, packed[0], packed[1]);
  if (verdicts) verdicts->sealPath = path, verdicts->seal = mismatch < 0 ? "match" : "mismatch";
  if (mismatch >= 0) {
    return DataError("'" + path + "': the " + PackNames[mismatch] + " it carries (" +
                     DescribeSealed(SealOf(packed[mismatch])) + ") does not match its seal (" +
                     DescribeSealed(seal.files[mismatch]) + "): setup.exe refuses it");
  }
  if (!quiet)
    printf("%s: sealed, and both pack files it carries match its seal\n%s", path.c_str(),
           SettingsLines(program, path).c_str());
  if (!quiet) PrintVersion(program);
  return ExitSuccess;
}

}  // namespace

int Test(const Invocation& in, Verdicts* verdicts) {
  if (in.files.empty()) return UsageError("test needs at least one PACKED file");
  std::vector<std::string> entries;
  std::string error;
  if (in.files.size() == 1 && !IsStandardStream(in.files[0]) &&
      FindAnyCase(in.files[0], "", &entries, &error)) {
    return TestMedia(in.files[0], in.quiet, verdicts);  // a folder
  }
  std::vector<uint8_t> program;
  if (in.files.size() == 1 && ReadIfProgram(in.files[0], &program))
    return TestProgram(in.files[0], program, in.quiet, verdicts);
  if (!CheckNamesOnce(in.files, {}, &error)) return UsageError(error);
  return TestPackFiles(in.files, nullptr, in.quiet, verdicts) ? ExitSuccess : ExitData;
}
