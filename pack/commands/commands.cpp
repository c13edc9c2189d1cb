#include "commands/commands.h"

#include <stdio.h>
#include <string.h>

#include <memory>
#include <set>

#include "check_record.h"
#include "crc32.h"
#include "expand/expand.h"
#include "platform/file_io.h"
#include "media/installer_check.h"
#include "expand/records.h"
#include "expand/layout.h"
#include "encode/segments.h"
#include "cli/progress_line.h"
#include "rescue/salvage.h"
#include "media/seal_image.h"
#include "media/single_file.h"

#ifndef SETUPPACK_DATA_FROM_BIN
#define SETUPPACK_DATA_FROM_BIN "../share/setuppack"
#endif

namespace {

#ifdef _WIN32
const char PathSeparators[] = "/\\";
#else
const char PathSeparators[] = "/";
#endif

struct FilePair {
  std::string from;
  std::string to;
};

bool Pairs(const std::vector<std::string>& args, std::vector<FilePair>* pairs) {
  if (args.empty() || args.size() % 2 != 0) return false;
  for (size_t i = 0; i < args.size(); i += 2) pairs->push_back({args[i], args[i + 1]});
  return true;
}

// Standard input can be read once; a destination named twice would be
// written over by the second.
bool CheckNamesOnce(const std::vector<std::string>& sources, const std::vector<std::string>& destinations,
                    std::string* error) {
  size_t fromInput = 0;
  for (const std::string& s : sources) fromInput += IsStandardStream(s);
  if (fromInput > 1) {
    *error = "standard input ('-') can be read only once";
    return false;
  }
  std::set<std::string> seen;
  for (const std::string& d : destinations) {
    if (!IsStandardStream(d) && !seen.insert(d).second) {
      *error = "'" + d + "' is named twice as a destination";
      return false;
    }
  }
  return true;
}

// Plans every destination before any is written: one refusal writes nothing.
bool PlanAll(const std::vector<std::string>& names, bool force, std::vector<Destination>* destinations,
             std::string* error) {
  destinations->resize(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    if (!PlanDestination(names[i], force, &(*destinations)[i], error)) return false;
  }
  return true;
}

std::string Hex32(uint32_t value) {
  char text[9];
  snprintf(text, sizeof text, "%08x", value);
  return text;
}

// Splits the SOURCE DEST pairs of pack and unpack into sources and planned
// destinations. Returns ExitSuccess, or the error that stops the command.
int PlanPairs(const Invocation& in, const char* usage, const char* ownSource,
              std::vector<std::string>* sources, std::vector<Destination>* destinations) {
  std::vector<FilePair> pairs;
  if (!Pairs(in.files, &pairs)) return UsageError(usage);
  std::vector<std::string> targets;
  for (const FilePair& p : pairs) {
    if (IsSameRegularFile(p.from, p.to)) return UsageError("'" + p.to + "' would overwrite its " + ownSource);
    sources->push_back(p.from);
    targets.push_back(p.to);
  }
  std::string error;
  if (!CheckNamesOnce(*sources, targets, &error)) return UsageError(error);
  if (!PlanAll(targets, in.force, destinations, &error)) return DataError(error);
  return ExitSuccess;
}

// Packed bytes on their way to a planned destination.
class WriterOutput final : public PackOutput {
 public:
  explicit WriterOutput(DestinationWriter* writer) : writer_(writer) {}
  bool Write(const uint8_t* data, size_t size, std::string* error) override {
    return writer_->Write(data, size, error);
  }

 private:
  DestinationWriter* writer_;
};

class SourceInput final : public PackInput {
 public:
  explicit SourceInput(SourceFile* file) : file_(file) {}
  bool Read(uint8_t* buffer, size_t size, size_t* got, std::string* error) override {
    return file_->Read(buffer, size, got, error);
  }

