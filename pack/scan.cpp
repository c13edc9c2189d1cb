// setuppack scan: finds media and pack files in folder trees, disc images
// and any other file, says what each is, and expands each into a folder of
// its own. Every place a find can come from yields the same thing, a Find,
// so that a new kind of place (a setup program that carries its pack files)
// adds a reader and nothing else.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <memory>

#include "check_record.h"
#include "commands.h"
#include "file_io.h"
#include "iso9660.h"
#include "pack_files.h"
#include "pack_layout.h"
#include "salvage.h"

namespace {

// Bytes of a file that holds them: a file of its own, a file inside a disc
// image, a chain of records inside another file.
struct ByteRange {
  std::shared_ptr<FileReader> file;
  uint64_t offset;
  uint64_t size;
};

// One pack file found: where it lies, and its bytes.
struct FoundPackFile {
  std::string where;  // as the listing shows it
  std::string name;   // its own name (or "at-OFFSET" inside another file)
  ByteRange bytes;
};

// A find: media (a script and an installer, in the launcher's order) or
// one pack file on its own.
struct Find {
  bool isMedia;
  std::string where;
  std::vector<FoundPackFile> files;
};

const uint64_t SearchChunk = 1 << 20;
const uint64_t LargestPackFile = 0xFFFFFFFFull;

bool NameIs(const std::string& name, const char* wanted) {
  return name.size() == strlen(wanted) && std::equal(name.begin(), name.end(), wanted, [](char a, char b) {
           return tolower((unsigned char)a) == tolower((unsigned char)b);
         });
}

class Scanner {
 public:
  std::vector<Find> finds;
  std::vector<std::string> problems;  // what could not be read

  void ScanPath(const std::string& path) {
    if (IsFolder(path)) {
      ScanFolder(path);
      return;
    }
    std::shared_ptr<FileReader> file(new FileReader());
    std::string error;
    if (!file->Open(path, &error)) {
      problems.push_back(error);
      return;
    }
    ScanFile(path, {file, 0, file->Size()});
  }

 private:
  // The files of one folder (a real one, or one inside an image): the two
  // pack files of media are one find; every other file is searched.
  void ScanFolderFiles(const std::string& folder, const std::vector<std::pair<std::string, ByteRange>>& files,
                       const std::string& separator) {
    const std::pair<std::string, ByteRange>*script = nullptr, *installer = nullptr;
    for (const auto& f : files) {
      if (NameIs(f.first, "INSTALL.SC_")) script = &f;
      if (NameIs(f.first, "INSTALL.EX_")) installer = &f;
    }
    std::string prefix = folder.empty() ? "" : folder + separator;
    if (script && installer) {
      finds.push_back({true,
                       folder.empty() ? "." : folder,
                       {{prefix + script->first, script->first, script->second},
                        {prefix + installer->first, installer->first, installer->second}}});
    }
    for (const auto& f : files) {
      if (script && installer && (&f == script || &f == installer)) continue;
      ScanFile(prefix + f.first, f.second);
    }
  }

  void ScanFolder(const std::string& folder) {
    std::vector<FolderEntry> entries;
    std::string error;
    if (!ListFolder(folder, &entries, &error)) {
      problems.push_back(error);
      return;
    }
    std::vector<std::pair<std::string, ByteRange>> files;
    for (const FolderEntry& e : entries) {
      if (!e.isFile) continue;
      std::shared_ptr<FileReader> file(new FileReader());
      if (!file->Open(folder + "/" + e.name, &error)) {
        problems.push_back(error);
        continue;
      }
      files.push_back({e.name, {file, 0, file->Size()}});
    }
    ScanFolderFiles(folder, files, "/");
    for (const FolderEntry& e : entries) {
      if (e.isFolder) ScanFolder(folder + "/" + e.name);
    }
  }

