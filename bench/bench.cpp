// setup_bench: packed size and speed of setuppack beside gzip -9 and xz -9,
// the unpack speed of the decoder that setup.exe uses beside memcpy and
// gzip -d, and that decoder beside the one it replaced (kept for the tests),
// all on one corpus in one run. Prints figures; asserts nothing.
//
//   setup_bench [--repeat N] [--rounds N] [--decoders] [FILE...]
//
// --rounds: interleaved rounds of the two decoders (21); --decoders: only those.
//
// Without files it uses the standard corpus below (present once Wine is
// installed), each file packed on its own, as media would hold it.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "block_decoder.h"
#include "encode/encoder.h"
#include "platform/file_io.h"
#include "legacy_decoder.h"
#include "expand/records.h"
#include "record_reader.h"
#include "seal.h"
#include "media/seal_image.h"

namespace {

const char* const StandardCorpus[] = {
    "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/advpack.dll",
    "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/attrib.exe",
    "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/cabinet.dll",
    "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/notepad.exe",
    "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/regedit.exe",
    "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/version.dll",
    "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/wordpad.exe",
    "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/xcopy.exe",
    "/usr/share/wine/wine.inf",
    "/usr/share/common-licenses/GPL-2",
};

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The processor time of this thread: what the decoders compare by, so that
// time the thread waits for a core shared with other work does not count.
double ThreadSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

struct CorpusFile {
  std::string path;
  std::vector<uint8_t> data;
};

// --- setuppack ---------------------------------------------------------------

struct PackFigures {
  size_t packed = 0;
  double packSeconds = 1e9;
  double unpackSeconds = 1e9;           // files as setuppack writes them, check record verified
  double uncheckedUnpackSeconds = 1e9;  // the same records without their check records
  double sealedUnpackSeconds = 1e9;     // as setuppack writes them, and hashed and matched as a seal
};

struct MemorySource {
  const std::vector<uint8_t>* data;
  size_t at;
  uint8_t* out;
  size_t capacity;
  size_t written;
  Sha256State* sealHash;  // as setup.exe hashes a sealed pack file: what it reads, as it reads it
};

uint32_t ReadMemory(void* c, uint8_t* buffer, uint32_t size) {
  MemorySource* s = static_cast<MemorySource*>(c);
  uint32_t n = (uint32_t)std::min<size_t>(size, s->data->size() - s->at);
  memcpy(buffer, s->data->data() + s->at, n);
  s->at += n;
  if (s->sealHash) Sha256Update(s->sealHash, buffer, n);
  return n;
}

uint32_t WriteMemory(void* c, const uint8_t* buffer, uint32_t size) {
  MemorySource* s = static_cast<MemorySource*>(c);
  size_t room = s->capacity - s->written;
  uint32_t n = size < room ? size : (uint32_t)room;  // a short write fails the record
  memcpy(s->out + s->written, buffer, n);
  s->written += n;
  return n;
}

PackFigures MeasureSetuppack(const std::vector<CorpusFile>& corpus, const EncoderOptions& options,
                             int repeat) {
  PackFigures f;
  std::vector<std::vector<uint8_t>> packed(corpus.size());
  for (int r = 0; r < repeat; ++r) {
    double start = Now();
    for (size_t i = 0; i < corpus.size(); ++i) {
      auto state = std::make_unique<EncoderState>();
      state->options = options;
      packed[i].clear();
      PackFile(state.get(), corpus[i].data.data(), corpus[i].data.size(), true, &packed[i], nullptr);
    }
    f.packSeconds = std::min(f.packSeconds, Now() - start);
  }
  for (const auto& p : packed) f.packed += p.size();
  // The same files without the check record: what --no-check writes.
  std::vector<std::vector<uint8_t>> unchecked(corpus.size());
  for (size_t i = 0; i < corpus.size(); ++i) {
    size_t checkRecord = PackHeaderSize + ReadLE32(&packed[i][8]);
    unchecked[i].assign(packed[i].begin() + checkRecord, packed[i].end());
  }

  // The seal entries of the files as setuppack writes them.
  std::vector<std::vector<uint8_t>> seals(corpus.size());
  for (size_t i = 0; i < corpus.size(); ++i) {
    SealedPackFile sealed = SealOf(packed[i]);
    seals[i].resize(SealEntrySize);
    WriteLE32(&seals[i][0], (uint32_t)sealed.length);
    WriteLE32(&seals[i][4], (uint32_t)(sealed.length >> 32));
    memcpy(&seals[i][8], sealed.digest, Sha256DigestSize);
  }

  // Unpack through the record loop and block decoder that setup.exe runs,
  // into memory, and check every byte; with the check record, with it and a
  // seal, and without either, in turn, so that all see the same state of
  // the machine.
  std::vector<uint8_t> input(BlockBufferSize), output(BlockBufferSize);
  enum Mode { Checked, Sealed, Unchecked };
  for (int r = 0; r < repeat; ++r) {
    for (Mode mode : {Checked, Sealed, Unchecked}) {
      const std::vector<std::vector<uint8_t>>& files = mode == Unchecked ? unchecked : packed;
      double total = 0;
      for (size_t i = 0; i < corpus.size(); ++i) {
        std::vector<uint8_t> out(corpus[i].data.size() + 1);
        auto decoder = std::make_unique<DecoderState>();
        Sha256State sealHash;
        MemorySource source = {&files[i], 0, out.data(), out.size(), 0, mode == Sealed ? &sealHash : nullptr};
        RecordIo io = {&source, ReadMemory, WriteMemory, nullptr};
        char error[256];
        PackCheck check;
        double start = Now();
        Sha256Init(&sealHash);
        int ok = ReadRecords(decoder.get(), &io, (uint32_t)files[i].size(), input.data(), output.data(),
                             nullptr, error, sizeof error, nullptr, &check);
        if (ok && mode == Sealed && !MatchesSealEntry(&sealHash, seals[i].data())) {
          snprintf(error, sizeof error, "the seal does not match");
          ok = 0;
        }
        total += Now() - start;
        if (!ok || check.present != (mode == Unchecked ? 0u : 1u) ||
            source.written != corpus[i].data.size() ||
            memcmp(out.data(), corpus[i].data.data(), source.written) != 0) {
          fprintf(stderr, "setup_bench: %s does not round-trip: %s\n", corpus[i].path.c_str(),
                  ok ? "" : error);
          exit(1);
        }
      }
      double& best = mode == Checked  ? f.unpackSeconds
                     : mode == Sealed ? f.sealedUnpackSeconds
                                      : f.uncheckedUnpackSeconds;
      best = std::min(best, total);
    }
  }
  return f;
}

// --- today's decoder against the one before it ----------------------------

// MB/s of the two decoders over the same records, round by round: the rounds
// alternate which decoder goes first, so both see the same state of the
// machine; each round's ratio is taken from that round alone.
struct DecoderFigures {
  std::vector<double> legacy, current, ratio;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

DecoderFigures CompareDecoders(const std::vector<CorpusFile>& corpus, int rounds) {
  // Every file packed with the default setting; its data records decoded in
  // order through a fresh state, as the record loop would, into one buffer.
  struct Block {
    size_t file;
    const uint8_t* body;
    uint32_t packedSize, expandedSize;
  };
  std::vector<std::vector<uint8_t>> packed(corpus.size());
  std::vector<Block> blocks;
  size_t bytes = 0;
  for (size_t i = 0; i < corpus.size(); ++i) {
    auto state = std::make_unique<EncoderState>();
    PackFile(state.get(), corpus[i].data.data(), corpus[i].data.size(), false, &packed[i], nullptr);
    std::vector<ListedRecord> records;
    std::string error;
    if (!ListRecords(packed[i], &records, &error)) abort();
    for (const ListedRecord& r : records) {
      if (r.packedSize == 0) continue;
      blocks.push_back({i, packed[i].data() + r.offset + PackHeaderSize, r.packedSize, r.expandedSize});
      bytes += r.expandedSize;
    }
  }
  std::vector<uint8_t> output(BlockBufferSize);
  auto legacyState = std::make_unique<legacy::DecoderState>();
  auto state = std::make_unique<DecoderState>();
  // Both decoders' output is checked against the corpus outside the timing.
  auto run = [&](bool old, bool check) {
    size_t file = (size_t)-1, at = 0;
    double start = ThreadSeconds();
    for (const Block& b : blocks) {
      if (b.file != file) {
        file = b.file;
        at = 0;
        if (old) {
          legacy::ResetDecoderState(legacyState.get());
        } else {
          ResetDecoderState(state.get());
        }
      }
      uint32_t r =
          old ? legacy::DecodeBlock(legacyState.get(), output.data(), b.expandedSize, b.body, b.packedSize)
              : DecodeBlock(state.get(), output.data(), b.expandedSize, b.body, b.packedSize);
      if (check && (r != DecodeOk || memcmp(output.data(), corpus[file].data.data() + at, b.expandedSize))) {
        fprintf(stderr, "setup_bench: the %s decoder differs on %s\n", old ? "old" : "new",
                corpus[file].path.c_str());
        exit(1);
      }
      at += b.expandedSize;
    }
    return bytes / 1e6 / (ThreadSeconds() - start);
  };
  run(true, true);
  run(false, true);
  DecoderFigures f;
  for (int r = 0; r < rounds; ++r) {
    double a, b;
    if (r % 2 == 0) {
      a = run(true, false);
      b = run(false, false);
    } else {
      b = run(false, false);
      a = run(true, false);
    }
    f.legacy.push_back(a);
    f.current.push_back(b);
    f.ratio.push_back(b / a);
  }
  return f;
}

void PrintSpread(const char* name, const std::vector<double>& v, const char* unit) {
  printf("  %-28s median %6.2f %s  (min %.2f, max %.2f)\n", name, Median(v), unit,
         *std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()));
}

// --- bounds of the format ----------------------------------------------------

// Two figures that show how far the format itself lets the default setting go:
//  - oracleBytes: the records of its parse as a code that knew each compressed
//    record's symbol counts for free would write them (the counts' entropy,
//    12 bits per match distance, the 16-byte headers; stored records as they
//    are). No code for these symbols can be shorter; the format's adaptive
//    code has to learn the counts as it goes.
//  - modelSeconds: the code-model updates of every record alone (UpdateTree,
//    as the decoder runs it), replayed from the symbol log with no bit
//    reading and no output. Every decoder must make these updates in order.
struct FormatBounds {
  double oracleBytes = 0;
  double modelSeconds = 1e9;
};

FormatBounds MeasureBounds(const std::vector<CorpusFile>& corpus, int repeat) {
  FormatBounds b;
  std::vector<std::vector<uint16_t>> logs(corpus.size());
  for (size_t i = 0; i < corpus.size(); ++i) {
    auto state = std::make_unique<EncoderState>();
    state->symbolLog = &logs[i];
    std::vector<uint8_t> packed;
    std::vector<RecordInfo> records;
    PackBuffer(state.get(), corpus[i].data.data(), corpus[i].data.size(), &packed, &records, nullptr);
    for (const RecordInfo& r : records) b.oracleBytes += PackHeaderSize + (r.packedSize ? 0 : r.expandedSize);
  }
  for (const auto& log : logs) {
    uint32_t counts[SymbolCount] = {};
    uint32_t symbols = 0, matches = 0;
    for (uint16_t s : log) {
      if (s != SymbolLogBlockEnd) {
        ++counts[s];
        ++symbols;
        matches += s >= FirstMatchSymbol && s != RunSymbol;
        continue;
      }
      double bits = DistanceBits * (double)matches;
      for (uint32_t c : counts) {
        if (c) bits += c * log2((double)symbols / c);
      }
      b.oracleBytes += bits / 8;
      memset(counts, 0, sizeof counts);
      symbols = matches = 0;
    }
  }
  for (int r = 0; r < repeat; ++r) {
    // Every record's symbols end with the mark, where the next record starts afresh.
    CodeTree tree;
    double start = Now();
    ResetTree(&tree);
    for (const auto& log : logs) {
      for (uint16_t s : log) {
        if (s == SymbolLogBlockEnd) {
          ResetTree(&tree);
        } else {
          UpdateTree(&tree, s);
        }
      }
    }
    b.modelSeconds = std::min(b.modelSeconds, Now() - start);
    if (tree.NodeFreq[RootNode] == 0) abort();  // keeps the replay from being optimised away
  }
  return b;
}

// --- peers ---------------------------------------------------------------------

// Runs a shell command, returns the number of bytes it printed and its time.
size_t RunCounting(const std::string& command, double* seconds) {
  double start = Now();
  *seconds = 0;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return 0;
  static char buffer[1 << 16];
  size_t total = 0, n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) total += n;
  pclose(pipe);
  *seconds = Now() - start;
  return total;
}

