// setuppack at scale: the same packed bytes for any number of threads, read
// back by every decoder; inputs of 4 GiB refused before they are read; full
// disks and scratch files.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <fstream>
#include <random>
#include <regex>

#include "encode/encoder.h"
#include "expand/expand.h"
#include "expand/records.h"
#include "encode/segments.h"
#include "reference_decoder.h"
#include "setuppack_runner.h"

namespace {

// Random bytes broken by long runs of one byte (up to 20,000): run tokens,
// stored blocks and blocks of a few tokens, across segment ends.
std::vector<uint8_t> RandomWithLongRuns(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> data;
  while (data.size() < size) {
    if (rng() % 3 == 0) {
      data.insert(data.end(), rng() % 20000, (uint8_t)rng());
    } else {
      for (uint32_t n = rng() % 30000; n > 0; --n) data.push_back((uint8_t)(rng() % 7 == 0 ? 'x' : rng()));
    }
  }
  data.resize(size);
  return data;
}

std::vector<uint8_t> Corpus() {
  std::vector<uint8_t> data;
  for (const char* name : {"wordpad.exe", "regedit.exe", "notepad.exe", "cabinet.dll"}) {
    std::vector<uint8_t> file = RealBinary(name);
    data.insert(data.end(), file.begin(), file.end());
  }
  return data;
}

class MemoryOutput final : public PackOutput {
 public:
  bool Write(const uint8_t* data, size_t size, std::string*) override {
    bytes.insert(bytes.end(), data, data + size);
    return true;
  }
  std::vector<uint8_t> bytes;
};

// Packs files in order through one encoder state with the given threads.
std::vector<std::vector<uint8_t>> PackWithThreads(const std::vector<std::vector<uint8_t>>& files,
                                                  const EncoderOptions& encoder, unsigned threads) {
  EncoderState state;
  state.options = encoder;
  std::vector<std::vector<uint8_t>> packed;
  for (const std::vector<uint8_t>& file : files) {
    MemoryInput input(file, 77777);  // short reads of odd sizes, as pipes give them
    MemoryOutput output;
    PackStreamOptions options;
    options.threads = threads;
    PackStreamResult result;
    std::string error;
    EXPECT_TRUE(PackStream(&state, &input, &output, options, &result, &error)) << error;
    EXPECT_EQ(result.packedSize, output.bytes.size());
    packed.push_back(output.bytes);
  }
  return packed;
}

// Expands pack files with the decoder written from the format alone, through
// one ring, as setup.exe meets them.
std::vector<std::vector<uint8_t>> ReferenceExpand(const std::vector<std::vector<uint8_t>>& packed) {
  ReferenceDecoder reference;
  std::vector<std::vector<uint8_t>> expanded;
  for (const std::vector<uint8_t>& file : packed) {
    std::vector<ListedRecord> records;
    std::string error;
    EXPECT_TRUE(ListRecords(file, &records, &error)) << error;
    expanded.emplace_back();
    for (const ListedRecord& r : records) {
      const uint8_t* body = file.data() + r.offset + PackHeaderSize;
      if (r.packedSize == 0) {
        expanded.back().insert(expanded.back().end(), body, body + r.expandedSize);
      } else if (r.expandedSize > 0) {
        std::vector<uint8_t> block = reference.Decode(body, r.packedSize, r.expandedSize);
        expanded.back().insert(expanded.back().end(), block.begin(), block.begin() + r.expandedSize);
      }
    }
  }
  return expanded;
}

}  // namespace

TEST(PackThreads, SameBytesForAnyThreadCountAndEveryDecoderExpandsThem) {
  EncoderOptions fast, best;
  fast.chainLimit = 32;
  fast.parsePasses = 1;
  best.chainLimit = 4096;
  best.parsePasses = 5;
  best.splitBlocks = true;
  struct Case {
    const char* what;
    std::vector<std::vector<uint8_t>> files;  // packed in order through one state
    EncoderOptions encoder;
  } cases[] = {
      {"corpus", {Corpus()}, EncoderOptions()},
      {"random data with long runs, two files",
       {RandomWithLongRuns(3 << 20, 5), RandomWithLongRuns(1500000, 6)},
       EncoderOptions()},
      {"a script and the installer that repeats it, --fast",
       {MixedBytes(300000, 7), MixedBytes(2500000, 7)},
       fast},
      {"mixed data, --best", {MixedBytes(2300000, 8)}, best},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::vector<uint8_t>> one = PackWithThreads(c.files, c.encoder, 1);
    for (unsigned threads : {2u, 3u})
      EXPECT_TRUE(PackWithThreads(c.files, c.encoder, threads) == one) << threads;
    // The in-memory packer writes the same.
    EncoderState state;
    state.options = c.encoder;
    for (size_t i = 0; i < c.files.size(); ++i) {
      std::vector<uint8_t> packed;
      PackFile(&state, c.files[i].data(), c.files[i].size(), true, &packed, nullptr);
      EXPECT_TRUE(packed == one[i]) << i;
    }
    std::vector<std::vector<uint8_t>> expanded;
    std::string error;
    ASSERT_TRUE(ExpandPackedData(one, &expanded, nullptr, nullptr, &error)) << error;
    EXPECT_TRUE(expanded == c.files);
    EXPECT_TRUE(ReferenceExpand(one) == c.files);
  }
}