  // A disc image is read as folders; any other file is searched for chains
  // of records.
  void ScanFile(const std::string& where, const ByteRange& bytes) {
    if (IsIsoImage(bytes.file.get(), bytes.offset, bytes.size)) {
      ScanIsoImage(where, bytes);
    } else {
      SearchRecords(where, bytes);
    }
  }

  void ScanIsoImage(const std::string& where, const ByteRange& bytes) {
    std::vector<IsoFile> files;
    std::string error;
    if (!ReadIsoImage(bytes.file.get(), bytes.offset, bytes.size, &files, &error)) {
      problems.push_back(where + ": " + error);
      return;
    }
    std::map<std::string, std::vector<std::pair<std::string, ByteRange>>> folders;
    for (const IsoFile& f : files) {
      size_t slash = f.path.find_last_of('/');
      std::string folder = slash == std::string::npos ? "" : f.path.substr(0, slash);
      folders[folder].push_back({f.path.substr(slash + 1), {bytes.file, f.offset, f.size}});
    }
    for (const auto& folder : folders) {
      ScanFolderFiles(where + ":/" + folder.first, folder.second, folder.first.empty() ? "" : "/");
    }
  }

  // Finds every chain of records in the bytes: a record header whose sizes
  // are within the format's limits and whose body lies in the file starts
  // one; the search goes on after its end.
  void SearchRecords(const std::string& where, const ByteRange& bytes) {
    std::vector<uint8_t> chunk;
    std::string error;
    uint64_t at = 0;
    while (at < bytes.size) {
      uint64_t want = std::min<uint64_t>(SearchChunk + PackHeaderSize, bytes.size - at);
      chunk.resize((size_t)want);
      size_t got = 0;
      if (!bytes.file->ReadAt(bytes.offset + at, chunk.data(), chunk.size(), &got, &error)) {
        problems.push_back(error);
        return;
      }
      chunk.resize(got);
      size_t hit = FindRecordMagic(chunk.data(), chunk.size(), 0);
      if (hit + PackHeaderSize > chunk.size()) {
        if (got < want || at + SearchChunk >= bytes.size) return;
        at += SearchChunk;
        continue;
      }
      uint64_t start = at + hit;
      uint64_t end = ChainEndAt(bytes, start);
      if (end == start) {
        at = start + 1;
        continue;
      }
      // A pack file of its own runs to the end of its file (padding or
      // damage and all); a chain inside another file is its records alone.
      bool whole = start == 0;
      uint64_t size = whole ? bytes.size : end - start;
      if (size <= LargestPackFile) {
        std::string name = whole ? BaseOf(where) : "at-" + std::to_string(start);
        std::string shown = whole ? where : where + " at offset " + std::to_string(start);
        finds.push_back({false, shown, {{shown, name, {bytes.file, bytes.offset + start, size}}}});
      }
      if (whole) return;
      at = end;
    }
  }

  // Where the chain of records that starts at `start` ends (start: no whole
  // record there).
  uint64_t ChainEndAt(const ByteRange& bytes, uint64_t start) {
    uint64_t at = start;
    std::string error;
    while (at + PackHeaderSize <= bytes.size) {
      uint8_t header[PackHeaderSize];
      size_t got = 0;
      if (!bytes.file->ReadAt(bytes.offset + at, header, sizeof header, &got, &error) ||
          got < sizeof header || memcmp(header, PackMagic, PackMagicSize) != 0) {
        break;
      }
      uint32_t packedSize = ReadLE32(header + 8), expandedSize = ReadLE32(header + 12);
      uint64_t body = packedSize ? packedSize : expandedSize;
      if (packedSize > BlockBufferSize || expandedSize > BlockBufferSize ||
          at + PackHeaderSize + body > bytes.size) {
        break;
      }
      at += PackHeaderSize + body;
    }
    return at;
  }

