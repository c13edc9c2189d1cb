#include "rescue/scan_search.h"

#include <string.h>

#include <algorithm>
#include <map>
#include <set>

#include "check_record.h"
#include "expand/layout.h"
#include "expand/expand.h"
#include "expand/records.h"
#include "platform/size_limit.h"
#include "rescue/iso9660.h"

namespace {

const uint64_t SearchChunk = 1 << 20;
const int DeepestImage = 4;  // disc images inside disc images

// A file or folder entry of a folder being scanned.
struct NamedRange {
  std::string name;
  ByteRange bytes;
};

// Walks folder trees, disc images and files, and hands every find to
// onFind as it is made.
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
    if (depth < DeepestImage && IsIsoImage(bytes.file.get(), bytes.offset, bytes.size)) {
      ScanIsoImage(where, bytes, depth + 1);
    } else {
      SearchRecords(where, bytes);
    }
  }

  void ScanIsoImage(const std::string& where, const ByteRange& bytes, int depth) {
    std::vector<IsoFile> files;
    std::string error;
    if (!ReadIsoImage(bytes.file.get(), bytes.offset, bytes.size, &files, &error)) {
      problems.push_back(where + ": " + error);
      return;
    }
    std::map<std::string, std::vector<NamedRange>> folders;
    for (const IsoFile& f : files) {
      size_t slash = f.path.find_last_of('/');
      std::string folder = slash == std::string::npos ? "" : f.path.substr(0, slash);
      folders[folder].push_back({f.path.substr(slash + 1), {bytes.path, bytes.file, f.offset, f.size}});
    }
    for (const auto& folder : folders) {
      ScanFolderFiles(where + ":/" + folder.first, folder.second, folder.first.empty() ? "" : "/", depth);
    }
  }

  // Finds every chain of records in the bytes: a record header whose sizes
  // are within the format's limits and whose body lies in the file starts
  // one; the search goes on after its end. A file that begins with a record
  // header is a pack file of its own, whole (padding, damage and all).
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
        if (start == 0) {
          Found({FindKind::PackFile, where, {{where, BaseOf(where), bytes}}});
          return;
        }
        // The start is judged first: walking the chain from every header of
        // a long run of implausible ones would read the run once per header.
        if (!PlausibleStart(bytes, start)) continue;
        uint64_t end = ChainEndAt(bytes, start);
        if (end > start && end - start <= SizeLimit() - 1) {
          chains.push_back({start, end});
          next = end;
          break;
        }
      }
      if (got < want) break;
      at = next;
    }
    ReportChains(where, bytes, chains);
  }

  // Chains inside one file, in the order they lie: one whose first block
  // copies from history it did not write, and that does not expand alone,
  // is taken with the chain before it (a script and its installer).
  void ReportChains(const std::string& where, const ByteRange& bytes,
                    const std::vector<std::pair<uint64_t, uint64_t>>& chains) {
    std::vector<FoundPackFile> files;
    for (const auto& chain : chains) {
      std::string shown = where + " at offset " + std::to_string(chain.first);
      files.push_back({shown,
                       "at-" + std::to_string(chain.first),
                       {"", bytes.file, bytes.offset + chain.first, chain.second - chain.first}});
    }
    for (size_t i = 0; i < files.size(); ++i) {
      if (i + 1 < files.size() && ContinuesChain(files[i + 1])) {
        Found({FindKind::ChainedPair,
               where + " at offsets " + std::to_string(chains[i].first) + " and " +
                   std::to_string(chains[i + 1].first),
               {files[i], files[i + 1]}});
        ++i;
      } else {
        Found({FindKind::PackFile, files[i].where, {files[i]}});
      }
    }
  }

  static bool ContinuesChain(const FoundPackFile& file) {
    std::vector<uint8_t> packed;
    std::string error;
    if (!ReadRange(file.bytes, &packed, &error) || !ContinuesEarlierHistory(packed)) return false;
    std::unique_ptr<PackExpander> expander(new PackExpander());
    ResetDecoderState(&expander->decoder);
    PackCheck check;
    return !ExpandPackFile(expander.get(), packed, nullptr, &check, &error);
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

  std::function<void(const Find&)> onFind_;
  std::set<std::pair<uint64_t, uint64_t>> searched_;  // in the file scanned now: offset, size
};

}  // namespace

bool NameIs(const std::string& name, const char* wanted) {
  return name.size() == strlen(wanted) && std::equal(name.begin(), name.end(), wanted, [](char a, char b) {
           return tolower((unsigned char)a) == tolower((unsigned char)b);
         });
}

bool ReadRange(ByteRange range, std::vector<uint8_t>* data, std::string* error) {
  if (!range.Open(error)) return false;
  if (range.size > SizeLimit() - 1) {
    *error = range.path + ": 4 GiB or larger (pack files measure sizes in 32 bits)";
    return false;
  }
  data->resize((size_t)range.size);
  size_t got = 0;
  if (!range.file->ReadAt(range.offset, data->data(), data->size(), &got, error)) return false;
  data->resize(got);
  return true;
}

void ScanPaths(const std::vector<std::string>& paths, const std::function<void(const Find&)>& onFind,
               std::vector<std::string>* problems, size_t* found) {
  Scanner scanner(onFind);
  for (const std::string& path : paths) scanner.ScanPath(path);
  *problems = scanner.problems;
  *found = scanner.found;
}
