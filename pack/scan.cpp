// setuppack scan: finds media and pack files in folder trees, disc images
// and any other file, says what each is, and expands each into a folder of
// its own. Every place a find can come from yields the same thing, a Find,
// so that a new kind of place (a setup program that carries its pack files)
// adds a reader and nothing else.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include "check_record.h"
#include "commands.h"
#include "file_io.h"
#include "iso9660.h"
#include "media/carried_ranges.h"
#include "pack_files.h"
#include "pack_layout.h"
#include "rescue/chain_walk.h"
#include "rescue/pack_file_pairs.h"
#include "rescue/safe_names.h"
#include "salvage.h"

namespace {

// Bytes of a file that holds them: a file of its own, a file inside a disc
// image, a chain of records inside another file. A file of a folder is
// opened when it is first read, so that a folder of thousands of files does
// not hold them all open.
struct ByteRange {
  std::string path;                  // the file to open, when file is not open yet
  std::shared_ptr<FileReader> file;  // the open file
  uint64_t offset;
  uint64_t size;

  bool Open(std::string* error) {
    if (file) return true;
    file.reset(new FileReader());
    if (!file->Open(path, error)) return false;
    size = file->Size();
    return true;
  }
};

// One pack file found: where it lies, and its bytes.
struct FoundPackFile {
  std::string where;  // as the listing shows it
  std::string name;   // its own name (or "at-OFFSET" inside another file)
  ByteRange bytes;
};

// A find: media (a script and an installer, in the launcher's order), two
// chains of records inside one file of which the second continues the
// first's decoder history, or one pack file on its own.
// A program that carries its pack files (media --single-file) is media too.
enum class FindKind { Media, ChainedPair, PackFile, Program };
struct Find {
  FindKind kind;
  std::string where;
  std::vector<FoundPackFile> files;
};

const uint64_t SearchChunk = 1 << 20;
const uint64_t LargestPackFile = 0xFFFFFFFFull;
const int DeepestImage = 4;  // disc images inside disc images

bool NameIs(const std::string& name, const char* wanted) {
  return name.size() == strlen(wanted) && std::equal(name.begin(), name.end(), wanted, [](char a, char b) {
           return tolower((unsigned char)a) == tolower((unsigned char)b);
         });
}

bool ReadRange(ByteRange range, std::vector<uint8_t>* data, std::string* error);

// A file or folder entry of a folder being scanned.
struct NamedRange {
  std::string name;
  ByteRange bytes;
};

// Walks folder trees, disc images and files, and hands every find to
// onFind as it is made (its files are closed again once it is handled).
class Scanner {
 public:
  explicit Scanner(std::function<void(const Find&)> onFind) : onFind_(onFind) {}
  std::vector<std::string> problems;  // what could not be read
  size_t found = 0;

  void ScanPath(const std::string& path) {
    if (IsFolder(path)) {
      ScanFolder(path);
      return;
    }
    ScanFile(path, {path, nullptr, 0, 0}, 0);
  }

 private:
  void Found(const Find& find) {
    ++found;
    onFind_(find);
  }

  // The files of one folder (a real one, or one inside an image): the two
  // pack files of media are one find; every other file is searched.
  void ScanFolderFiles(const std::string& folder, const std::vector<NamedRange>& files,
                       const std::string& separator, int depth) {
    const NamedRange *script = nullptr, *installer = nullptr;
    for (const NamedRange& f : files) {
      if (NameIs(f.name, "INSTALL.SC_")) script = &f;
      if (NameIs(f.name, "INSTALL.EX_")) installer = &f;
    }
    std::string prefix = folder.empty() ? "" : folder + separator;
    if (script && installer) {
      ByteRange scriptBytes = script->bytes, installerBytes = installer->bytes;
      std::string error;
      if (!scriptBytes.Open(&error) || !installerBytes.Open(&error)) {
        problems.push_back(error);
      } else {
        Found({FindKind::Media,
               folder.empty() ? "." : folder,
               {{prefix + script->name, script->name, scriptBytes},
                {prefix + installer->name, installer->name, installerBytes}}});
      }
    }
    for (const NamedRange& f : files) {
      if (script && installer && (&f == script || &f == installer)) continue;
      ScanFile(prefix + f.name, f.bytes, depth);
    }
  }

  void ScanFolder(const std::string& folder) {
    std::vector<FolderEntry> entries;
    std::string error;
    if (!ListFolder(folder, &entries, &error)) {
      problems.push_back(error);
      return;
    }
    std::vector<NamedRange> files;
    for (const FolderEntry& e : entries) {
      if (e.isFile) files.push_back({e.name, {folder + "/" + e.name, nullptr, 0, 0}});
    }
    ScanFolderFiles(folder, files, "/", 0);
    for (const FolderEntry& e : entries) {
      if (e.isFolder) ScanFolder(folder + "/" + e.name);
    }
  }

