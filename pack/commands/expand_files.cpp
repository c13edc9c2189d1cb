#include "commands/expand_files.h"

#include <stdio.h>

#include "commands/progress_line.h"
#include "expand/layout.h"
#include "expand/records.h"

namespace {

#ifdef _WIN32
const char PathSeparators[] = "/\\";
#else
const char PathSeparators[] = "/";
#endif

// The base name of a path, and its folder ("." for none).
std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of(PathSeparators);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderName(const std::string& path) {
  size_t slash = path.find_last_of(PathSeparators);
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool SameNameAnyCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return tolower((unsigned char)x) == tolower((unsigned char)y);
         });
}

// The script of the media whose installer is named first: an INSTALL.EX_
// copies from the decoder history INSTALL.SC_ left, as setup.exe expands
// them, so the INSTALL.SC_ beside it (in any letter case) is expanded before
// it unless it is named too. "" when there is none.
std::string PredecessorOf(const std::vector<std::string>& names) {
  if (names.empty() || IsStandardStream(names[0]) || !SameNameAnyCase(BaseName(names[0]), "INSTALL.EX_")) {
    return "";
  }
  std::string folder = FolderName(names[0]), error;
  std::vector<std::string> found;
  if (!FindAnyCase(folder, "INSTALL.SC_", &found, &error) || found.size() != 1) return "";
  std::string script =
      (names[0].find_last_of(PathSeparators) == std::string::npos ? "" : folder + "/") + found[0];
  for (const std::string& name : names) {
    if (IsSameRegularFile(script, name)) return "";
  }
  return script;
}

// Why the first file failed its check when it copies from history that no
// file before it left: it was packed after another file.
std::string ExplainMissingHistory(const std::string& name, const std::string& why) {
  return name +
         ": continues the decoder history of a file packed before it (as an INSTALL.EX_ continues its "
         "INSTALL.SC_): name that file first, as in 'setuppack test INSTALL.SC_ INSTALL.EX_'; when that "
         "file is lost, 'setuppack unpack --salvage " +
         name +
         " OUT' writes what it holds (only records that copy from the lost history come out wrong, and are "
         "named); expanded alone it fails: " +
         why;
}

// The seal's hash of a pack file, taken as it is first read (none until
// every byte has been).
class SealWatcher final : public PackedBytesWatcher {
 public:
  void Watch(const uint8_t* data, size_t size) override { hasher_.Add(data, size); }
  void End() override { seal = hasher_.Finish(); }
  SealedPackFile seal = {};

 private:
  SealHasher hasher_;
};

// The bytes of padding after a pack file's last record (0: none).
size_t PaddingAfterLastRecord(const std::vector<uint8_t>& packed) {
  PackLayout layout = ReadLayout(packed);
  return layout.first().end == ChainEnd::Padding ? packed.size() - layout.first().endOffset : 0;
}

}  // namespace

bool IsInstallerName(const std::string& path) {
  return !IsStandardStream(path) && SameNameAnyCase(BaseName(path), "INSTALL.EX_");
}