 private:
  SourceFile* file_;
};

bool ShowsProgress(const Invocation& in) { return !in.quiet && (in.verbose || StandardErrorIsTerminal()); }

unsigned PackThreads(const Invocation& in) { return in.threads != 0 ? in.threads : AllProcessors(); }

// Packs one source into a destination writer that is open, through state,
// and closes it; false with *error when reading or writing fails.
bool PackInto(const Invocation& in, EncoderState* state, SourceFile* source, const std::string& name,
              DestinationWriter* writer, const Destination& destination, PackStreamResult* result,
              std::string* error) {
  ProgressLine progress(ShowsProgress(in), name, source->SizeKnown() ? source->Size() : 0);
  PackStreamOptions options;
  options.threads = PackThreads(in);
  options.withCheck = in.withCheck;
  options.scratchFolder = ScratchFolderFor(destination);
  options.progress = ProgressLine::Report;
  options.progressContext = &progress;
  SourceInput input(source);
  WriterOutput output(writer);
  options.inputName = name;
  return PackStream(state, &input, &output, options, result, error) && writer->Close(error);
}

int Pack(const Invocation& in) {
  std::vector<std::string> sources;
  std::vector<Destination> destinations;
  int planned = PlanPairs(in, "pack needs SOURCE PACKED pairs", "own source", &sources, &destinations);
  if (planned != ExitSuccess) return planned;
  for (const Destination& d : destinations) {
    // As gzip: packed data on a terminal is of no use to anyone.
    if (d.isTerminal && !in.force) {
      return DataError("packed data not written to a terminal ('" + d.name + "'); -f writes it anyway");
    }
  }
  // Every source is opened first (and one of 4 GiB or more refused) before
  // anything is read; each is packed as it is read into its destination's
  // temporary, and all are put in place once every one is packed.
  std::string error;
  std::vector<std::unique_ptr<SourceFile>> files;
  for (const std::string& source : sources) {
    files.emplace_back(new SourceFile());
    if (!files.back()->Open(source, &error)) return DataError(error);
  }
  // One encoder state, in the order the decoder will meet the files.
  auto state = std::make_unique<EncoderState>();
  state->options = in.encoder;
  std::vector<std::unique_ptr<DestinationWriter>> writers;
  for (size_t i = 0; i < sources.size(); ++i) {
    writers.emplace_back(new DestinationWriter(destinations[i]));
    PackStreamResult result;
    if (!writers.back()->Open(0, &error) ||
        !PackInto(in, state.get(), files[i].get(), DisplayName(sources[i], true), writers.back().get(),
                  destinations[i], &result, &error)) {
      return DataError(error);
    }
  }
  for (std::unique_ptr<DestinationWriter>& writer : writers) {
    if (!writer->Commit(&error)) return DataError(error);
  }
  return ExitSuccess;
}

// The expansion of a pack file on its way to its planned destination. A
// write that fails is kept and the rest of the file is expanded all the
// same (and dropped): the files after it continue its decoder state, and
// are still to be checked.
class DestinationSink final : public ExpansionSink {
 public:
  explicit DestinationSink(const Destination& destination) : writer(destination) {}
  void Take(const uint8_t* data, size_t size) override {
    if (failure.empty()) writer.Write(data, size, &failure);
  }
  DestinationWriter writer;
  std::string failure;  // why it cannot be written (empty: it can)
};

// Pack files read, expanded and checked in order through one decoder state.
struct Expansion {
  bool hashed = false;                // take the seals of the files as they are read
  std::vector<SealedPackFile> seals;  // of the files read whole, when hashed
  std::vector<size_t> padding;        // bytes of padding after each file's last record
  bool quiet = false;                 // -q: no notes
  std::vector<PackCheck> checks;      // of the files that expanded whole
  // The files being written, in order; after one that failed, none.
  std::vector<std::unique_ptr<DestinationSink>> written;
  // With --salvage: what was had of each file (then every file is expanded).
  std::vector<SalvageReport> salvaged;
};

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
         "INSTALL.SC_): name that file first, as in 'setuppack test INSTALL.SC_ INSTALL.EX_'; expanded "
         "alone it fails: " +
         why;
}

// Counts the bytes handed on to the next sink (if any).
class CountingSink final : public ExpansionSink {
 public:
  explicit CountingSink(ExpansionSink* next) : next_(next) {}
  void Take(const uint8_t* data, size_t size) override {
    if (next_) next_->Take(data, size);
    count_ += size;
  }
  uint64_t Count() const { return count_; }

 private:
  ExpansionSink* next_;
  uint64_t count_ = 0;
};

// How large a pack file that failed as it streamed may be to be read again
// whole, for the rescue messages and the padding note (64 MiB).
const uint32_t WholeReadAfterFailureLimit = 64u << 20;

// Expands a pack file as it is read. Only when that fails is the file read
// whole (*whole) and expanded again from the decoder state before it, by
// ExpandPackFile: that names what is wrong as the rest of setuppack does,
// and takes padding after the last record (with *note), whose records the
// sink already has. *readFailed: the file could not be read (*why says so
// in full). A file larger than WholeReadAfterFailureLimit is not read
// again: its streamed description stands.
bool ExpandAsRead(PackExpander* expander, PackedSource* source, ExpansionSink* sink, PackCheck* check,
                  std::string* why, std::string* note, std::vector<uint8_t>* whole, bool* readFailed) {
  std::unique_ptr<DecoderState> before(new DecoderState(expander->decoder));
  CountingSink streamed(sink);
  if (ExpandPackSource(expander, source, &streamed, check, why)) return true;
  *readFailed = true;
  if (!source->ReadError().empty()) {
    *why = source->ReadError();
    return false;
  }
  // Read whole only up to a bound: a larger damaged file keeps the streamed
  // description, so that memory does not grow with a damaged input (and a
  // larger padded one is not accepted).
  *readFailed = false;
  if (source->Size() > WholeReadAfterFailureLimit) return false;
  *readFailed = true;
  if (!source->Rewind(why)) return false;
  whole->resize(source->Size());
  if (source->Read(whole->data(), source->Size()) != source->Size()) {
    *why =
        !source->ReadError().empty() ? source->ReadError() : source->Name() + ": changed while it was read";
    return false;
  }
  *readFailed = false;
  expander->decoder = *before;
  CountingSink again(nullptr);
  if (!ExpandPackFile(expander, *whole, &again, check, why, note)) return false;
  if (again.Count() != streamed.Count()) {
    *why = "expanded to other bytes when read again (did it change while it was read?)";
    return false;
  }
  return true;
}