  // A disc image is read as folders; any other file is searched for chains
  // of records.
  void ScanFile(const std::string& where, ByteRange bytes, int depth) {
    std::string error;
    if (!bytes.Open(&error)) {
      problems.push_back(error);
      return;
    }
    // Names of the same bytes in a disc image (hard links, or an image that
    // names itself as a file of its own) are searched once.
    if (depth == 0) searched_.clear();
    if (!searched_.insert({bytes.offset, bytes.size}).second) return;
    CarriedRange carried[2];
    if (FindCarriedPackFiles(bytes.file.get(), bytes.offset, bytes.size, carried)) {
      Find program{FindKind::Program, where, {}};
      for (int i = 0; i < 2; ++i) {
        const char* name = i == 0 ? "INSTALL.SC_" : "INSTALL.EX_";
        program.files.push_back({where + " (" + name + ")",
                                 name,
                                 {"", bytes.file, bytes.offset + carried[i].offset, carried[i].length}});
      }
      Found(program);
    } else if (depth < DeepestImage && IsIsoImage(bytes.file.get(), bytes.offset, bytes.size)) {
      ScanIsoImage(where, bytes, depth + 1);
    } else {
      SearchRecords(where, bytes);
    }
  }

  void ScanIsoImage(const std::string& where, const ByteRange& bytes, int depth) {
    IsoImage image;
    std::string error;
    if (!ReadIsoImage(bytes.file.get(), bytes.offset, bytes.size, &image, &error)) {
      problems.push_back(where + ": " + error);
      return;
    }
    // Each folder's path is made when its files are scanned, not kept.
    std::vector<std::vector<NamedRange>> folders(image.folders.size());
    for (const IsoFile& f : image.files) {
      folders[f.folder].push_back({f.name, {"", bytes.file, f.offset, f.size}});
    }
    image.files.clear();
    image.files.shrink_to_fit();
    // Folders in the order of their paths: the tree walked depth first,
    // each folder's subfolders by name.
    std::vector<std::vector<size_t>> children(image.folders.size());
    for (size_t f = 1; f < image.folders.size(); ++f) children[image.folders[f].parent].push_back(f);
    std::vector<size_t> stack = {0};
    while (!stack.empty()) {
      size_t f = stack.back();
      stack.pop_back();
      std::sort(children[f].begin(), children[f].end(),
                [&image](size_t a, size_t b) { return image.folders[a].name > image.folders[b].name; });
      stack.insert(stack.end(), children[f].begin(), children[f].end());
      if (folders[f].empty()) continue;
      ScanFolderFiles(where + ":/" + image.PathOf(f), folders[f], f == 0 ? "" : "/", depth);
      std::vector<NamedRange>().swap(folders[f]);
    }
  }

  // Finds every chain of records in the bytes: a record header whose sizes
  // are within the format's limits and whose body lies in the file starts
  // one; the search goes on after its end, so every byte is read once. A
  // chain is cut into pack files where a check record begins one. A file
  // that begins with a record header is its pack files, the last to the
  // file's end (padding, damage and all).
  void SearchRecords(const std::string& where, const ByteRange& bytes) {
    std::vector<uint8_t> chunk;
    std::string error;
    std::vector<std::pair<uint64_t, uint64_t>> chains;
    for (uint64_t at = 0; at < bytes.size;) {
      uint64_t want = std::min<uint64_t>(SearchChunk + PackHeaderSize, bytes.size - at);
      chunk.resize((size_t)want);
      size_t got = 0;
      if (!bytes.file->ReadAt(bytes.offset + at, chunk.data(), chunk.size(), &got, &error)) {
        problems.push_back(error);
        return;
      }
      chunk.resize(got);
      uint64_t next = at + SearchChunk;
      for (size_t hit = FindRecordMagic(chunk.data(), chunk.size(), 0);
           hit < std::min<size_t>(got, SearchChunk);
           hit = FindRecordMagic(chunk.data(), chunk.size(), hit + 1)) {
        uint64_t start = at + hit;
        // The start is judged first: walking the chain from every header of
        // a long run of implausible ones would read the run once per header.
        if (start != 0 && !PlausibleStart(bytes, start)) continue;
        WalkedChain chain = WalkChain(bytes.file.get(), bytes.offset, bytes.size, start);
        if (start == 0 && chain.fileStarts.size() <= 1) {
          Found({FindKind::PackFile, where, {{where, BaseOf(where), bytes}}});
          return;
        }
        if (chain.end == start) continue;
        for (const auto& file : PackFilesOf(chain, start == 0 ? bytes.size : 0)) {
          if (file.second <= LargestPackFile) {
            chains.push_back({file.first, file.first + file.second});
          } else {
            problems.push_back(where + ": the records at offsets " + std::to_string(file.first) + " to " +
                               std::to_string(file.first + file.second) +
                               " are 4 GiB or more with no check record between them: not a pack file "
                               "(pack files measure sizes in 32 bits)");
          }
        }
        next = std::max(chain.end, start + 1);
        break;
      }
      if (got < want) break;
      at = next;
    }
    ReportChains(where, bytes, chains);
  }

