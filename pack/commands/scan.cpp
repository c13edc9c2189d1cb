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
#include "platform/file_io.h"
#include "rescue/salvage.h"
#include "rescue/scan_search.h"

namespace {

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
      out->files.push_back(FailedFile(f.where, (int64_t)packed.size(), "damaged", why));
      out->says.push_back("damaged: " + (why.compare(0, 9, "damaged: ") == 0 ? why.substr(9) : why));
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
  std::string folder = name;
  for (int n = 2; !given->insert(lower(folder)).second; ++n) folder = name + "-" + std::to_string(n);
  return folder;
}

// The name of an expanded pack file: INSTALL.SC_ -> INSTALL.SCR,
// INSTALL.EX_ -> INSTALL.EXE; others keep their name with ".expanded".
std::string ExpandedName(const Find& find, size_t i) {
  if (find.kind == FindKind::Media) return i == 0 ? "INSTALL.SCR" : "INSTALL.EXE";
  const std::string& name = find.files[i].name;
  std::string last = name.size() > 3 ? name.substr(name.size() - 3) : "";
  bool lower = !last.empty() && islower((unsigned char)last[1]);
  std::string stem = name.substr(0, name.size() - 1);
  if (NameIs(last, "SC_")) return stem + (lower ? "r" : "R");
  if (NameIs(last, "EX_")) return stem + (lower ? "e" : "E");
  return name + ".expanded";
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
    if (verdicts) {
      const char* kinds[] = {"media", "chained_pair", "pack_file"};
      verdicts->finds.push_back(
          {find.where, find.files[0].bytes.path, kinds[(int)find.kind], expanded.files});
    } else if (find.kind == FindKind::PackFile) {
      printf("%s: pack file, %llu bytes packed; %s\n", find.where.c_str(),
             (unsigned long long)find.files[0].bytes.size, expanded.says[0].c_str());
    } else {
      printf("%s: %s\n", find.where.c_str(),
             find.kind == FindKind::Media
                 ? "media"
                 : "two pack files, the second continuing the first's decoder history");
      for (size_t i = 0; i < find.files.size(); ++i) {
        printf("  %s: %llu bytes packed; %s\n", find.files[i].where.c_str(),
               (unsigned long long)find.files[i].bytes.size, expanded.says[i].c_str());
      }
    }
    fflush(stdout);
    for (const std::string& damage : expanded.damage) fprintf(stderr, "setuppack: %s\n", damage.c_str());
    if (!expanded.whole) status = ExitData;
    if (in.extractDir.empty()) return;
    if (!expanded.whole && !in.salvage) {
      if (!verdicts) printf("  not extracted: damaged (--salvage writes what it holds)\n");
      return;
    }
    fflush(stdout);
    if (!WriteFind(in, find, expanded, in.extractDir + "/" + FolderFor(find.where, &given), &error)) {
      status = DataError(error);
    }
  };
  ScanPaths(in.files, onFind, &problems, &found);
  fflush(stdout);
  for (const std::string& problem : problems) status = DataError(problem);
  if (found == 0 && problems.empty()) {
    fprintf(stderr, "setuppack: no pack files found\n");
    status = ExitData;
  }
  if (found == 0 && madeFolder) RemoveFolder(in.extractDir);
  return status;
}