  static std::string BaseOf(const std::string& where) {
    size_t slash = where.find_last_of("/:\\");
    return slash == std::string::npos ? where : where.substr(slash + 1);
  }
};

bool ReadRange(const ByteRange& range, std::vector<uint8_t>* data, std::string* error) {
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
  std::vector<std::string> says;  // of each file: what its check record says, or what is wrong
  std::vector<SalvageReport> salvaged;
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
    std::vector<uint8_t> packed;
    if (!ReadRange(f.bytes, &packed, error)) return false;
    MemorySink sink;
    PackCheck check;
    std::string why, note;
    if (salvage) {
      out->salvaged.emplace_back();
      SalvagePackFile(expander.get(), packed, &sink, &out->salvaged.back());
      const SalvageReport& r = out->salvaged.back();
      out->whole = out->whole && r.whole;
      out->says.push_back(r.whole ? std::to_string(r.written) + " bytes"
                                  : "damaged: salvaged " + std::to_string(r.written) + " bytes, " +
                                        std::to_string(r.vouched) + " vouched for by its check record");
    } else if (ExpandPackFile(expander.get(), packed, &sink, &check, &why, &note)) {
      out->says.push_back(std::to_string(sink.bytes.size()) + " bytes" +
                          (check.present
                               ? ", matches its check record (CRC-32 " + Hex32(check.expectedCrc) + ")"
                               : ", no check record"));
    } else {
      out->whole = false;
      out->says.push_back("damaged: " + (why.compare(0, 9, "damaged: ") == 0 ? why.substr(9) : why));
    }
    out->bytes.push_back(std::move(sink.bytes));
  }
  return true;
}

// A folder name made of where a find lies: "disc.iso:/SETUP" -> "disc.iso_SETUP".
std::string FolderFor(const std::string& where, std::map<std::string, int>* used) {
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
  int n = ++(*used)[name];
  return n == 1 ? name : name + "-" + std::to_string(n);
}

// The name of an expanded pack file: INSTALL.SC_ -> INSTALL.SCR,
// INSTALL.EX_ -> INSTALL.EXE; others keep their name with ".expanded".
std::string ExpandedName(const Find& find, size_t i) {
  if (find.isMedia) return i == 0 ? "INSTALL.SCR" : "INSTALL.EXE";
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
  Scanner scanner;
  for (const std::string& path : in.files) scanner.ScanPath(path);
  int status = ExitSuccess;
  std::string error;
  if (!in.extractDir.empty() && !scanner.finds.empty() && !MakeFolder(in.extractDir, &error)) {
    return DataError(error);
  }
  std::map<std::string, int> used;
  for (const Find& find : scanner.finds) {
    Expanded expanded;
    if (!ExpandFind(find, in.salvage, &expanded, &error)) {
      status = DataError(error);
      continue;
    }
    if (find.isMedia) {
      printf("%s: media\n", find.where.c_str());
      for (size_t i = 0; i < find.files.size(); ++i) {
        printf("  %s: %llu bytes packed; %s\n", find.files[i].where.c_str(),
               (unsigned long long)find.files[i].bytes.size, expanded.says[i].c_str());
      }
    } else {
      printf("%s: pack file, %llu bytes packed; %s\n", find.where.c_str(),
             (unsigned long long)find.files[0].bytes.size, expanded.says[0].c_str());
    }
    if (!expanded.whole) status = ExitData;
    if (in.extractDir.empty()) continue;
    if (!expanded.whole && !in.salvage) {
      printf("  not extracted: damaged (--salvage writes what it holds)\n");
      continue;
    }
    fflush(stdout);
    if (!WriteFind(in, find, expanded, in.extractDir + "/" + FolderFor(find.where, &used), &error)) {
      status = DataError(error);
    }
  }
  fflush(stdout);
  for (const std::string& problem : scanner.problems) status = DataError(problem);
  if (scanner.finds.empty() && scanner.problems.empty()) {
    fprintf(stderr, "setuppack: no pack files found\n");
    status = ExitData;
  }
  return status;
}