  // Pack files inside one file, in the order they lie: one that needs the
  // history of another is taken with it (a script and its installer).
  void ReportChains(const std::string& where, const ByteRange& bytes,
                    const std::vector<std::pair<uint64_t, uint64_t>>& chains) {
    std::vector<FoundPackFile> files;
    for (const auto& chain : chains) {
      std::string shown = where + " at offset " + std::to_string(chain.first);
      files.push_back({shown,
                       "at-" + std::to_string(chain.first),
                       {"", bytes.file, bytes.offset + chain.first, chain.second - chain.first}});
    }
    auto read = [&files](size_t i, std::vector<uint8_t>* packed) {
      std::string error;
      return ReadRange(files[i].bytes, packed, &error);
    };
    for (const std::vector<size_t>& group : PairPackFiles(files.size(), read)) {
      if (group.size() == 2) {
        Found({FindKind::ChainedPair,
               where + " at offsets " + std::to_string(chains[group[0]].first) + " and " +
                   std::to_string(chains[group[1]].first),
               {files[group[0]], files[group[1]]}});
      } else {
        Found({FindKind::PackFile, files[group[0]].where, {files[group[0]]}});
      }
    }
  }

  // A chain inside another file must begin as a packer begins one: with a
  // check record, a stored record of some bytes, or a compressed record
  // that is smaller than what it expands to (a table of numbers after a
  // record's magic in a program is none of these).
  static bool PlausibleStart(const ByteRange& bytes, uint64_t start) {
    uint8_t first[PackHeaderSize + CheckRecordIdSize] = {0};
    size_t got = 0;
    std::string error;
    if (!bytes.file->ReadAt(bytes.offset + start, first, sizeof first, &got, &error)) return false;
    uint32_t packedSize = ReadLE32(first + 8), expandedSize = ReadLE32(first + 12);
    if (packedSize == 0) return expandedSize > 0;
    return IsCheckRecordBody(first + PackHeaderSize,
                             (uint32_t)(got - std::min<size_t>(got, PackHeaderSize))) ||
           packedSize < expandedSize;
  }

  static std::string BaseOf(const std::string& where) {
    size_t slash = where.find_last_of("/:\\");
    return slash == std::string::npos ? where : where.substr(slash + 1);
  }

  std::function<void(const Find&)> onFind_;
  std::set<std::pair<uint64_t, uint64_t>> searched_;  // in the file scanned now: offset, size
};

bool ReadRange(ByteRange range, std::vector<uint8_t>* data, std::string* error) {
  if (!range.Open(error)) return false;
  if (range.size > LargestPackFile) {
    *error = range.path + ": 4 GiB or larger (pack files measure sizes in 32 bits)";
    return false;
  }
  data->resize((size_t)range.size);
  size_t got = 0;
  if (!range.file->ReadAt(range.offset, data->data(), data->size(), &got, error)) return false;
  data->resize(got);
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
      if (r.whole) {
        out->says.push_back(std::to_string(r.written) + " bytes" +
                            (r.checked ? ", matches its check record" : ", no check record"));
      } else {
        out->says.push_back("damaged: salvaged " + std::to_string(r.written) + " bytes, " +
                            std::to_string(r.vouched) + " vouched for by its check record");
      }
      for (const std::string& damage : r.damage) out->damage.push_back(f.where + ": " + damage);
    } else if (ExpandPackFile(expander.get(), packed, &sink, &check, &why, &note)) {
      out->says.push_back(std::to_string(sink.bytes.size()) + " bytes" +
                          (check.present
                               ? ", matches its check record (CRC-32 " + Hex32(check.expectedCrc) + ")"
                               : ", no check record"));
    } else {
      fileWhole = false;
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
    printf("  -> %s\n", path.c_str());
  }
  return true;
}

}  // namespace

int Scan(const Invocation& in) {
  if (in.files.empty()) return UsageError("scan needs at least one PATH");
  int status = ExitSuccess;
  std::string error;
  bool madeFolder = false;
  if (!in.extractDir.empty() && !MakeFolder(in.extractDir, &error, &madeFolder)) return DataError(error);
  std::set<std::string> given;
  Scanner scanner([&](const Find& find) {
    Expanded expanded;
    std::string error;
    if (!ExpandFind(find, in.salvage, &expanded, &error)) {
      status = DataError(error);
      return;
    }
    if (find.kind == FindKind::PackFile) {
      printf("%s: pack file, %llu bytes packed; %s\n", find.where.c_str(),
             (unsigned long long)find.files[0].bytes.size, expanded.says[0].c_str());
    } else {
      printf("%s: %s\n", find.where.c_str(),
             find.kind == FindKind::Media ? "media"
             : find.kind == FindKind::Program
                 ? "a program that carries its pack files"
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
      printf("  not extracted: damaged (--salvage writes what it holds)\n");
      return;
    }
    fflush(stdout);
    if (!WriteFind(in, find, expanded, in.extractDir + "/" + FolderFor(find.where, &given), &error)) {
      status = DataError(error);
    }
  });
  for (const std::string& path : in.files) scanner.ScanPath(path);
  fflush(stdout);
  for (const std::string& problem : scanner.problems) status = DataError(problem);
  if (scanner.found == 0 && scanner.problems.empty()) {
    fprintf(stderr, "setuppack: no pack files found\n");
    status = ExitData;
  }
  if (scanner.found == 0 && madeFolder) RemoveFolder(in.extractDir);
  return status;
}
