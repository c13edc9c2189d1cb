// setuppack media: the two pack files of a media folder, with a copy of
// setup.exe sealed for them, or one program that carries them.
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <memory>

#include "commands/progress_line.h"
#include "cli/status.h"
#include "commands/commands.h"
#include "commands/file_pairs.h"
#include "crc32.h"
#include "encode/segments.h"
#include "expand/expand.h"
#include "media/branding.h"
#include "media/installer_check.h"
#include "media/launcher_settings.h"
#include "media/media_folder.h"
#include "media/seal_image.h"
#include "media/single_file.h"
#include "platform/file_io.h"
#include "platform/size_limit.h"

#ifndef SETUPPACK_DATA_FROM_BIN
#define SETUPPACK_DATA_FROM_BIN "../share/setuppack"
#endif

namespace {

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
    if ((uint64_t)data->size() >= SizeLimit()) {
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

// Expands pack files that media wrote (their scratch copies) through one
// decoder state, and compares each expansion with the size and CRC-32 of
// the bytes it was packed from: false with *error when one is damaged,
// *same false when one expands to other bytes.
bool VerifyMedia(std::vector<std::unique_ptr<MediaOutput>>* outputs,
                 const std::vector<PackStreamResult>& packed, bool* same, std::string* error) {
  std::unique_ptr<PackExpander> expander(new PackExpander());
  ResetDecoderState(&expander->decoder);
  for (size_t i = 0; i < outputs->size(); ++i) {
    PackedSource source;
    CrcSink expanded;
    PackCheck check;
    if (!source.OpenScratch(&(*outputs)[i]->copy, packed[i].packedSize, error) ||
        !ExpandPackFile(expander.get(), &source, &expanded, &check, error)) {
      return false;
    }
    *same = *same && expanded.size == packed[i].expandedSize && expanded.crc == packed[i].crc;
  }
  return true;
}

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
    ProgressLine progress(RedrawsProgress(in), in.verbose, shown[i], sources[i]->size());
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
    progress.Finish(result.expandedSize, result.packedSize);
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
  if (in.quiet) return ExitSuccess;
  printf(
      "%s: %zu bytes: setup.exe copied from %s (%s), %zu bytes, then INSTALL.SC_ (%zu -> %zu bytes) and "
      "INSTALL.EX_ (%zu -> %zu bytes), sealed for them\n",
      in.outputDir.c_str(), program.size(), setup.c_str(), how.c_str(), setupData.size(), script.size(),
      packed[0].size(), installer.size(), packed[1].size());
  PrintVerified(in);
  return ExitSuccess;
}

}  // namespace

int Media(const Invocation& in, const char* programPath) {
  if (!in.files.empty()) return UsageError("media takes no file names ('" + in.files[0] + "'); see --help");
  if (in.script.empty() || in.installer.empty() || in.outputDir.empty()) {
    return UsageError("media needs --script FILE, --installer FILE and -o DIR");
  }
  if (!in.setup.empty() && in.noSetup) return UsageError("media takes --setup EXE or --no-setup, not both");
  std::string switchError;
  if (in.noSetup && (in.exitCodes || !in.silentSwitches.empty())) {
    return UsageError(
        "media --no-setup takes no --exit-code or --silent-switch: they are setup.exe's settings");
  }
  if (!CheckSilentSwitches(in.silentSwitches, &switchError)) return UsageError(switchError);
  if (in.noSetup && in.branding.Any()) {
    return UsageError(
        "media --no-setup writes no setup.exe: --product-name, --icon, --strings and the other "
        "options of its version information need one");
  }
  if (in.singleFile && (in.noSetup || !in.withSeal)) {
    return UsageError(std::string("media --single-file takes no ") +
                      (in.noSetup ? "--no-setup" : "--no-seal") +
                      ": the program is setup.exe sealed for the pack files it carries");
  }
  // Windows starts a program by its .exe (Explorer shows any other as a
  // file to open with something).
  std::string suffix = in.outputDir.size() >= 4 ? in.outputDir.substr(in.outputDir.size() - 4) : "";
  for (char& c : suffix) c = (char)tolower((unsigned char)c);
  if (in.singleFile && suffix != ".exe" && !IsStandardStream(in.outputDir)) {
    std::string problem = "-o '" + in.outputDir + "' does not end in .exe, which Windows starts a program by";
    if (in.strict) return DataError("media: " + problem + " (--strict; nothing was written)");
    if (!in.quiet) fprintf(stderr, "setuppack: warning: %s (--strict refuses it)\n", problem.c_str());
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
  // The vendor's resources go into the copy before it is sealed, and any
  // refusal comes before anything is written.
  Branding branding;
  if (in.branding.Any() && (!PrepareBranding(in.branding, &branding, &error) ||
                            !ApplyBranding(&setupData, setup, branding, &error))) {
    return DataError("media: " + error + " (nothing was written)");
  }
  // setup.exe's settings go into its image before it is sealed.
  LauncherSettings settings;
  settings.exitCodes = in.exitCodes;
  settings.silentSwitches = in.silentSwitches;
  if (!setup.empty() && !ApplyMediaSettings(&setupData, setup, settings, &error)) {
    return DataError("media: " + error + " (nothing was written)");
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
  // A folder made here goes again when media fail (it is empty then: the
  // writers below remove their temporaries first).
  struct MadeFolder {
    std::string path;
    bool made = false, keep = false;
    ~MadeFolder() {
      if (made && !keep) RemoveFolder(path);
    }
  } folder{in.outputDir};
  if (!MakeFolder(in.outputDir, &error, &folder.made)) return DataError(error);
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
  bool settingsGiven = in.exitCodes || !in.silentSwitches.empty();
  if (setupInPlace) targets.pop_back();
  std::vector<Destination> destinations;
  if (!PlanAll(targets, in.force, &destinations, &error)) return DataError("media: " + error);
  // A setup.exe already in DIR is sealed where it is: its old seal would
  // refuse the new pack files.
  if (setupInPlace && (sealing || settingsGiven)) {
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
    ProgressLine progress(RedrawsProgress(in), in.verbose, shown[i],
                          sources[i]->SizeKnown() ? sources[i]->Size() : 0);
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
    progress.Finish(packed[i].expandedSize, packed[i].packedSize);
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

  if (in.quiet) return ExitSuccess;
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
  folder.keep = true;
  return ExitSuccess;
}