bool HaveCommand(const char* name) {
  return system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// One process packs every file (each into a member of its own, as if packed
// alone) and one process unpacks them all; the cost of starting the tool
// (measured on an empty input) is taken off, so that only the work counts.
PackFigures MeasurePeer(const std::vector<CorpusFile>& corpus, const char* tool, const char* level,
                        const std::string& scratch, int repeat) {
  std::string files;
  for (const auto& file : corpus) files += " '" + file.path + "'";
  std::string packedPath = scratch + "/" + tool + ".packed";
  // What starting the tool costs by itself, taken off its times.
  double startup = 1e9;
  for (int r = 0; r < repeat + 2; ++r) {
    double seconds = 0;
    RunCounting(std::string(tool) + " -c /dev/null", &seconds);
    startup = std::min(startup, seconds);
  }
  PackFigures f;
  for (int r = 0; r < repeat; ++r) {
    double seconds = 0;
    f.packed = RunCounting(std::string(tool) + " " + level + " -c" + files, &seconds);
    f.packSeconds = std::min(f.packSeconds, seconds - startup);
  }
  system((std::string(tool) + " " + level + " -c" + files + " > " + packedPath).c_str());
  for (int r = 0; r < repeat; ++r) {
    double seconds = 0;
    RunCounting(std::string(tool) + " -d -c " + packedPath, &seconds);
    f.unpackSeconds = std::min(f.unpackSeconds, seconds - startup);
  }
  return f;
}

double MemcpySeconds(const std::vector<CorpusFile>& corpus, int repeat) {
  double best = 1e9;
  for (int r = 0; r < repeat * 10; ++r) {
    double total = 0;
    for (const auto& file : corpus) {
      std::vector<uint8_t> copy(file.data.size());
      double start = Now();
      memcpy(copy.data(), file.data.data(), file.data.size());
      total += Now() - start;
      if (!file.data.empty() && copy.back() != file.data.back()) abort();
    }
    best = std::min(best, total);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  int repeat = 3;
  int rounds = 21;
  bool decodersOnly = false;  // only the two decoders side by side
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--repeat") && i + 1 < argc) {
      repeat = std::max(1, atoi(argv[++i]));
    } else if (!strcmp(argv[i], "--rounds") && i + 1 < argc) {
      rounds = std::max(1, atoi(argv[++i]));
    } else if (!strcmp(argv[i], "--decoders")) {
      decodersOnly = true;
    } else if (!strcmp(argv[i], "--help")) {
      printf("usage: setup_bench [--repeat N] [--rounds N] [--decoders] [FILE...]\n");
      return 0;
    } else {
      paths.push_back(argv[i]);
    }
  }
  bool standard = paths.empty();
  if (standard) paths.assign(std::begin(StandardCorpus), std::end(StandardCorpus));

  std::vector<CorpusFile> corpus;
  size_t bytes = 0;
  for (const auto& p : paths) {
    CorpusFile f{p, {}};
    std::string error;
    if (!ReadWholeFile(p, &f.data, &error)) {
      fprintf(stderr, "setup_bench: %s (install wine64 for the standard corpus)\n", error.c_str());
      return 1;
    }
    bytes += f.data.size();
    corpus.push_back(std::move(f));
  }
  char scratch[] = "/tmp/setup-bench-XXXXXX";
  if (!mkdtemp(scratch)) return 1;

  printf("corpus: %s, %zu files, %zu bytes, each packed on its own; best of %d runs\n",
         standard ? "standard (Wine binaries, wine.inf, GPL-2)" : "given files", corpus.size(), bytes,
         repeat);

  DecoderFigures decoders = CompareDecoders(corpus, rounds);
  printf("\ndecoders alone, data records in memory, %d interleaved rounds:\n", rounds);
  PrintSpread("before (kept for the tests)", decoders.legacy, "MB/s");
  PrintSpread("now (setup.exe, setuppack)", decoders.current, "MB/s");
  PrintSpread("now / before, each round", decoders.ratio, "x");
  if (decodersOnly) return 0;

  EncoderOptions normal, fast, best;
  fast.chainLimit = 32;
  fast.parsePasses = 1;
  best.chainLimit = 4096;
  best.parsePasses = 5;
  best.splitBlocks = true;
  struct Row {
    const char* name;
    PackFigures f;
  };
  std::vector<Row> rows = {{"setuppack", MeasureSetuppack(corpus, normal, repeat)},
                           {"setuppack --fast", MeasureSetuppack(corpus, fast, repeat)},
                           {"setuppack --best", MeasureSetuppack(corpus, best, repeat)}};
  PackFigures gzip, xz;
  if (HaveCommand("gzip"))
    rows.push_back({"gzip -9", gzip = MeasurePeer(corpus, "gzip", "-9", scratch, repeat)});
  if (HaveCommand("xz")) rows.push_back({"xz -9", xz = MeasurePeer(corpus, "xz", "-9", scratch, repeat)});
  system((std::string("rm -rf ") + scratch).c_str());
  double memcpySeconds = MemcpySeconds(corpus, repeat);
  FormatBounds bounds = MeasureBounds(corpus, repeat);

  double mb = bytes / 1e6;
  printf("\n%-18s %10s %7s %9s %10s %12s\n", "packer", "packed", "ratio", "vs gzip", "pack MB/s",
         "unpack MB/s");
  for (const Row& r : rows) {
    printf("%-18s %10zu %7.4f %9s %10.2f %12.1f\n", r.name, r.f.packed, (double)r.f.packed / bytes,
           gzip.packed ? (std::to_string((double)r.f.packed / gzip.packed).substr(0, 5)).c_str() : "-",
           mb / r.f.packSeconds, mb / r.f.unpackSeconds);
  }
  printf("%-18s %10s %7s %9s %10s %12.1f\n", "memcpy", "", "", "", "", mb / memcpySeconds);

  const PackFigures& byDefault = rows[0].f;
  printf("\ncheck record (default setting, same run):\n");
  printf("  unpack with the check verified  : %.1f MB/s\n", mb / byDefault.unpackSeconds);
  printf("  unpack of the same records alone: %.1f MB/s  (%+.1f %% with the check)\n",
         mb / byDefault.uncheckedUnpackSeconds,
         100.0 * (byDefault.uncheckedUnpackSeconds / byDefault.unpackSeconds - 1.0));
  printf("\nseal (default setting, same run; each file hashed as it is read and matched at its end):\n");
  printf("  unpack of sealed files  : %.1f MB/s\n", mb / byDefault.sealedUnpackSeconds);
  printf("  unpack of the same files: %.1f MB/s  (%+.1f %% sealed)\n", mb / byDefault.unpackSeconds,
         100.0 * (byDefault.unpackSeconds / byDefault.sealedUnpackSeconds - 1.0));

  if (gzip.packed) {
    const PackFigures& s = rows[0].f;
    double sizeRatio = (double)s.packed / gzip.packed;
    double packSpeed = (mb / s.packSeconds) / (mb / gzip.packSeconds);
    double unpackSpeed = (mb / s.unpackSeconds) / (mb / gzip.unpackSeconds);
    printf("\ntargets (default setting against gzip, same run):\n");
    printf("  packed size   <= 1.15 x gzip -9 (format core)   : %.4f  %s\n", sizeRatio,
           sizeRatio <= 1.15 ? "met" : "NOT met");
    printf("  packed size   <= 1.08 x gzip -9 (best-in-class) : %.4f  %s\n", sizeRatio,
           sizeRatio <= 1.08 ? "met" : "NOT met");
    printf("  pack speed    >= 1.00 x gzip -9                 : %.2f    %s\n", packSpeed,
           packSpeed >= 1.0 ? "met" : "NOT met");
    printf("  unpack speed  >= 0.60 x gzip -d                 : %.2f    %s\n", unpackSpeed,
           unpackSpeed >= 0.6 ? "met" : "NOT met");
    double gzipMBs = mb / gzip.unpackSeconds;
    printf("  decoders alone (medians above) against gzip -d  : %.2f now, %.2f before\n",
           Median(decoders.current) / gzipMBs, Median(decoders.legacy) / gzipMBs);
    printf("  best setting: %.4f x gzip -9\n", (double)rows[2].f.packed / gzip.packed);
    printf("\nbounds of the format (default parse, same run):\n");
    printf("  oracle code of the records      : %.0f bytes = %.4f x gzip -9\n", bounds.oracleBytes,
           bounds.oracleBytes / gzip.packed);
    printf("  code-model updates alone        : %.1f MB/s  = %.2f x gzip -d\n", mb / bounds.modelSeconds,
           (mb / bounds.modelSeconds) / (mb / gzip.unpackSeconds));
  }
  return 0;
}
