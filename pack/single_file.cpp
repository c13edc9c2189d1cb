#include "single_file.h"

#include <stdio.h>

#include <algorithm>
#include <memory>

#include "commands.h"
#include "file_io.h"
#include "pack_files.h"
#include "salvage.h"

namespace {

const char* const PackNames[2] = {"INSTALL.SC_", "INSTALL.EX_"};

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

}  // namespace

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

int ListProgram(const std::string& path, const std::vector<uint8_t>& program) {
  SealInfo seal;
  std::vector<std::vector<uint8_t>> packed;
  std::string error;
  if (!ReadCarriedPackFiles(program, path, &seal, &packed, &error)) return DataError(error);
  int status = ExitSuccess;
  for (int i = 0; i < 2; ++i) {
    std::string name =
        path + " (" + PackNames[i] + " from byte " + std::to_string(seal.files[i].carriedAt) + ")";
    if (ListPackedData(name, packed[i], i == 1) != ExitSuccess) status = ExitData;
  }
  return status;
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
    printf("%s (%s) -> %s: %s\n", path.c_str(), PackNames[i], targets[i].c_str(),
           Verified(checks[i], expanded[i].size()).c_str());
  }
  return ExitSuccess;
}