TEST_F(SetuppackTest, ThreadsOnTheCommandLine) {
  Write("in", RandomWithLongRuns(2500000, 9));
  ASSERT_EQ(Run("-T1 pack in one.pk").status, 0);
  for (const char* args : {"-T 2 pack in two.pk", "pack --threads=3 in three.pk", "pack -T0 -q in all.pk"}) {
    Result r = Run(args);
    EXPECT_EQ(r.status, 0) << args << r.output;
  }
  EXPECT_TRUE(Read("two.pk") == Read("one.pk"));
  EXPECT_TRUE(Read("three.pk") == Read("one.pk"));
  EXPECT_TRUE(Read("all.pk") == Read("one.pk"));
  for (const char* args : {"-T x pack in bad.pk", "-T 5000 pack in bad.pk", "unpack -T2 one.pk bad"}) {
    EXPECT_EQ(Run(args).status, 2) << args;
  }
  // -v on a pipe: the line of the file when it is done, no progress line
  // redrawn over itself; -q keeps it away.
  Result shown = Shell("\"$SP\" -v -f pack in - 2>&1 >/dev/null");
  EXPECT_EQ(shown.output.find("in: 2500000 -> "), 0u) << shown.output;
  EXPECT_EQ(shown.output.find('\r'), std::string::npos) << shown.output;
  EXPECT_EQ(Shell("\"$SP\" -v -q -f pack in - 2>&1 >/dev/null").output, "");
}

TEST_F(SetuppackTest, InputsOf4GiBAreRefusedBeforeTheyAreRead) {
  ASSERT_EQ(Shell("truncate -s 4G huge && truncate -s 4294967295 largest").status, 0);
  // setuppack.exe runs under Wine, whose reads are not its own: traced here only.
  bool traced = !getenv("SETUPPACK_UNDER_TEST") && Shell("command -v strace").status == 0;
  for (const char* command : {"pack huge huge.pk", "unpack huge huge.out", "test huge", "list huge"}) {
    // strace shows every read: none may take the file's descriptor.
    std::string line =
        std::string(traced ? "strace -qq -f -e trace=openat,read -o trace " : "") + "\"$SP\" " + command;
    Result r = Shell(line);
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_NE(r.output.find("huge: 4 GiB or larger (pack files measure sizes in 32 bits)"), std::string::npos)
        << r.output;
    if (!traced) continue;
    std::string trace = Shell("cat trace").output;
    std::smatch opened;
    ASSERT_TRUE(std::regex_search(trace, opened, std::regex("openat\\([^\\n]*\"huge\"[^\\n]*= ([0-9]+)")))
        << trace;
    std::string after = opened.suffix().str();
    EXPECT_EQ(after.find("read(" + opened[1].str() + ","), std::string::npos) << command << "\n" << after;
  }
  std::vector<std::string> left = {"huge", "largest"};
  if (traced) left.push_back("trace");
  EXPECT_EQ(Listing(), left);
}

TEST_F(SetuppackTest, AFullDiskDuringPackingLeavesNothing) {
  const std::string folder = Path("small");
  mkdir(folder.c_str(), 0777);
  if (mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=20m") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here (needs root): " << strerror(errno);
  }
  // Random data stays its size: more than the disk holds, and more than
  // the records held in memory, so the scratch file beside it fills it.
  Write("big", RandomBytes(24 << 20, 3));
  Write("small/old", {'o', 'l', 'd'});
  for (const char* args : {"pack big small/big.pk", "pack -T1 -f big small/old"}) {
    Result r = Run(args);
    EXPECT_EQ(r.status, 1) << args;
    // The name, then the system's reason (Windows words it its own way).
    if (getenv("SETUPPACK_UNDER_TEST")) {
      EXPECT_EQ(r.output.find("setuppack: "), 0u) << r.output;
      EXPECT_NE(r.output.find(": ", 11), std::string::npos) << r.output;
    } else {
      EXPECT_NE(r.output.find(": No space left on device\n"), std::string::npos) << r.output;
    }
    EXPECT_EQ(Listing("small"), std::vector<std::string>({"old"}));
    EXPECT_TRUE(Read("small/old") == std::vector<uint8_t>({'o', 'l', 'd'}));
  }
  struct statvfs disk;
  ASSERT_EQ(statvfs(folder.c_str(), &disk), 0);
  EXPECT_GE(disk.f_bfree + 2, disk.f_blocks);  // the scratch files are gone too
  umount(folder.c_str());
}

