// setuppack scan: finds media and pack files in folder trees, disc images
// and any other file (rescue/scan_search.h), says what each is, and expands
// each into a folder of its own.
#include <stdio.h>

#include <memory>
#include <set>

#include "cli/status.h"
#include "commands/commands.h"
#include "commands/verdicts.h"
#include "expand/expand.h"
#include "expand/records.h"
#include "media/seal_image.h"
#include "media/single_file.h"
#include "platform/file_io.h"
#include "rescue/safe_names.h"
#include "rescue/salvage.h"
#include "rescue/scan_search.h"

namespace {

// Where a program that carries its pack files holds them, as its seal says
// (after its image, where a signature covers them); false for any other file.
bool CarriedPackFiles(const std::vector<uint8_t>& head, uint64_t size, Extent carried[2]) {
  SealInfo seal;
  std::string error;
  size_t end = 0;
  if (!LooksLikeProgram(head) || !ImageEnd(head, "", &end, &error) || end > head.size()) return false;
  // The seal is looked for where setup.exe looks for it, in its image: the
  // data it carries may hold the seal's identifier by chance.
  std::vector<uint8_t> image(head.begin(), head.begin() + end);
  if (!ReadSeal(image, "", &seal, &error) || seal.state != SealState::Sealed) return false;
  for (int i = 0; i < 2; ++i) {
    if (seal.files[i].carriedAt < end || seal.files[i].carriedAt > size) return false;
    carried[i] = {seal.files[i].carriedAt, seal.files[i].length};
  }
  return true;
}

// An expansion kept in memory.
class MemorySink final : public ExpansionSink {
 public:
  void Take(const uint8_t* data, size_t size) override { bytes.insert(bytes.end(), data, data + size); }
  std::vector<uint8_t> bytes;
};

// What a find expands to, file by file.
struct Expanded {
  std::vector<std::vector<uint8_t>> bytes;
  std::vector<std::string> says;    // of each file: what its check record says, or what is wrong
  std::vector<std::string> damage;  // with --salvage: each damaged or missing stretch
  std::vector<bool> written;        // of each file: whole, or salvaged with some bytes
  std::vector<FileVerdict> files;   // of each file, for --json
  bool whole = true;
  bool needsHistory = false;  // not damaged: it continues a file that is not here
};

std::string Hex32(uint32_t value) {
  char text[9];
  snprintf(text, sizeof text, "%08x", value);
  return text;
}

// Expands a find's files in order through one decoder state (salvaging
// what damaged ones hold, when asked).
bool ExpandFind(const Find& find, bool salvage, Expanded* out, std::string* error) {
  std::unique_ptr<PackExpander> expander(new PackExpander());
  ResetDecoderState(&expander->decoder);
  for (const FoundPackFile& f : find.files) {
    if (!out->whole && !salvage) {
      out->files.push_back(FailedFile(f.where, (int64_t)f.bytes.size, "not_tested", ""));
      out->says.push_back("not expanded: it continues the decoder history of the file that failed before it");
      out->bytes.emplace_back();
      out->written.push_back(false);
      continue;
    }
    std::vector<uint8_t> packed;
    if (!ReadRange(f.bytes, &packed, error)) return false;
    MemorySink sink;
    PackCheck check;
    std::string why, note;
    bool fileWhole = true;
    if (salvage) {
      SalvageReport r;
      SalvagePackFile(expander.get(), packed, &sink, &r);
      fileWhole = r.whole;
      note = r.note;
      out->files.push_back(r.whole ? WholeFile(f.where, (int64_t)packed.size(), r.check)
                                   : FailedFile(f.where, (int64_t)packed.size(), "damaged",
                                                r.damage.empty() ? "damaged" : r.damage[0]));
      if (r.whole) {
        out->says.push_back(std::to_string(r.written) + " bytes" +
                            (r.checked ? ", matches its check record" : ", no check record"));
      } else {
        out->says.push_back("damaged: salvaged " + std::to_string(r.written) + " bytes, " +
                            std::to_string(r.vouched) + " vouched for by its check record");
      }
      for (const std::string& damage : r.damage) out->damage.push_back(f.where + ": " + damage);
    } else if (ExpandPackFile(expander.get(), packed, &sink, &check, &why, &note)) {
      out->files.push_back(WholeFile(f.where, (int64_t)packed.size(), check));
      out->says.push_back(std::to_string(sink.bytes.size()) + " bytes" +
                          (check.present
                               ? ", matches its check record (CRC-32 " + Hex32(check.expectedCrc) + ")"
                               : ", no check record"));
    } else {
      fileWhole = false;
      // An installer found without its script is not damaged: it needs
      // that file's history, which is not here.
      bool alone = find.files.size() == 1 && ContinuesEarlierHistory(packed);
      out->needsHistory = alone;
      out->files.push_back(
          FailedFile(f.where, (int64_t)packed.size(), alone ? "not_tested" : "damaged", why));
      out->says.push_back(alone
                              ? "not expanded: it continues the decoder history of a file packed before it "
                                "(as an INSTALL.EX_ continues its INSTALL.SC_), not found with it; --salvage "
                                "writes what it holds"
                              : "damaged: " + (why.compare(0, 9, "damaged: ") == 0 ? why.substr(9) : why));
    }
    if (!note.empty()) out->says.back() += "; " + note;
    out->whole = out->whole && fileWhole;
    out->written.push_back(fileWhole || !sink.bytes.empty());
    out->bytes.push_back(std::move(sink.bytes));
  }
  return true;
}

// A folder name made of where a find lies: "disc.iso:/SETUP" -> "disc.iso_SETUP",
// with "-2", "-3"... when that name was given out already, in any letter
// case (DIR may lie on a file system that ignores it): each find has a
// folder of its own, whatever the names of those before it.
std::string FolderFor(const std::string& where, std::set<std::string>* given) {
  std::string name;
  for (char c : where) {
    bool plain = isalnum((unsigned char)c) || c == '.' || c == '-' || (unsigned char)c >= 0x80;
    if (plain) {
      name += c;
    } else if (!name.empty() && name.back() != '_') {
      name += '_';
    }
  }
  while (!name.empty() && (name.back() == '_' || name.back() == '.')) name.pop_back();
  while (!name.empty() && name[0] == '.') name.erase(0, 1);
  if (name.empty()) name = "media";
  auto lower = [](std::string text) {
    for (char& c : text) c = (char)tolower((unsigned char)c);
    return text;
  };
  name = NotADeviceName(name);
  std::string folder = name;
  for (int n = 2; !given->insert(lower(folder)).second; ++n) folder = name + "-" + std::to_string(n);
  return folder;
}

// The name of an expanded pack file: INSTALL.SC_ -> INSTALL.SCR,
// INSTALL.EX_ -> INSTALL.EXE; others keep their name with ".expanded".
std::string ExpandedName(const Find& find, size_t i) {
  if (find.kind == FindKind::Media || find.kind == FindKind::Program)
    return i == 0 ? "INSTALL.SCR" : "INSTALL.EXE";
  const std::string& name = find.files[i].name;
  std::string last = name.size() > 3 ? name.substr(name.size() - 3) : "";
  bool lower = !last.empty() && islower((unsigned char)last[1]);
  std::string stem = name.substr(0, name.size() - 1);
  if (NameIs(last, "SC_")) return NotADeviceName(stem + (lower ? "r" : "R"));
  if (NameIs(last, "EX_")) return NotADeviceName(stem + (lower ? "e" : "E"));
  return NotADeviceName(name + ".expanded");
}

bool WriteFind(const Invocation& in, const Find& find, const Expanded& expanded, const std::string& folder,
               std::string* error) {
  if (!MakeFolder(folder, error)) return false;
  for (size_t i = 0; i < find.files.size(); ++i) {
    if (!expanded.written[i]) continue;
    std::string path = folder + "/" + ExpandedName(find, i);
    Destination destination;
    if (!PlanDestination(path, in.force, &destination, error) ||
        !WriteDestination(destination, expanded.bytes[i], error)) {
      return false;
    }
    if (!in.json) printf("  -> %s\n", path.c_str());
  }
  return true;
}

}  // namespace