// The bytes of padding after a pack file's last record (0: none).
size_t PaddingAfterLastRecord(const std::vector<uint8_t>& packed) {
  PackLayout layout = ReadLayout(packed);
  return layout.first().end == ChainEnd::Padding ? packed.size() - layout.first().endOffset : 0;
}

// Reads and expands pack files in order through one decoder state, each
// into its planned destination as it comes (destinations null: checked
// only). Returns false, with *failed the file that failed and *error why,
// when a file cannot be read or is damaged: then nothing is written (every
// temporary is removed). With salvage, damage does not stop it: every file
// is expanded as far as it can be (expansion->salvaged says how), and only
// a file that cannot be read fails. A destination that cannot be written
// stops the writing, not the checks: the files after it are checked as
// well, and CommitAll reports it.
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
    std::vector<uint8_t> whole;
    PackedSource source;
    if (salvage ? !ReadWholeFile(names[i], &whole, error)
                : !source.Open(names[i], expansion->hashed, error)) {
      expansion->written.clear();
      return false;
    }
    DestinationSink* sink = nullptr;
    if (writing) {
      expansion->written.emplace_back(new DestinationSink((*destinations)[i]));
      sink = expansion->written.back().get();
      sink->writer.Open(0, &sink->failure);
    }
    bool readFailed = false;
    if (salvage) {
      expansion->salvaged.emplace_back();
      SalvagePackFile(expander.get(), whole, sink, &expansion->salvaged.back());
      check = expansion->salvaged.back().check;
      note = expansion->salvaged.back().note;
    } else if (!ExpandAsRead(expander.get(), &source, sink, &check, &why, &note, &whole, &readFailed)) {
      // An installer named alone, with no script beside it, that fails as
      // one expanded without its script's history does.
      bool installerAlone = i == 0 && predecessor.empty() && !IsStandardStream(names[0]) &&
                            SameNameAnyCase(BaseName(names[0]), "INSTALL.EX_");
      if (readFailed) {
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
                                                  : source.Seal());
    expansion->padding.push_back(whole.empty() ? 0 : PaddingAfterLastRecord(whole));
    if (sink && sink->failure.empty()) sink->writer.Close(&sink->failure);
    writing = writing && sink->failure.empty();
  }
  return true;
}

// Says what --salvage had of each file that was damaged (on standard
// error, with every stretch); true when every file was whole.
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

// Puts the written destinations in place, in order: those before one that
// failed stay in place, and its failure is the error.
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

int Unpack(const Invocation& in) {
  std::vector<std::string> sources;
  std::vector<Destination> destinations;
  int planned = PlanPairs(in, "unpack needs PACKED DEST pairs", "own pack file", &sources, &destinations);
  if (planned != ExitSuccess) return planned;
  // Every file is written as it expands, and put in place only once all are
  // checked, so that damage anywhere writes nothing (unless salvaged).
  std::string error;
  Expansion expansion;
  expansion.quiet = in.quiet;
  size_t failed = 0;
  if (!ReadAndExpand(sources, &destinations, in.salvage, &expansion, &failed, &error))
    return DataError(error);
  if (!CommitAll(&expansion, &error)) return DataError(error);
  std::vector<std::string> targets;
  for (const Destination& d : destinations) targets.push_back(d.name);
  return ReportSalvage(sources, targets, expansion) ? ExitSuccess : ExitData;
}

// Tests pack files as unpack expands them and says what it found of each.
bool TestPackFiles(const std::vector<std::string>& files, std::vector<SealedPackFile>* seals, bool quiet) {
  std::string error;
  Expansion expansion;
  expansion.hashed = seals != nullptr;
  expansion.quiet = quiet;
  size_t failed = files.size();
  bool ok = ReadAndExpand(files, nullptr, false, &expansion, &failed, &error);
  if (ok) failed = files.size();
  const std::vector<PackCheck>& checks = expansion.checks;
  if (seals) seals->swap(expansion.seals);
  for (size_t i = 0; i < files.size(); ++i) {
    std::string name = DisplayName(files[i], true);
    if (i < failed) {
      printf("%s: OK, %s\n", name.c_str(), Verified(checks[i], checks[i].expandedSize).c_str());
    } else if (i == failed) {
      fflush(stdout);
      DataError(error);
    } else {
      printf("%s: not tested: it continues the decoder state of a file that failed before it\n",
             name.c_str());
    }
  }
  return ok;
}

int TestMedia(const std::string& media, bool quiet);

int Test(const Invocation& in) {
  if (in.files.empty()) return UsageError("test needs at least one PACKED file");
  std::vector<std::string> entries;
  std::string error;
  if (in.files.size() == 1 && !IsStandardStream(in.files[0]) &&
      FindAnyCase(in.files[0], "", &entries, &error)) {
    return TestMedia(in.files[0], in.quiet);  // a folder
  }
  std::vector<uint8_t> program;
  if (in.files.size() == 1 && ReadIfProgram(in.files[0], &program)) return TestProgram(in.files[0], program);
  if (!CheckNamesOnce(in.files, {}, &error)) return UsageError(error);
  return TestPackFiles(in.files, nullptr, in.quiet) ? ExitSuccess : ExitData;
}

