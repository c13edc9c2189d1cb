#include "rescue/scan_search.h"

#include <string.h>

#include <algorithm>
#include <set>
#include <tuple>

#include "check_record.h"
#include "expand/layout.h"
#include "expand/expand.h"
#include "expand/records.h"
#include "rescue/image_files.h"
#include "rescue/chain_walk.h"
#include "rescue/pack_file_pairs.h"
#include "platform/size_limit.h"

namespace {

const uint64_t SearchChunk = 1 << 20;
const int DeepestImage = 4;            // disc images inside disc images
const uint64_t ProgramHead = 1 << 20;  // what is read of a program to find the pack files it carries

// A file or folder entry of a folder being scanned.
struct NamedRange {
  std::string name;
  ByteRange bytes;
};

// Walks folder trees, disc images and files, and hands every find to
// onFind as it is made.
class Scanner {
 public:
  Scanner(std::function<void(const Find&)> onFind, CarriedReader carried)
      : onFind_(onFind), carried_(carried) {}
  std::vector<std::string> problems;  // what could not be read
  size_t found = 0;

  void ScanPath(const std::string& path) {
    if (IsFolder(path)) {
      ScanFolder(path);
    } else if (!ScanCueSheet(path)) {
      ScanFile(path, {path, nullptr, 0, 0}, 0);
    }
  }

 private:
  void Found(const Find& find) {
    ++found;
    onFind_(find);
  }