int Scan(const Invocation& in, Verdicts* verdicts) {
  if (in.files.empty()) return UsageError("scan needs at least one PATH");
  int status = ExitSuccess;
  std::string error;
  bool madeFolder = false;
  if (!in.extractDir.empty() && !MakeFolder(in.extractDir, &error, &madeFolder)) return DataError(error);
  std::set<std::string> given;
  std::vector<std::string> problems;
  size_t found = 0;
  auto onFind = [&](const Find& find) {
    Expanded expanded;
    std::string error;
    if (!ExpandFind(find, in.salvage, &expanded, &error)) {
      status = DataError(error);
      return;
    }
    // Finds inside images name their file system: "disc.iso:/DISK1/INSTALL.SC_ (ISO 9660, Joliet)".
    std::string inside = find.fileSystem.empty() ? "" : " (" + find.fileSystem + ")";
    if (verdicts) {
      const char* kinds[] = {"media", "program", "chained_pair", "pack_file"};
      verdicts->finds.push_back(
          {find.where + inside, find.files[0].bytes.path, kinds[(int)find.kind], expanded.files});
    } else if (find.kind == FindKind::PackFile) {
      printf("%s%s: pack file, %llu bytes packed; %s\n", find.where.c_str(), inside.c_str(),
             (unsigned long long)find.files[0].bytes.size, expanded.says[0].c_str());
    } else {
      printf("%s%s: %s\n", find.where.c_str(), inside.c_str(),
             find.kind == FindKind::Media ? "media"
             : find.kind == FindKind::Program
                 ? "a program that carries its media"
                 : "two pack files, the second continuing the first's decoder history");
      for (size_t i = 0; i < find.files.size(); ++i) {
        printf("  %s%s: %llu bytes packed; %s\n", find.files[i].where.c_str(), inside.c_str(),
               (unsigned long long)find.files[i].bytes.size, expanded.says[i].c_str());
      }
    }
    fflush(stdout);
    for (const std::string& damage : expanded.damage) fprintf(stderr, "setuppack: %s\n", damage.c_str());
    if (!expanded.whole) status = ExitData;
    if (in.extractDir.empty()) return;
    if (!expanded.whole && !in.salvage) {
      if (!verdicts) {
        printf(expanded.needsHistory
                   ? "  not extracted: the file whose history it continues is not here (--salvage "
                     "writes what it holds)\n"
                   : "  not extracted: damaged (--salvage writes what it holds)\n");
      }
      return;
    }
    fflush(stdout);
    if (!WriteFind(in, find, expanded, in.extractDir + "/" + FolderFor(find.where, &given), &error)) {
      status = DataError(error);
    }
  };
  ScanPaths(in.files, onFind, &problems, &found, CarriedPackFiles);
  fflush(stdout);
  for (const std::string& problem : problems) status = DataError(problem);
  if (found == 0 && problems.empty()) {
    fprintf(stderr, "setuppack: no pack files found\n");
    status = ExitData;
  }
  if (found == 0 && madeFolder) RemoveFolder(in.extractDir);
  return status;
}