int List(const Invocation& in) {
  if (in.files.empty()) return UsageError("list needs at least one PACKED file");
  std::string error;
  if (!CheckNamesOnce(in.files, {}, &error)) return UsageError(error);
  int status = ExitSuccess;
  for (const std::string& path : in.files) {
    std::vector<uint8_t> packed;
    if (!ReadWholeFile(path, &packed, &error)) {
      status = DataError(error);
      continue;
    }
    bool afterScript = !IsStandardStream(path) && SameNameAnyCase(BaseName(path), "INSTALL.EX_");
    int listed = LooksLikeProgram(packed) ? ListProgram(DisplayName(path, true), packed)
                                          : ListPackedData(DisplayName(path, true), packed, afterScript);
    if (listed != ExitSuccess) status = listed;
  }
  return status;
}

// The entry of folder called name in any letter case: the one there, or
// name itself when there is none. Two that differ only in case are an error,
// since which of them setup.exe reads depends on the file system.
bool EntryAnyCase(const std::string& folder, const std::string& name, std::string* path, bool* found,
                  std::string* error) {
  std::vector<std::string> entries;
  if (!FindAnyCase(folder, name, &entries, error)) return false;
  if (entries.size() > 1) {
    *error = "'" + folder + "' holds both '" + entries[0] + "' and '" + entries[1] +
             "', names that differ only in case; remove one";
    return false;
  }
  *found = !entries.empty();
  *path = JoinPath(folder, entries.empty() ? name : entries[0]);
  return true;
}

// The files of a media folder, in any letter case: the two pack files in
// the launcher's order (the script, then the installer), and setup.exe when
// there is one.
struct MediaFolder {
  std::vector<std::string> packFiles;
  std::string setup;
  bool hasSetup = false;
};

bool FindMediaFiles(const std::string& media, MediaFolder* folder, std::string* error) {
  folder->packFiles.resize(2);
  if (!IsStandardStream(media) && !IsFolder(media)) {
    FileReader file;
    if (!file.Open(media, error)) return false;
    *error = media + ": not a folder; 'setuppack scan " + media +
             "' finds media inside disc images and other files";
    return false;
  }
  const char* names[] = {"INSTALL.SC_", "INSTALL.EX_"};
  for (int i = 0; i < 2; ++i) {
    bool found = false;
    if (!EntryAnyCase(media, names[i], &folder->packFiles[i], &found, error)) return false;
    if (!found) {
      *error = "'" + media + "' has no " + names[i] + " (in any letter case); 'setuppack scan " + media +
               "' looks in the folders below it";
      return false;
    }
  }
  return EntryAnyCase(media, "setup.exe", &folder->setup, &folder->hasSetup, error);
}

// Reads the seal of the folder's setup.exe (SealState::None without one).
bool ReadMediaSeal(const MediaFolder& folder, SealInfo* seal, std::string* error) {
  *seal = SealInfo();
  std::vector<uint8_t> image;
  if (!folder.hasSetup) return true;
  if (!ReadWholeFile(folder.setup, &image, error) || !ReadSeal(image, folder.setup, seal, error))
    return false;
  if (seal->state == SealState::Sealed && (seal->files[0].carriedAt | seal->files[1].carriedAt) != 0) {
    *error = "'" + folder.setup +
             "' carries its own pack files and never reads those beside it: test or extract it as a program";
    return false;
  }
  return true;
}

// Fails, naming the file, when a pack file is not the one the seal names.
bool CheckMediaSeal(const MediaFolder& folder, const SealInfo& seal,
                    const std::vector<SealedPackFile>& packed, std::string* error) {
  int mismatch = SealMismatch(seal, packed.data());
  if (mismatch < 0) return true;
  *error = "'" + folder.packFiles[mismatch] + "' does not match the seal of '" + folder.setup + "' (it is " +
           DescribeSealed(packed[mismatch]) + "; the seal names " + DescribeSealed(seal.files[mismatch]) +
           "): setup.exe refuses it";
  return false;
}

int TestMedia(const std::string& media, bool quiet) {
  MediaFolder folder;
  SealInfo seal;
  std::string error;
  if (!FindMediaFiles(media, &folder, &error) || !ReadMediaSeal(folder, &seal, &error))
    return DataError(error);
  std::vector<SealedPackFile> packed;
  if (!TestPackFiles(folder.packFiles, &packed, quiet)) return ExitData;
  if (!CheckMediaSeal(folder, seal, packed, &error)) return DataError(error);
  const char* found = seal.state == SealState::Sealed ? "sealed, and both pack files match its seal"
                      : seal.state == SealState::Unsealed
                          ? "unsealed: it expands any pack files beside it (setuppack seal seals it)"
                          : "no seal block: a setup.exe from before seals, which expands any pack files";
  if (folder.hasSetup) {
    printf("%s: %s\n", folder.setup.c_str(), found);
  } else {
    printf("%s: no setup.exe, no seal to check\n", media.c_str());
  }
  return ExitSuccess;
}

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
  printf("%s: sealed for %s (%s) and %s (%s)\n", folder.setup.c_str(), folder.packFiles[0].c_str(),
         DescribeSealed(packed[0]).c_str(), folder.packFiles[1].c_str(), DescribeSealed(packed[1]).c_str());
  return ExitSuccess;
}

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
    if (in.salvage && !expansion.salvaged[i].whole) continue;
    printf("%s -> %s: %s\n", sources[i].c_str(), targets[i].c_str(),
           Verified(expansion.checks[i], expansion.checks[i].expandedSize).c_str());
  }
  fflush(stdout);
  if (!sealed) DataError(sealError);
  return ReportSalvage(sources, targets, expansion) && sealed ? ExitSuccess : ExitData;
}

