// setuppack seal: seals the setup.exe of a media folder for its pack files.
#include <stdio.h>

#include "cli/status.h"
#include "commands/commands.h"
#include "commands/expand_files.h"
#include "commands/file_pairs.h"
#include "media/media_folder.h"

namespace {

// setuppack ignores padding after the last record; setup.exe does not, so
// padded files are not sealed for it.
bool NoPadding(const std::vector<std::string>& names, const std::vector<size_t>& padding,
               std::string* error) {
  for (size_t i = 0; i < padding.size(); ++i) {
    if (padding[i] != 0) {
      *error = names[i] + ": " + std::to_string(padding[i]) +
               " bytes of padding after its last record, which setup.exe refuses: unpack and pack it again";
      return false;
    }
  }
  return true;
}

}  // namespace

int Seal(const Invocation& in) {
  if (in.files.size() != 1) return UsageError("seal needs MEDIA_DIR");
  MediaFolder folder;
  std::string error;
  if (!FindMediaFiles(in.files[0], &folder, &error)) return DataError(error);
  if (!folder.hasSetup) return DataError("'" + in.files[0] + "' has no setup.exe (in any letter case)");
  // Pack files that do not expand whole are not sealed: setup.exe would
  // refuse them anyway.
  Expansion expansion;
  expansion.hashed = true;
  expansion.quiet = in.quiet;
  const std::vector<SealedPackFile>& packed = expansion.seals;
  std::vector<uint8_t> image;
  size_t failed = 0;
  Destination destination;
  if (!ReadAndExpand(folder.packFiles, nullptr, false, &expansion, &failed, &error) ||
      !NoPadding(folder.packFiles, expansion.padding, &error) ||
      !ReadWholeFile(folder.setup, &image, &error) ||
      !SealImage(&image, folder.setup, packed.data(), &error) ||
      !PlanDestination(folder.setup, true, &destination, &error) ||
      !WriteDestination(destination, image, &error)) {
    return DataError(error + " (nothing was written)");
  }
  if (!in.quiet)
    printf("%s: sealed for %s (%s) and %s (%s)\n", folder.setup.c_str(), folder.packFiles[0].c_str(),
           DescribeSealed(packed[0]).c_str(), folder.packFiles[1].c_str(), DescribeSealed(packed[1]).c_str());
  return ExitSuccess;
}