TEST_F(SetuppackTest, PackFilesExpandAsTheyAreReadFromFilesAndPipesAlike) {
  // Random data packs to stored records, whose bytes can be changed without
  // the block code noticing: only the check record's CRCs do.
  std::vector<uint8_t> data = RandomBytes(300000, 21);
  Write("a", data);
  ASSERT_EQ(Run("pack a a.pk").status, 0);
  std::vector<uint8_t> damaged = Read("a.pk");
  std::vector<ListedRecord> records;
  std::string error;
  ASSERT_TRUE(ListRecords(damaged, &records, &error)) << error;
  ASSERT_GE(records.size(), 5u);
  damaged[records[3].offset + PackHeaderSize + 100] ^= 1;
  Write("damaged.pk", damaged);
  const std::string differs =
      "record 3 at offset " + std::to_string(records[3].offset) + " is the first that differs";
  struct Case {
    const char* line;
    int status;
    const char* says;  // "" for the expected difference
  } cases[] = {
      {"\"$SP\" unpack a.pk - | cmp - a", 0, nullptr},
      {"cat a.pk | \"$SP\" unpack - - | cmp - a", 0, nullptr},
      {"\"$SP\" unpack damaged.pk out", 1, ""},
      {"cat damaged.pk | \"$SP\" unpack - out", 1, ""},
      {"cat damaged.pk | \"$SP\" test -", 1, ""},
      {"head -c 1000 a.pk | \"$SP\" unpack - out", 1,
       "standard input: unexpected end of file (record 1 at offset 68)"},
  };
  for (const Case& c : cases) {
    Result r = Shell(c.line);
    EXPECT_EQ(r.status, c.status) << c.line << "\n" << r.output;
    std::string says = !c.says ? "" : *c.says ? c.says : differs;
    EXPECT_NE(r.output.find(says), std::string::npos) << r.output;
    EXPECT_FALSE(Exists("out")) << c.line;
  }
  // Padding after the last record is taken as the records stream out: the
  // pipe has every byte, a note says so, and -q keeps the note away.
  std::vector<uint8_t> padded = Read("a.pk");
  padded.resize(padded.size() + 2048, 0);
  Write("padded.pk", padded);
  Result noted = Shell("cat padded.pk | \"$SP\" unpack - - | cmp - a");
  EXPECT_EQ(noted.status, 0) << noted.output;
  EXPECT_NE(noted.output.find("standard input: trailing padding ignored (2048 bytes"), std::string::npos)
      << noted.output;
  Result quiet = Shell("\"$SP\" -q unpack padded.pk - | cmp - a");
  EXPECT_EQ(quiet.status, 0) << quiet.output;
  EXPECT_EQ(quiet.output, "");
}

// A damaged pack file is read again whole to say what is wrong with it only
// while it is small: one of 80 MiB (stored records, then five bytes of
// garbage) fails with the streamed description, and the process stays far
// below the file's size.
TEST_F(SetuppackTest, ALargeDamagedPackFileIsNotReadWholeToDescribeIt) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "resident memory is not the program's own under AddressSanitizer";
#endif
  if (getenv("SETUPPACK_UNDER_TEST")) GTEST_SKIP() << "the peak of a process under Wine is Wine's";
  std::vector<uint8_t> record(PackHeaderSize + BlockBufferSize, 0x5A);
  memcpy(record.data(), "PACKDAT$", 8);     // magic
  WriteLE32(&record[8], 0);                 // packed size: stored
  WriteLE32(&record[12], BlockBufferSize);  // expanded size
  {
    FILE* file = fopen(Path("large.pk").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    for (uint32_t i = 0; i < 80u * 1024 * 1024 / BlockBufferSize; ++i)
      fwrite(record.data(), 1, record.size(), file);
    fwrite("junk!", 1, 5, file);
    fclose(file);
  }
  // The peak resident memory of the child, in KiB, from Python's rusage.
  Result r = Shell(
      "python3 -c 'import resource, subprocess, sys\n"
      "done = subprocess.run([sys.argv[1], \"test\", \"large.pk\"], capture_output=True)\n"
      "print(done.returncode, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)\n"
      "sys.stderr.write(done.stderr.decode())' \"$SP\"");
  unsigned status = 0, peakKiB = 0;
  ASSERT_EQ(sscanf(r.output.c_str(), "%u %u", &status, &peakKiB), 2) << r.output;
  EXPECT_EQ(status, 1u) << r.output;
  EXPECT_NE(r.output.find("large.pk: "), std::string::npos) << r.output;
  EXPECT_LT(peakKiB, 48u * 1024) << r.output;
}

TEST_F(SetuppackTest, MediaWritesTheSameFilesForAnyThreadCount) {
  Write("script", MixedBytes(200000, 31));
  Write("installer", RandomWithLongRuns(2300000, 32));
  for (const char* threads : {"1", "3"}) {
    Result r = Run(std::string("media -q -T ") + threads +
                   " --no-setup --script script --installer installer -o m" + threads);
    ASSERT_EQ(r.status, 0) << r.output;
  }
  for (const char* name : {"INSTALL.SC_", "INSTALL.EX_"}) {
    EXPECT_TRUE(Read(std::string("m1/") + name) == Read(std::string("m3/") + name)) << name;
  }
  Result r = Run("extract m3 out");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(Read("out/INSTALL.EXE") == Read("installer"));
}