// The setup.exe installed with setuppack, found relative to the program so
// that an installed tree may move: PREFIX/bin/setuppack and
// PREFIX/share/setuppack/setup.exe. *lookedAt says where it was looked for.
bool FindInstalledSetup(const char* programPath, std::string* found, std::string* lookedAt) {
  std::string folder = ProgramFolder(programPath);
  std::string base = folder.empty() ? std::string(".") : folder, data = SETUPPACK_DATA_FROM_BIN;
  *lookedAt = JoinPath(data == "." ? base : JoinPath(base, data), "setup.exe");
  return !folder.empty() && ResolveRegularFile(*lookedAt, found);
}

// A source to pack whose first bytes were read ahead (to look at the
// installer's headers): those first, then the rest of the file.
class ReadAheadInput final : public PackInput {
 public:
  ReadAheadInput(SourceFile* file, const std::vector<uint8_t>& ahead) : file_(file), ahead_(ahead) {}
  bool Read(uint8_t* buffer, size_t size, size_t* got, std::string* error) override {
    if (at_ < ahead_.size()) {
      *got = std::min(size, ahead_.size() - at_);
      memcpy(buffer, ahead_.data() + at_, *got);
      at_ += *got;
      return true;
    }
    return file_->Read(buffer, size, got, error);
  }

 private:
  SourceFile* file_;
  const std::vector<uint8_t>& ahead_;
  size_t at_ = 0;
};

// Reads the first bytes of a file: up to its PE header, which
// InstallerProblem looks at, and at least 64 KiB when there are that many.
bool ReadHeaders(SourceFile* file, std::vector<uint8_t>* ahead, std::string* error) {
  auto fill = [&](size_t size) {
    while (ahead->size() < size) {
      uint8_t buffer[1 << 16];
      size_t got = 0;
      if (!file->Read(buffer, std::min(sizeof buffer, size - ahead->size()), &got, error)) return false;
      if (got == 0) break;
      ahead->insert(ahead->end(), buffer, buffer + got);
    }
    return true;
  };
  if (!fill(1 << 16)) return false;
  const size_t MostAhead = (size_t)64 << 20;
  size_t header = ahead->size() >= 64 ? ReadLE32(ahead->data() + 60) : 0;
  return header + 24 <= ahead->size() || header + 24 > MostAhead || fill(header + 24);
}

// Reads the rest of a file whose first bytes are ahead: all of it, whole.
bool ReadRest(SourceFile* file, const std::string& name, const std::vector<uint8_t>& ahead,
              std::vector<uint8_t>* data, std::string* error) {
  *data = ahead;
  std::vector<uint8_t> buffer(1 << 20);
  for (;;) {
    size_t got = 0;
    if (!file->Read(buffer.data(), buffer.size(), &got, error)) return false;
    if (got == 0) return true;
    data->insert(data->end(), buffer.data(), buffer.data() + got);
    if ((uint64_t)data->size() >= ((uint64_t)1 << 32)) {
      *error = DisplayName(name, true) + ": 4 GiB or larger (pack files measure sizes in 32 bits)";
      return false;
    }
  }
}

// The packed bytes of media on their way: to their destination, to the
// seal's hash, and to a scratch copy from which they are verified.
class MediaOutput final : public PackOutput {
 public:
  explicit MediaOutput(DestinationWriter* writer) : writer_(writer) {}
  bool Open(const std::string& folder, std::string* error) { return copy.Open(folder, error); }
  bool Write(const uint8_t* data, size_t size, std::string* error) override {
    seal.Add(data, size);
    return writer_->Write(data, size, error) && copy.Append(data, size, error);
  }
  SealHasher seal;
  ScratchFile copy;

 private:
  DestinationWriter* writer_;
};

// What a pack file expands to, as it comes: its size and CRC-32.
class CrcSink final : public ExpansionSink {
 public:
  void Take(const uint8_t* data, size_t size) override {
    crc = Crc32Update(crc, data, (uint32_t)size);
    this->size += size;
  }
  uint32_t crc = 0;
  uint64_t size = 0;
};

}  // namespace

// Expands pack files that media wrote (their scratch copies) through one
// decoder state, and compares each expansion with the size and CRC-32 of
// the bytes it was packed from: false with *error when one is damaged,
// *same false when one expands to other bytes.
static bool VerifyMedia(std::vector<std::unique_ptr<MediaOutput>>* outputs,
                        const std::vector<PackStreamResult>& packed, bool* same, std::string* error) {
  std::unique_ptr<PackExpander> expander(new PackExpander());
  ResetDecoderState(&expander->decoder);
  for (size_t i = 0; i < outputs->size(); ++i) {
    PackedSource source;
    CrcSink expanded;
    PackCheck check;
    if (!source.OpenScratch(&(*outputs)[i]->copy, packed[i].packedSize, error) ||
        !ExpandPackSource(expander.get(), &source, &expanded, &check, error)) {
      return false;
    }
    *same = *same && expanded.size == packed[i].expandedSize && expanded.crc == packed[i].crc;
  }
  return true;
}