bool ReadAndExpand(const std::vector<std::string>& names, const std::vector<Destination>* destinations,
                   bool salvage, Expansion* expansion, size_t* failed, std::string* error) {
  std::unique_ptr<PackExpander> expander(new PackExpander());
  ResetDecoderState(&expander->decoder);
  bool writing = destinations != nullptr;
  std::string predecessor = PredecessorOf(names);
  if (!predecessor.empty()) {
    *failed = 0;
    std::vector<uint8_t> script;
    PackCheck check;
    std::string why;
    SalvageReport report;
    if (!ReadWholeFile(predecessor, &script, error)) return false;
    if (salvage) {
      SalvagePackFile(expander.get(), script, nullptr, &report);
    } else if (!ExpandPackFile(expander.get(), script, nullptr, &check, &why)) {
      *error = predecessor + " (expanded first, as setup.exe does): " + why;
      return false;
    }
    if (!expansion->quiet) {
      fprintf(
          stderr,
          "setuppack: %s: expanded after %s, as setup.exe does: it continues that file's decoder history\n",
          names[0].c_str(), predecessor.c_str());
    }
    if (salvage && !report.whole) {
      fprintf(stderr,
              "setuppack: %s: damaged: %zu stretches; the installer may differ where it copies from them\n",
              predecessor.c_str(), report.damage.size());
    }
  }
  for (size_t i = 0; i < names.size(); ++i) {
    *failed = i;
    std::string name = DisplayName(names[i], true);
    PackCheck check;
    std::string why, note;
    // Salvage works from the layout of the whole file: it reads it whole.
    std::vector<uint8_t> salvaged;
    PackedSource source;
    SealWatcher watcher;
    if (salvage ? !ReadWholeFile(names[i], &salvaged, error)
                : !source.Open(names[i], expansion->hashed ? &watcher : nullptr, error)) {
      expansion->written.clear();
      return false;
    }
    DestinationSink* sink = nullptr;
    if (writing) {
      expansion->written.emplace_back(new DestinationSink((*destinations)[i]));
      sink = expansion->written.back().get();
      sink->writer.Open(0, &sink->failure);
    }
    // A file that failed as it streamed is read again whole.
    const std::vector<uint8_t>& whole = salvage ? salvaged : source.Whole();
    ProgressLine summary(false, expansion->verbose, name, 0);  // -v: the file's line when it is done
    if (salvage) {
      expansion->salvaged.emplace_back();
      SalvagePackFile(expander.get(), salvaged, sink, &expansion->salvaged.back());
      check = expansion->salvaged.back().check;
      note = expansion->salvaged.back().note;
    } else if (!ExpandPackFile(expander.get(), &source, sink, &check, &why, &note)) {
      // An installer named alone, with no script beside it, that fails as
      // one expanded without its script's history does.
      bool installerAlone = i == 0 && predecessor.empty() && !IsStandardStream(names[0]) &&
                            SameNameAnyCase(BaseName(names[0]), "INSTALL.EX_");
      if (!source.ReadError().empty()) {
        *error = why;
      } else {
        *error = installerAlone && why.compare(0, 7, "damaged") == 0 && !whole.empty() &&
                         ContinuesEarlierHistory(whole)
                     ? ExplainMissingHistory(name, why)
                     : name + ": " + why;
      }
      expansion->written.clear();
      return false;
    }
    if (!note.empty() && !expansion->quiet)
      fprintf(stderr, "setuppack: %s: %s\n", name.c_str(), note.c_str());
    expansion->checks.push_back(check);
    // A file read whole (salvaged, or padded) is sealed from those bytes.
    bool readWhole = salvage || !whole.empty();
    expansion->seals.push_back(!expansion->hashed ? SealedPackFile()
                               : readWhole        ? SealOf(whole)
                                                  : watcher.seal);
    expansion->padding.push_back(whole.empty() ? 0 : PaddingAfterLastRecord(whole));
    summary.Finish(salvage ? whole.size() : source.Size(),
                   salvage ? expansion->salvaged.back().written : check.expandedSize);
    if (sink && sink->failure.empty()) sink->writer.Close(&sink->failure);
    writing = writing && sink->failure.empty();
  }
  return true;
}

bool ReportSalvage(const std::vector<std::string>& names, const std::vector<std::string>& targets,
                   const Expansion& expansion) {
  bool whole = true;
  for (size_t i = 0; i < expansion.salvaged.size(); ++i) {
    const SalvageReport& r = expansion.salvaged[i];
    if (r.whole) continue;
    whole = false;
    std::string name = DisplayName(names[i], true);
    for (const std::string& damage : r.damage)
      fprintf(stderr, "setuppack: %s: %s\n", name.c_str(), damage.c_str());
    std::string of = r.expected ? " of " + std::to_string(r.expected) : "";
    std::string vouched = r.checked ? std::to_string(r.vouched) + " of them vouched for by its check record"
                                    : "none vouched for (it has no check record that lists its records)";
    fprintf(stderr, "setuppack: %s -> %s: salvaged %llu%s bytes, %s\n", name.c_str(),
            DisplayName(targets[i], false).c_str(), (unsigned long long)r.written, of.c_str(),
            vouched.c_str());
  }
  return whole;
}

bool CommitAll(Expansion* expansion, std::string* error) {
  for (size_t i = 0; i < expansion->written.size(); ++i) {
    std::unique_ptr<DestinationSink>& sink = expansion->written[i];
    // Salvage that had nothing of a file writes nothing for it.
    const SalvageReport* salvaged = i < expansion->salvaged.size() ? &expansion->salvaged[i] : nullptr;
    if (salvaged && !salvaged->whole && salvaged->written == 0) {
      sink->writer.Discard();
      continue;
    }
    if (!sink->failure.empty()) {
      *error = sink->failure;
      return false;
    }
    if (!sink->writer.Commit(error)) return false;
  }
  return true;
}