  // The files of one folder (a real one, or one inside an image): the two
  // pack files of media are one find; every other file is searched.
  void ScanFolderFiles(const std::string& folder, const std::vector<NamedRange>& files,
                       const std::string& separator, int depth, const std::string& fileSystem = "") {
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
                {prefix + installer->name, installer->name, installerBytes}},
               fileSystem});
      }
    }
    for (const NamedRange& f : files) {
      if (script && installer && (&f == script || &f == installer)) continue;
      ScanFile(prefix + f.name, f.bytes, depth, fileSystem);
    }
  }

  void ScanFolder(const std::string& folder) {
    std::vector<FolderEntry> entries;
    std::string error;
    if (!ListFolder(folder, &entries, &error)) {
      problems.push_back(error);
      return;
    }
    // A cue sheet leads to the raw image beside it, which is then read
    // from the data track the sheet places, and not again on its own.
    std::set<std::string> read;
    for (const FolderEntry& e : entries) {
      if (e.isFile && IsCueSheet(e.name)) ScanCueSheet(folder + "/" + e.name, &read);
    }
    std::vector<NamedRange> files;
    for (const FolderEntry& e : entries) {
      if (e.isFile && !read.count(folder + "/" + e.name)) {
        files.push_back({e.name, {folder + "/" + e.name, nullptr, 0, 0}});
      }
    }
    ScanFolderFiles(folder, files, "/", 0);
    for (const FolderEntry& e : entries) {
      if (e.isFolder) ScanFolder(folder + "/" + e.name);
    }
  }

  static bool IsCueSheet(const std::string& name) {
    return name.size() > 4 && NameIs(name.substr(name.size() - 4), ".cue");
  }

  // A cue sheet's data track, read as the image it holds; false for a file
  // that is no cue sheet.
  bool ScanCueSheet(const std::string& path, std::set<std::string>* read = nullptr) {
    if (!IsCueSheet(path)) return false;
    std::string dataPath, error;
    RawTrack track;
    if (!ReadCueFile(path, &dataPath, &track, &error)) {
      problems.push_back(error);
      return true;
    }
    if (read) read->insert(dataPath);
    ScanFile(dataPath, {dataPath, nullptr, 0, 0}, 0, "", &track);
    return true;
  }

  // An image (a disc, a disk, a raw CD's track) is read as folders; any
  // other file is searched for chains of records.
  void ScanFile(const std::string& where, ByteRange bytes, int depth, const std::string& inside = "",
                const RawTrack* track = nullptr) {
    std::string error;
    if (!bytes.Open(&error)) {
      problems.push_back(error);
      return;
    }
    // Names of the same bytes in a disc image (hard links, or an image that
    // names itself as a file of its own) are searched once.
    if (depth == 0) searched_.clear();
    const void* root = nullptr;
    uint64_t at = 0;
    bytes.file->Locate(&root, &at);
    if (!searched_.insert(std::make_tuple(root, at + bytes.offset, bytes.size)).second) return;
    std::vector<ImageVolume> volumes;
    std::shared_ptr<ImageBytes> image = bytes.file;
    if (bytes.offset != 0 || bytes.size != image->Size()) {
      image.reset(new ExtentBytes(bytes.file, {{bytes.offset, bytes.size}}));
    }
    if (depth < DeepestImage && ReadImage(image, track, &volumes, &error)) {
      for (const ImageVolume& volume : volumes) ScanImage(where, bytes.path, volume, depth + 1);
    } else if (!error.empty()) {
      problems.push_back(where + DescribedIn(inside) + ": " + error);
    } else if (!ScanProgram(where, bytes, inside)) {
      SearchRecords(where, bytes, inside);
    }
  }

  // A program that carries its pack files is media (cut short: what it
  // still holds of them).
  bool ScanProgram(const std::string& where, const ByteRange& bytes, const std::string& fileSystem) {
    uint8_t magic[2] = {0, 0};
    size_t got = 0;
    std::string error;
    if (!carried_ || !bytes.file->ReadAt(bytes.offset, magic, sizeof magic, &got, &error) || got < 2 ||
        magic[0] != 'M' || magic[1] != 'Z') {
      return false;
    }
    std::vector<uint8_t> head((size_t)std::min<uint64_t>(bytes.size, ProgramHead));
    Extent carried[2];
    if (!bytes.file->ReadAt(bytes.offset, head.data(), head.size(), &got, &error) || got < head.size() ||
        !carried_(head, bytes.size, carried)) {
      return false;
    }
    std::vector<FoundPackFile> files;
    for (int i = 0; i < 2; ++i) {
      const char* name = i == 0 ? "INSTALL.SC_" : "INSTALL.EX_";
      uint64_t at = std::min(carried[i].offset, bytes.size);
      files.push_back(
          {where + ":" + name,
           name,
           {bytes.path, bytes.file, bytes.offset + at, std::min(carried[i].size, bytes.size - at)}});
    }
    Found({FindKind::Program, where, files, fileSystem});
    return true;
  }

  static std::string DescribedIn(const std::string& fileSystem) {
    return fileSystem.empty() ? "" : " (" + fileSystem + ")";
  }

  // path: the file the image lies in. Each folder's path is made when its
  // files are scanned, not kept, so memory follows the image's folders.
  void ScanImage(const std::string& where, const std::string& path, const ImageVolume& volume, int depth) {
    for (const std::string& problem : volume.problems) {
      problems.push_back(where + DescribedIn(volume.fileSystem) + ": " + problem);
    }
    std::vector<std::vector<NamedRange>> folders(volume.folders.size());
    for (const ImageFile& f : volume.files) {
      if (!f.damage.empty()) {
        problems.push_back(where + ":/" + volume.PathOf(f) + DescribedIn(volume.fileSystem) + ": " +
                           f.damage);
      }
      if (f.folder < folders.size())
        folders[f.folder].push_back({f.name, {path, f.bytes, 0, f.bytes->Size()}});
    }
    // Folders in the order of their paths: the tree walked depth first,
    // each folder's subfolders by name.
    std::vector<std::vector<size_t>> children(volume.folders.size());
    for (size_t f = 1; f < volume.folders.size(); ++f) children[volume.folders[f].parent].push_back(f);
    std::vector<size_t> stack = {0};
    while (!stack.empty()) {
      size_t f = stack.back();
      stack.pop_back();
      std::sort(children[f].begin(), children[f].end(),
                [&volume](size_t a, size_t b) { return volume.folders[a].name > volume.folders[b].name; });
      stack.insert(stack.end(), children[f].begin(), children[f].end());
      if (folders[f].empty()) continue;
      ScanFolderFiles(where + ":/" + volume.PathOf(f), folders[f], f == 0 ? "" : "/", depth,
                      volume.fileSystem);
      std::vector<NamedRange>().swap(folders[f]);
    }
  }

  // Finds every chain of records in the bytes: a record header whose sizes
  // are within the format's limits and whose body lies in the file starts
  // one; the search goes on after its end, so every byte is read once. A
  // chain is cut into pack files where a check record begins one. A file
  // that begins with a record header is its pack files, the last to the
  // file's end (padding, damage and all).
  void SearchRecords(const std::string& where, const ByteRange& bytes, const std::string& fileSystem) {
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
          Found({FindKind::PackFile, where, {{where, BaseOf(where), bytes}}, fileSystem});
          return;
        }
        if (chain.end == start) continue;
        for (const auto& file : PackFilesOf(chain, start == 0 ? bytes.size : 0)) {
          if (file.second <= SizeLimit() - 1) {
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
    ReportChains(where, bytes, chains, fileSystem);
  }

  // Pack files inside one file, in the order they lie: one that needs the
  // history of another is taken with it (a script and its installer).
  void ReportChains(const std::string& where, const ByteRange& bytes,
                    const std::vector<std::pair<uint64_t, uint64_t>>& chains, const std::string& fileSystem) {
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
               {files[group[0]], files[group[1]]},
               fileSystem});
      } else {
        Found({FindKind::PackFile, files[group[0]].where, {files[group[0]]}, fileSystem});
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
  CarriedReader carried_;
  // In the file scanned now: where the bytes lie (see ImageBytes::Locate), their size.
  std::set<std::tuple<const void*, uint64_t, uint64_t>> searched_;
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
               std::vector<std::string>* problems, size_t* found, const CarriedReader& carried) {
  Scanner scanner(onFind, carried);
  for (const std::string& path : paths) scanner.ScanPath(path);
  *problems = scanner.problems;
  *found = scanner.found;
}