namespace {

// Expands pack files held in memory through one decoder state; *same
// stays true when each gives its source back (size and CRC-32).
bool VerifyPackedData(const std::vector<std::vector<uint8_t>>& packed,
                      const std::vector<const std::vector<uint8_t>*>& sources, bool* same,
                      std::string* error) {
  std::unique_ptr<PackExpander> expander(new PackExpander());
  ResetDecoderState(&expander->decoder);
  for (size_t i = 0; i < packed.size(); ++i) {
    CrcSink expanded;
    PackCheck check;
    if (!ExpandPackFile(expander.get(), packed[i], &expanded, &check, error)) return false;
    const std::vector<uint8_t>& source = *sources[i];
    *same = *same && expanded.size == source.size() &&
            expanded.crc == Crc32Update(0, source.data(), (uint32_t)source.size());
  }
  return true;
}

// The pack files made of sources held whole (media --single-file).
class VectorOutput final : public PackOutput {
 public:
  explicit VectorOutput(std::vector<uint8_t>* out) : out_(out) {}
  bool Write(const uint8_t* data, size_t size, std::string*) override {
    out_->insert(out_->end(), data, data + size);
    return true;
  }

 private:
  std::vector<uint8_t>* out_;
};

// The launcher expands the script first, then the installer, through one
// decoder state: packs them in that order through one encoder state, and
// verifies that they expand to their sources. Returns the exit status.
int PackMediaFiles(const Invocation& in, const std::vector<uint8_t>& script,
                   const std::vector<uint8_t>& installer, std::vector<std::vector<uint8_t>>* packed) {
  auto state = std::make_unique<EncoderState>();
  state->options = in.encoder;
  packed->assign(2, {});
  const std::vector<uint8_t>* sources[2] = {&script, &installer};
  const std::string shown[2] = {DisplayName(in.script, true), DisplayName(in.installer, true)};
  std::string error;
  for (int i = 0; i < 2; ++i) {
    ProgressLine progress(ShowsProgress(in), shown[i], sources[i]->size());
    PackStreamOptions options;
    options.inputName = shown[i];
    options.threads = PackThreads(in);
    options.withCheck = in.withCheck;
    options.progress = ProgressLine::Report;
    options.progressContext = &progress;
    MemoryInput input(*sources[i]);
    VectorOutput output(&(*packed)[i]);
    PackStreamResult result;
    if (!PackStream(state.get(), &input, &output, options, &result, &error)) return DataError(error);
  }
  bool same = true;
  if (!VerifyPackedData(*packed, {&script, &installer}, &same, &error)) {
    return DataError("verification failed: " + error);
  }
  if (!same) return DataError("verification failed: the pack files do not expand to their sources");
  return ExitSuccess;
}

void PrintVerified(const Invocation& in) {
  printf("verified: both expand to their sources%s\n",
         in.withCheck ? ", and each matches its check record (size and CRC-32)" : " (no check records)");
}

// media --single-file: one program, -o names it.
int MediaSingleFile(const Invocation& in, const std::string& setup, const std::string& how,
                    const std::vector<uint8_t>& script, const std::vector<uint8_t>& installer,
                    const std::vector<uint8_t>& setupData) {
  std::string error;
  Destination destination;
  if (IsSameRegularFile(setup, in.outputDir))
    return UsageError("-o '" + in.outputDir + "' would overwrite --setup");
  if (!PlanDestination(in.outputDir, in.force, &destination, &error)) return DataError("media: " + error);
  std::vector<std::vector<uint8_t>> packed;
  int made = PackMediaFiles(in, script, installer, &packed);
  if (made != ExitSuccess) return made;
  std::vector<uint8_t> program;
  if (!MakeSingleFile(setupData, setup, packed, &program, &error)) {
    return DataError("media: " + error + " (nothing was written)");
  }
  if (!WriteDestination(destination, program, &error)) return DataError(error);
  printf(
      "%s: %zu bytes: setup.exe copied from %s (%s), %zu bytes, then INSTALL.SC_ (%zu -> %zu bytes) and "
      "INSTALL.EX_ (%zu -> %zu bytes), sealed for them\n",
      in.outputDir.c_str(), program.size(), setup.c_str(), how.c_str(), setupData.size(), script.size(),
      packed[0].size(), installer.size(), packed[1].size());
  PrintVerified(in);
  return ExitSuccess;
}

int Media(const Invocation& in, const char* programPath) {
  if (!in.files.empty()) return UsageError("media takes no file names ('" + in.files[0] + "'); see --help");
  if (in.script.empty() || in.installer.empty() || in.outputDir.empty()) {
    return UsageError("media needs --script FILE, --installer FILE and -o DIR");
  }
  if (!in.setup.empty() && in.noSetup) return UsageError("media takes --setup EXE or --no-setup, not both");
  if (in.singleFile && (in.noSetup || !in.withSeal)) {
    return UsageError(std::string("media --single-file takes no ") +
                      (in.noSetup ? "--no-setup" : "--no-seal") +
                      ": the program is setup.exe sealed for the pack files it carries");
  }
  std::string setup = in.setup, how = "given with --setup", lookedAt;
  if (setup.empty() && !in.noSetup) {
    if (!FindInstalledSetup(programPath, &setup, &lookedAt)) {
#ifdef _WIN32
      return DataError(
          "media: no setup.exe: none was given with --setup, and none lies beside setuppack.exe "
          "(looked for '" +
          lookedAt +
          "').\nPut back the setup.exe of the zip beside setuppack.exe, give one with --setup "
          "EXE, or write the pack files alone with --no-setup");
#else
      return DataError(
          "media: no setup.exe: none was given with --setup, and none is installed with setuppack (looked "
          "for '" +
          lookedAt +
          "').\nBuild one with 'cmake --preset win32 && cmake --build build/win32 --target setup' and give "
          "build/win32/launcher/setup.exe with --setup EXE, install it with setuppack (see 'man "
          "setuppack'), or write the pack files alone with --no-setup");
#endif
    }
    how = "installed with setuppack";
  }
  std::string error;
  // The sources are read as they are packed; the installer's headers first.
  SourceFile script, installer;
  std::vector<uint8_t> scriptAhead, installerAhead, setupData;
  if (!script.Open(in.script, &error) || !installer.Open(in.installer, &error) ||
      !ReadHeaders(&installer, &installerAhead, &error) ||
      (!setup.empty() && !ReadWholeFile(setup, &setupData, &error))) {
    return DataError(error);
  }
  std::string problem = InstallerProblem(installerAhead, in.installer);
  if (!problem.empty() && in.strict)
    return DataError("media: " + problem + " (--strict; nothing was written)");
  if (!problem.empty() && !in.quiet) {
    fprintf(stderr, "setuppack: warning: %s (--strict refuses it)\n", problem.c_str());
  }
  if (in.singleFile) {
    // One program holds the setup.exe and both pack files: it is made in
    // memory, so the sources are read whole on this path.
    std::vector<uint8_t> scriptData, installerData;
    if (!ReadRest(&script, in.script, scriptAhead, &scriptData, &error) ||
        !ReadRest(&installer, in.installer, installerAhead, &installerData, &error)) {
      return DataError(error);
    }
    return MediaSingleFile(in, setup, how, scriptData, installerData, setupData);
  }

  // Every file media would write is checked first, in any letter case: a
  // folder copied from a FAT disk may hold install.sc_, which setup.exe
  // would read as well.
  if (!MakeFolder(in.outputDir, &error)) return DataError(error);
  std::vector<std::string> names = {"INSTALL.SC_", "INSTALL.EX_"}, targets;
  if (!setup.empty()) names.push_back("setup.exe");
  for (const std::string& name : names) {
    std::string path;
    bool found = false;
    if (!EntryAnyCase(in.outputDir, name, &path, &found, &error)) return DataError(error);
    targets.push_back(path);
  }
  bool setupInPlace = !setup.empty() && IsSameRegularFile(setup, targets[2]);
  bool sealing = !setup.empty() && in.withSeal;
  if (setupInPlace) targets.pop_back();
  std::vector<Destination> destinations;
  if (!PlanAll(targets, in.force, &destinations, &error)) return DataError("media: " + error);
  // A setup.exe already in DIR is sealed where it is: its old seal would
  // refuse the new pack files.
  if (setupInPlace && sealing) {
    destinations.emplace_back();
    if (!PlanDestination(setup, true, &destinations.back(), &error)) return DataError("media: " + error);
  }

  // The launcher expands the script first, then the installer, through one
  // decoder state: pack them in that order through one encoder state. Both
  // are verified before anything is put in place, so a failure leaves DIR as
  // it was.
  auto state = std::make_unique<EncoderState>();
  state->options = in.encoder;
  std::vector<std::unique_ptr<DestinationWriter>> writers;
  std::vector<std::unique_ptr<MediaOutput>> outputs;
  std::vector<PackStreamResult> packed(2);
  SourceFile* sources[2] = {&script, &installer};
  const std::vector<uint8_t>* ahead[2] = {&scriptAhead, &installerAhead};
  const std::string shown[2] = {DisplayName(in.script, true), DisplayName(in.installer, true)};
  for (int i = 0; i < 2; ++i) {
    writers.emplace_back(new DestinationWriter(destinations[i]));
    outputs.emplace_back(new MediaOutput(writers.back().get()));
    ProgressLine progress(ShowsProgress(in), shown[i], sources[i]->SizeKnown() ? sources[i]->Size() : 0);
    PackStreamOptions options;
    options.inputName = shown[i];
    options.threads = PackThreads(in);
    options.withCheck = in.withCheck;
    options.scratchFolder = ScratchFolderFor(destinations[i]);
    options.progress = ProgressLine::Report;
    options.progressContext = &progress;
    ReadAheadInput input(sources[i], *ahead[i]);
    if (!writers.back()->Open(0, &error) || !outputs.back()->Open(options.scratchFolder, &error) ||
        !PackStream(state.get(), &input, outputs.back().get(), options, &packed[i], &error) ||
        !writers.back()->Close(&error)) {
      return DataError(error);
    }
  }
  bool same = true;
  if (!VerifyMedia(&outputs, packed, &same, &error)) return DataError("verification failed: " + error);
  if (!same) return DataError("verification failed: the pack files do not expand to their sources");
  const SealedPackFile seals[2] = {outputs[0]->seal.Finish(), outputs[1]->seal.Finish()};
  if (sealing && !SealImage(&setupData, setup, seals, &error)) {
    return DataError("media: " + error + "; --no-seal copies it unsealed (nothing was written)");
  }
  // What media puts in place: the two pack files, then the copy of setup.exe.
  for (std::unique_ptr<DestinationWriter>& writer : writers) {
    if (!writer->Commit(&error)) return DataError(error);
  }
  if (destinations.size() > 2 && !WriteDestination(destinations[2], setupData, &error))
    return DataError(error);

  printf("%s: %llu -> %llu bytes\n%s: %llu -> %llu bytes\n", targets[0].c_str(),
         (unsigned long long)packed[0].expandedSize, (unsigned long long)packed[0].packedSize,
         targets[1].c_str(), (unsigned long long)packed[1].expandedSize,
         (unsigned long long)packed[1].packedSize);
  if (setup.empty()) {
    printf("setup.exe: not written (--no-setup)\n");
  } else if (setupInPlace) {
    printf("setup.exe: %s is already there%s\n", setup.c_str(), sealing ? ", sealed for them" : "");
  } else {
    printf("setup.exe: copied from %s (%s), %s\n", setup.c_str(), how.c_str(),
           sealing ? "sealed for the two pack files" : "unsealed (--no-seal)");
  }
  PrintVerified(in);
  return ExitSuccess;
}

}  // namespace

