// setuppack extract: the two files of a media folder, or of a program that
// carries them, expanded into a folder (with --salvage, what is left).
#include <stdio.h>

#include <memory>

#include "cli/status.h"
#include "commands/commands.h"
#include "commands/expand_files.h"
#include "commands/file_pairs.h"
#include "expand/expand.h"
#include "expand/records.h"
#include "media/media_folder.h"
#include "media/single_file.h"
#include "rescue/salvage.h"

namespace {

class MemorySink final : public ExpansionSink {
 public:
  void Take(const uint8_t* data, size_t size) override { bytes.insert(bytes.end(), data, data + size); }
  std::vector<uint8_t> bytes;
};

// extract --salvage: what the pack files a program carries still hold is
// written, as for media in a folder (a pack file salvage had nothing of is
// not); a mismatch with its seal is reported, not obeyed.
int SalvageProgram(const Invocation& in, const std::string& out, const SealInfo& seal,
                   const std::vector<std::vector<uint8_t>>& packed) {
  const std::string& path = in.files[0];
  std::unique_ptr<PackExpander> expander(new PackExpander());
  ResetDecoderState(&expander->decoder);
  SalvageReport reports[2];
  MemorySink expanded[2];
  for (int i = 0; i < 2; ++i) SalvagePackFile(expander.get(), packed[i], &expanded[i], &reports[i]);
  bool madeFolder = false;
  std::string error;
  std::vector<std::string> targets = {out + "/INSTALL.SCR", out + "/INSTALL.EXE"};
  std::vector<Destination> destinations(2);
  if (!MakeFolder(out, &error, &madeFolder) ||
      !PlanDestination(targets[0], in.force, &destinations[0], &error) ||
      !PlanDestination(targets[1], in.force, &destinations[1], &error)) {
    if (madeFolder) RemoveFolder(out);
    return DataError(error);
  }
  bool whole = true, written = false;
  for (int i = 0; i < 2; ++i) {
    const SalvageReport& r = reports[i];
    std::string name = path + " (" + PackNames[i] + ")";
    // One the program's end cut short is damaged, however whole the
    // records before the cut are.
    bool fileWhole = r.whole && packed[i].size() == seal.files[i].length;
    whole = whole && fileWhole;
    fflush(stdout);
    for (const std::string& damage : r.damage)
      fprintf(stderr, "setuppack: %s: %s\n", name.c_str(), damage.c_str());
    if (!fileWhole && r.written == 0) {
      fprintf(stderr, "setuppack: %s: nothing of it is left: %s not written\n", name.c_str(),
              targets[i].c_str());
      continue;
    }
    written = true;
    if (!WriteDestination(destinations[i], expanded[i].bytes, &error)) return DataError(error);
    if (fileWhole) {
      if (!in.quiet)
        printf("%s -> %s: %s\n", name.c_str(), targets[i].c_str(), Verified(r.check, r.written).c_str());
      continue;
    }
    std::string of = r.expected ? " of " + std::to_string(r.expected) : "";
    std::string vouched = r.checked ? std::to_string(r.vouched) + " of them vouched for by its check record"
                                    : "none vouched for (it has no check record that lists its records)";
    fflush(stdout);
    fprintf(stderr, "setuppack: %s -> %s: salvaged %llu%s bytes, %s\n", name.c_str(), targets[i].c_str(),
            (unsigned long long)r.written, of.c_str(), vouched.c_str());
  }
  if (!written && madeFolder) RemoveFolder(out);
  if (!whole) return ExitData;
  int mismatch = SealMismatch(seal, packed[0], packed[1]);
  if (mismatch < 0) return ExitSuccess;
  fflush(stdout);
  return DataError("'" + path + "': the " + PackNames[mismatch] + " it carries does not match its seal");
}

int ExtractProgram(const Invocation& in, const std::vector<uint8_t>& program) {
  const std::string& path = in.files[0];
  std::string out = in.files.size() > 1 ? in.files[1] : ".";
  SealInfo seal;
  std::vector<std::vector<uint8_t>> packed, expanded;
  std::vector<PackCheck> checks;
  size_t failed = 0;
  std::string error;
  // Everything is checked before anything is written.
  if (!ReadCarriedPackFiles(program, path, &seal, &packed, &error, in.salvage)) return DataError(error);
  if (in.salvage) return SalvageProgram(in, out, seal, packed);
  if (!ExpandPackedData(packed, &expanded, &checks, &failed, &error)) {
    return DataError(path + " (" + PackNames[failed] + "): " + error + " (nothing was written)");
  }
  int mismatch = SealMismatch(seal, packed[0], packed[1]);
  if (mismatch >= 0) {
    return DataError("'" + path + "': the " + PackNames[mismatch] +
                     " it carries does not match its seal: setup.exe refuses it (nothing was written)");
  }
  bool madeFolder = false;
  std::vector<std::string> targets = {out + "/INSTALL.SCR", out + "/INSTALL.EXE"};
  std::vector<Destination> destinations(2);
  if (!MakeFolder(out, &error, &madeFolder) ||
      !PlanDestination(targets[0], in.force, &destinations[0], &error) ||
      !PlanDestination(targets[1], in.force, &destinations[1], &error)) {
    if (madeFolder) RemoveFolder(out);
    return DataError(error);
  }
  for (int i = 0; i < 2; ++i) {
    if (!WriteDestination(destinations[i], expanded[i], &error)) return DataError(error);
    if (!in.quiet)
      printf("%s (%s) -> %s: %s\n", path.c_str(), PackNames[i], targets[i].c_str(),
             Verified(checks[i], expanded[i].size()).c_str());
  }
  return ExitSuccess;
}

}  // namespace

