#include "commands.h"

#include <stdio.h>
#include <string.h>

#include <memory>
#include <set>

#include "check_record.h"
#include "crc32.h"
#include "expand_stream.h"
#include "file_io.h"
#include "installer_check.h"
#include "pack_files.h"
#include "pack_stream.h"
#include "progress_line.h"
#include "seal_image.h"

#ifndef SETUPPACK_DATA_FROM_BIN
#define SETUPPACK_DATA_FROM_BIN "../share/setuppack"
#endif

namespace {

int DataError(const std::string& message) {
  fprintf(stderr, "setuppack: %s\n", message.c_str());
  return ExitData;
}

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

// What was verified of a file that expanded whole.
std::string Verified(const PackCheck& check, size_t size) {
  std::string bytes = std::to_string(size) + " bytes";
  if (!check.present) return bytes + ", no check record: damage to it can go unnoticed";
  return bytes + ", size and CRC-32 " + Hex32(check.expectedCrc) + " match its check record";
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
  std::vector<PackCheck> checks;      // of the files that expanded whole
  // The files being written, in order; after one that failed, none.
  std::vector<std::unique_ptr<DestinationSink>> written;
};

// Reads and expands pack files in order through one decoder state, each
// into its planned destination as it comes (destinations null: checked
// only). Returns false, with *failed the file that failed and *error why,
// when a file cannot be read or is damaged: then nothing is written (every
// temporary is removed). A destination that cannot be written
// stops the writing, not the checks: the files after it are checked as
// well, and CommitAll reports it.
bool ReadAndExpand(const std::vector<std::string>& names, const std::vector<Destination>* destinations,
                   Expansion* expansion, size_t* failed, std::string* error) {
  std::unique_ptr<PackExpander> expander(new PackExpander());
  ResetDecoderState(&expander->decoder);
  bool writing = destinations != nullptr;
  for (size_t i = 0; i < names.size(); ++i) {
    *failed = i;
    // Read as it expands: a block of the file at a time.
    PackedSource packed;
    if (!packed.Open(names[i], expansion->hashed, error)) {
      expansion->written.clear();
      return false;
    }
    DestinationSink* sink = nullptr;
    if (writing) {
      expansion->written.emplace_back(new DestinationSink((*destinations)[i]));
      sink = expansion->written.back().get();
      sink->writer.Open(0, &sink->failure);
    }
    PackCheck check;
    std::string why;
    if (!ExpandPackSource(expander.get(), &packed, sink, &check, &why)) {
      *error = DisplayName(names[i], true) + ": " + why;
      expansion->written.clear();
      return false;
    }
    expansion->checks.push_back(check);
    expansion->seals.push_back(packed.Seal());
    if (sink && sink->failure.empty()) sink->writer.Close(&sink->failure);
    writing = writing && sink->failure.empty();
  }
  return true;
}

// Puts the written destinations in place, in order: those before one that
// failed stay in place, and its failure is the error.
bool CommitAll(Expansion* expansion, std::string* error) {
  for (std::unique_ptr<DestinationSink>& sink : expansion->written) {
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
  // checked, so that damage anywhere writes nothing.
  std::string error;
  Expansion expansion;
  size_t failed = 0;
  if (!ReadAndExpand(sources, &destinations, &expansion, &failed, &error)) return DataError(error);
  return CommitAll(&expansion, &error) ? ExitSuccess : DataError(error);
}

// Tests pack files as unpack expands them and says what it found of each.
bool TestPackFiles(const std::vector<std::string>& files, std::vector<SealedPackFile>* seals) {
  std::string error;
  Expansion expansion;
  expansion.hashed = seals != nullptr;
  size_t failed = files.size();
  bool ok = ReadAndExpand(files, nullptr, &expansion, &failed, &error);
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

int TestMedia(const std::string& media);

int Test(const Invocation& in) {
  if (in.files.empty()) return UsageError("test needs at least one PACKED file");
  std::vector<std::string> entries;
  std::string error;
  if (in.files.size() == 1 && !IsStandardStream(in.files[0]) &&
      FindAnyCase(in.files[0], "", &entries, &error)) {
    return TestMedia(in.files[0]);  // a folder
  }
  if (!CheckNamesOnce(in.files, {}, &error)) return UsageError(error);
  return TestPackFiles(in.files, nullptr) ? ExitSuccess : ExitData;
}

int List(const Invocation& in) {
  if (in.files.empty()) return UsageError("list needs at least one PACKED file");
  std::string error;
  if (!CheckNamesOnce(in.files, {}, &error)) return UsageError(error);
  int status = ExitSuccess;
  for (const std::string& path : in.files) {
    std::string name = DisplayName(path, true);
    std::vector<uint8_t> packed;
    std::vector<ListedRecord> records;
    if (!ReadWholeFile(path, &packed, &error)) {
      status = DataError(error);
      continue;
    }
    bool ok = ListRecords(packed, &records, &error);
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
    printf(
        "  %zu records (%u check, %u compressed, %zu stored): %zu bytes packed, %llu expanded, ratio %.4f\n",
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
    } else if (ok) {
      printf("  no check record: damage to this file goes unnoticed\n");
    }
    if (!ok) {
      fflush(stdout);
      status = DataError(name + ": " + error);
    }
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
  const char* names[] = {"INSTALL.SC_", "INSTALL.EX_"};
  for (int i = 0; i < 2; ++i) {
    bool found = false;
    if (!EntryAnyCase(media, names[i], &folder->packFiles[i], &found, error)) return false;
    if (!found) {
      *error = "'" + media + "' has no " + names[i] + " (in any letter case)";
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
  return ReadWholeFile(folder.setup, &image, error) && ReadSeal(image, folder.setup, seal, error);
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

int TestMedia(const std::string& media) {
  MediaFolder folder;
  SealInfo seal;
  std::string error;
  if (!FindMediaFiles(media, &folder, &error) || !ReadMediaSeal(folder, &seal, &error))
    return DataError(error);
  std::vector<SealedPackFile> packed;
  if (!TestPackFiles(folder.packFiles, &packed)) return ExitData;
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
  const std::vector<SealedPackFile>& packed = expansion.seals;
  std::vector<uint8_t> image;
  size_t failed = 0;
  Destination destination;
  if (!ReadAndExpand(folder.packFiles, nullptr, &expansion, &failed, &error) ||
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
  size_t failed = 0;
  bool whole = ReadAndExpand(sources, planned ? &destinations : nullptr, &expansion, &failed, &error) &&
               CheckMediaSeal(folder, seal, expansion.seals, &error);
  if (!whole || !planned) {
    expansion.written.clear();  // the temporaries go before their folder
    if (madeFolder) RemoveFolder(out);
    return DataError(whole ? planError : error + " (nothing was written)");
  }
  if (!CommitAll(&expansion, &error)) return DataError(error);
  for (int i = 0; i < 2; ++i) {
    printf("%s -> %s: %s\n", sources[i].c_str(), targets[i].c_str(),
           Verified(expansion.checks[i], expansion.checks[i].expandedSize).c_str());
  }
  return ExitSuccess;
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

int Media(const Invocation& in, const char* programPath) {
  if (!in.files.empty()) return UsageError("media takes no file names ('" + in.files[0] + "'); see --help");
  if (in.script.empty() || in.installer.empty() || in.outputDir.empty()) {
    return UsageError("media needs --script FILE, --installer FILE and -o DIR");
  }
  if (!in.setup.empty() && in.noSetup) return UsageError("media takes --setup EXE or --no-setup, not both");
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
  printf("verified: both expand to their sources%s\n",
         in.withCheck ? ", and each matches its check record (size and CRC-32)" : " (no check records)");
  return ExitSuccess;
}

}  // namespace

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
  return Media(in, programPath);
}