int DataError(const std::string& message) {
  fprintf(stderr, "setuppack: %s\n", message.c_str());
  return ExitData;
}

std::string Verified(const PackCheck& check, size_t size) {
  std::string bytes = std::to_string(size) + " bytes";
  if (!check.present) return bytes + ", no check record: damage to it can go unnoticed";
  return bytes + ", size and CRC-32 " + Hex32(check.expectedCrc) + " match its check record";
}

int ListPackedData(const std::string& name, const std::vector<uint8_t>& packed, bool afterScript) {
  PackLayout layout = ReadLayout(packed);
  // A file that is not a pack file has no table to show.
  if (layout.NotPackFormat()) return DataError(name + ": not in pack format");
  const std::vector<ListedRecord>& records = layout.first().records;
  printf("%s\n  %10s  %-10s  %10s  %10s\n", name.c_str(), "offset", "type", "packed", "expanded");
  uint64_t expanded = 0;
  uint32_t compressed = 0, checks = 0;
  for (const ListedRecord& r : records) {
    uint32_t body = r.packedSize ? r.packedSize : r.expandedSize;
    printf("  %10u  %-10s  %10u  %10u\n", r.offset,
           r.isCheck      ? "check"
           : r.packedSize ? "compressed"
                          : "stored",
           body, r.expandedSize);
    expanded += r.expandedSize;
    compressed += r.packedSize != 0 && !r.isCheck;
    checks += r.isCheck;
  }
  printf("  %zu records (%u check, %u compressed, %zu stored): %zu bytes packed, %llu expanded, ratio %.4f\n",
         records.size(), checks, compressed, records.size() - compressed - checks, packed.size(),
         (unsigned long long)expanded, expanded ? (double)packed.size() / (double)expanded : 0.0);
  if (!records.empty() && records[0].isCheck) {
    CheckRecord check;
    uint32_t state = ReadCheckRecord(packed.data() + PackHeaderSize, records[0].packedSize, &check);
    if (state == CheckRecordOk) {
      printf("  check record: layout %u, expands to %llu bytes of CRC-32 %08x, CRCs of %u records\n",
             check.version, (unsigned long long)check.expandedSize, check.crc, check.listedRecords);
    } else if (state == CheckRecordUnknownVersion) {
      printf("  check record: layout %u, unknown to this setuppack\n", check.version);
    } else {
      printf("  check record: damaged\n");
    }
  } else {
    printf("  no check record: damage to this file goes unnoticed\n");
  }
  if (afterScript) {
    printf(
        "  expands after INSTALL.SC_, as setup.exe expands them: it may copy from that file's decoder "
        "history\n");
  }
  fflush(stdout);
  std::string trouble = DescribeChainEnd(layout.first(), packed.size());
  if (!trouble.empty()) return DataError(name + ": " + trouble);
  if (layout.first().end == ChainEnd::Padding) {
    fprintf(stderr, "setuppack: %s: %s\n", name.c_str(),
            DescribePadding(layout.first(), packed.size()).c_str());
  }
  return ExitSuccess;
}

int UsageError(const std::string& message) {
  fprintf(stderr, "setuppack: %s\n(run 'setuppack --help' for usage)\n", message.c_str());
  return ExitUsage;
}

int RunCommand(const Invocation& in, const char* programPath) {
  std::string error;
  if (!CheckOptionsApply(in, &error)) return UsageError(error);
  if (in.command == "pack") return Pack(in);
  if (in.command == "unpack") return Unpack(in);
  if (in.command == "test") return Test(in);
  if (in.command == "list") return List(in);
  if (in.command == "extract") return Extract(in);
  if (in.command == "seal") return Seal(in);
  if (in.command == "scan") return Scan(in);
  return Media(in, programPath);
}