int Extract(const Invocation& in) {
  if (in.files.empty() || in.files.size() > 2) return UsageError("extract needs MEDIA_DIR [OUT_DIR]");
  std::vector<uint8_t> program;
  if (ReadIfProgram(in.files[0], &program)) return ExtractProgram(in, program);
  const std::string& media = in.files[0];
  std::string out = in.files.size() > 1 ? in.files[1] : ".";
  const char* expandedNames[] = {"INSTALL.SCR", "INSTALL.EXE"};
  MediaFolder folder;
  SealInfo seal;
  std::string error;
  if (!FindMediaFiles(media, &folder, &error) || !ReadMediaSeal(folder, &seal, &error))
    return DataError(error);
  const std::vector<std::string>& sources = folder.packFiles;
  std::vector<std::string> targets = {JoinPath(out, expandedNames[0]), JoinPath(out, expandedNames[1])};
  // The files are written as they expand, so the destinations are planned
  // first; a refusal is reported only if the media are whole, as the media
  // come first. A folder made for them goes again when nothing is written.
  bool madeFolder = false;
  std::string planError;
  std::vector<Destination> destinations;
  bool planned =
      MakeFolder(out, &planError, &madeFolder) && PlanAll(targets, in.force, &destinations, &planError);
  Expansion expansion;
  expansion.hashed = seal.state == SealState::Sealed;
  expansion.quiet = in.quiet;
  expansion.verbose = in.verbose;
  size_t failed = 0;
  bool whole =
      ReadAndExpand(sources, planned ? &destinations : nullptr, in.salvage, &expansion, &failed, &error);
  // Salvaged media are damaged media: their seal is reported, not obeyed.
  std::string sealError;
  bool sealed = !whole || CheckMediaSeal(folder, seal, expansion.seals, &sealError);
  if (!sealed && !in.salvage) error = sealError;
  if (!whole || !planned || (!sealed && !in.salvage)) {
    expansion.written.clear();  // the temporaries go before their folder
    if (madeFolder) RemoveFolder(out);
    return DataError(whole && sealed ? planError : error + " (nothing was written)");
  }
  if (!CommitAll(&expansion, &error)) return DataError(error);
  for (int i = 0; i < 2; ++i) {
    if (in.quiet || (in.salvage && !expansion.salvaged[i].whole)) continue;
    printf("%s -> %s: %s\n", sources[i].c_str(), targets[i].c_str(),
           Verified(expansion.checks[i], expansion.checks[i].expandedSize).c_str());
  }
  fflush(stdout);
  if (!sealed) DataError(sealError);
  return ReportSalvage(sources, targets, expansion) && sealed ? ExitSuccess : ExitData;
}
