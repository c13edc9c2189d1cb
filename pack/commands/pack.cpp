// setuppack pack: SOURCE PACKED pairs, or SOURCE alone packed as its name
// with the last letter '_', each packed as it is read.
#include <memory>

#include "commands/progress_line.h"
#include "cli/status.h"
#include "commands/commands.h"
#include "commands/file_pairs.h"
#include "encode/segments.h"
#include "platform/file_io.h"

namespace {

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

// Packs one source into a destination writer that is open, through state,
// and closes it; false with *error when reading or writing fails.
bool PackInto(const Invocation& in, EncoderState* state, SourceFile* source, const std::string& name,
              DestinationWriter* writer, const Destination& destination, PackStreamResult* result,
              std::string* error) {
  ProgressLine progress(RedrawsProgress(in), in.verbose, name, source->SizeKnown() ? source->Size() : 0);
  PackStreamOptions options;
  options.threads = PackThreads(in);
  options.withCheck = in.withCheck;
  options.scratchFolder = ScratchFolderFor(destination);
  options.progress = ProgressLine::Report;
  options.progressContext = &progress;
  SourceInput input(source);
  WriterOutput output(writer);
  options.inputName = name;
  if (!PackStream(state, &input, &output, options, result, error) || !writer->Close(error)) return false;
  progress.Finish(result->expandedSize, result->packedSize);
  return true;
}

// INSTALL.EXE -> INSTALL.EX_, as the media of this format name their
// files: the last letter of the extension becomes '_' (a name without one
// gets "._").
bool PackedName(const std::string& source, std::string* name, std::string* error) {
  std::string base = BaseNameOf(source);
  if (base.empty() || base.back() == '_') {
    *error = "'" + source + "' already ends in '_', as a pack file does: give the name to pack it into";
    return false;
  }
  size_t dot = base.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == base.size()) {
    base += (base.back() == '.' ? "_" : "._");
  } else {
    base.back() = '_';
  }
  *name = WithBaseName(source, base);
  return true;
}

}  // namespace

int Pack(const Invocation& in) {
  // SOURCE PACKED pairs share one encoder state, in the order the decoder
  // will meet the files; files named alone (gzip's way) stand alone, each
  // expanded on its own.
  bool alone = in.filesOnly || in.toStdout || in.files.size() == 1;
  std::string error;
  std::vector<std::unique_ptr<SourceFile>> files;
  auto openSource = [&](const std::string& source) {
    files.emplace_back(new SourceFile());
    return files.back()->Open(source, &error);
  };
  // Every source is opened first (and one of 4 GiB or more refused), so
  // that a missing one is named before a destination that exists; each is
  // packed as it is read into its destination's temporary, and all are put
  // in place once every one is packed.
  if (alone || in.files.size() % 2 == 0) {
    for (size_t i = 0; i < in.files.size(); i += alone ? 1 : 2) {
      if (!openSource(in.files[i])) return DataError(error);
    }
  }
  std::vector<std::string> sources;
  std::vector<Destination> destinations;
  int planned = PlanPairs(in, "pack needs SOURCE PACKED pairs, or one SOURCE", "own source", PackedName,
                          &sources, &destinations);
  if (planned != ExitSuccess) return planned;
  for (const Destination& d : destinations) {
    // As gzip: packed data on a terminal is of no use to anyone.
    if (d.isTerminal && !in.force) {
      return DataError("packed data not written to a terminal ('" + d.name + "'); -f writes it anyway");
    }
  }
  // Pack files one after the other are no pack file.
  if (in.toStdout && sources.size() > 1) return UsageError("pack -c packs one SOURCE");
  if (files.size() != sources.size()) {  // the words were no valid shape above
    files.clear();
    for (const std::string& source : sources) {
      if (!openSource(source)) return DataError(error);
    }
  }
  std::unique_ptr<EncoderState> state;
  std::vector<std::unique_ptr<DestinationWriter>> writers;
  for (size_t i = 0; i < sources.size(); ++i) {
    if (!state || alone) {
      state = std::make_unique<EncoderState>();
      state->options = in.encoder;
    }
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
