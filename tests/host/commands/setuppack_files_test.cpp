// Where setuppack's output goes: kept files, pipes and devices written in
// place, standard input and output, full devices and file systems; and the
// test and extract commands on whole and damaged media.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/sysmacros.h>

#include "setuppack_runner.h"

namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class DestinationTest : public SetuppackTest {
 protected:
  void SetUp() override {
    SetuppackTest::SetUp();
    data_ = MixedBytes(30000, 11);
    Write("a.txt", data_);
    ASSERT_EQ(Run("pack a.txt a.pk").status, 0);
  }
  // No file of the folder is a leftover temporary one.
  void ExpectNoTemporaryFiles(const std::string& folder = ".") const {
    for (const std::string& name : Listing(folder)) EXPECT_FALSE(Contains(name, ".partial-")) << name;
  }
  std::vector<uint8_t> data_;
};

TEST_F(DestinationTest, ExistingFilesAreKeptUnlessForced) {
  Write("keep.bin", {'k', 'e', 'e', 'p'});
  Result r = Run("pack a.txt new.pk a.txt keep.bin");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.output, "'keep.bin' already exists; -f replaces it")) << r.output;
  EXPECT_TRUE(Read("keep.bin") == std::vector<uint8_t>({'k', 'e', 'e', 'p'}));
  EXPECT_FALSE(Exists("new.pk"));  // every destination is checked before any is written
  r = Run("unpack a.pk keep.bin");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Read("keep.bin") == std::vector<uint8_t>({'k', 'e', 'e', 'p'}));

  // -f after the command word; the replaced file keeps its permissions.
  chmod(Path("keep.bin").c_str(), 0600);
  r = Run("unpack a.pk keep.bin -f");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(Read("keep.bin") == data_);
  struct stat st;
  ASSERT_EQ(stat(Path("keep.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A link to a regular file counts as that file; -f replaces the file and
  // the link stays. A link that leads nowhere is refused, -f or not.
  Write("target", {1});
  ASSERT_EQ(symlink("target", Path("link").c_str()), 0);
  EXPECT_EQ(Run("unpack a.pk link").status, 1);
  EXPECT_TRUE(Read("target") == std::vector<uint8_t>({1}));
  ASSERT_EQ(Run("unpack -f a.pk link").status, 0);
  EXPECT_EQ(KindOf("link"), S_IFLNK);
  EXPECT_TRUE(Read("target") == data_);
  ASSERT_EQ(symlink("missing", Path("dangling").c_str()), 0);
  r = Run("-f unpack a.pk dangling");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.output, "leads nowhere")) << r.output;
  EXPECT_EQ(KindOf("dangling"), S_IFLNK);
  EXPECT_FALSE(Exists("missing"));
  ExpectNoTemporaryFiles();
}

TEST_F(DestinationTest, PipesAndDevicesAreWrittenInPlaceAndWriteErrorsFail) {
  if (mknod(Path("full").c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0 ||
      mknod(Path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
    GTEST_SKIP() << "mknod is not allowed here (needs root): " << strerror(errno);
  }
  ASSERT_EQ(symlink("null", Path("to-null").c_str()), 0);
  EXPECT_EQ(Run("pack a.txt null").status, 0);
  EXPECT_EQ(Run("unpack a.pk to-null").status, 0);
  EXPECT_EQ(KindOf("null"), S_IFCHR);
  EXPECT_EQ(KindOf("to-null"), S_IFLNK);

  Result r = Run("pack a.txt full");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.output, "setuppack: full: No space left on device")) << r.output;
  EXPECT_EQ(KindOf("full"), S_IFCHR);

  // A pipe: written through, once a reader comes, and still a pipe.
  ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0666), 0);
  r = Shell(WithPipeReader("pipe", "got", "\"$SP\" unpack a.pk pipe"));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(Read("got") == data_);
  EXPECT_EQ(KindOf("pipe"), S_IFIFO);

  // A reader that goes away ends setuppack as it ends gzip -dc: by SIGPIPE,
  // with no message, and with the temporaries of the other files removed.
  Write("big", RandomBytes(1 << 20, 12));
  ASSERT_EQ(Run("pack big big.pk").status, 0);
  for (const char* command : {"unpack a.pk kept.out big.pk -", "-f pack big -"}) {
    r = Shell(std::string("{ \"$SP\" ") + command +
              " 2>err; echo $? >status; } | head -c 1 >/dev/null; cat err status");
    EXPECT_EQ(r.output, "141\n") << command;
    EXPECT_FALSE(Exists("kept.out"));
    ExpectNoTemporaryFiles();
  }
}

TEST_F(DestinationTest, DamageInALaterFileWritesNoDestinationOfAnyKind) {
  ASSERT_EQ(Run("pack a.txt first.pk a.txt second.pk").status, 0);
  std::vector<uint8_t> damaged = Read("second.pk");
  damaged.push_back('!');
  Write("damaged.pk", damaged);
  Write("kept", {'k'});
  ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0666), 0);
  // What the first file goes to; the second is damaged. Regular files get
  // nothing; a pipe and standard output have had the first file's bytes as
  // they came, as gzip -dc gives them, and the damage still fails the command.
  // The pipe has a reader throughout.
  for (const char* first : {"new.out", "kept", "-", "pipe"}) {
    Result r = Shell(WithPipeReader(
        "pipe", "piped",
        std::string("\"$SP\" unpack -f first.pk ") + first + " damaged.pk second.out > standard-output"));
    EXPECT_EQ(r.status, 1) << first;
    EXPECT_TRUE(
        Contains(r.output, "damaged.pk: trailing garbage at offset " + std::to_string(damaged.size() - 1)))
        << r.output;
    EXPECT_FALSE(Exists("new.out")) << first;
    EXPECT_FALSE(Exists("second.out")) << first;
    EXPECT_TRUE(Read("kept") == std::vector<uint8_t>({'k'})) << first;
    std::string to = first;
    EXPECT_TRUE(Read("piped") == (to == "pipe" ? data_ : std::vector<uint8_t>())) << first;
    EXPECT_TRUE(Read("standard-output") == (to == "-" ? data_ : std::vector<uint8_t>())) << first;
  }
  ExpectNoTemporaryFiles();
  // Whole, the two files go to all of them in order.
  Result whole = Shell(WithPipeReader("pipe", "piped", "\"$SP\" unpack -f first.pk pipe second.pk kept"));
  ASSERT_EQ(whole.status, 0) << whole.output;
  EXPECT_TRUE(Read("piped") == data_);
  EXPECT_TRUE(Read("kept") == data_);
}

TEST_F(DestinationTest, RecordsThatClaimMoreThanAFileCanHoldAreDamageNotAnAllocation) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer takes more address space than the limit set here";
#endif
  // 300,000 compressed records of one byte, each claiming 63,488 bytes: 19 GB
  // listed for standard output, which holds its bytes until all is checked;
  // room for them all at once would not be had within 4 GB of address space.
  std::vector<uint8_t> claims;
  for (int i = 0; i < 300000; ++i) {
    const uint8_t record[] = {'P', 'A', 'C', 'K', 'D', 'A', 'T', '$', 1, 0, 0, 0, 0, 0xF8, 0, 0, 0};
    claims.insert(claims.end(), record, record + sizeof record);
  }
  Write("claims.pk", claims);
  Result r = Shell("ulimit -v 4000000 && \"$SP\" unpack claims.pk - > standard-output");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.output, "claims.pk: damaged data (record 0 at offset 0)")) << r.output;
  EXPECT_TRUE(Read("standard-output").empty());
}

TEST_F(DestinationTest, AnInterruptRemovesEveryTemporaryFile) {
  ASSERT_EQ(Run("pack a.txt first.pk a.txt second.pk a.txt third.pk").status, 0);
  ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0666), 0);
  // The pipe, written last, waits for a reader while the temporaries of the
  // other two are there to be removed.
  Result r = Shell(
      "\"$SP\" unpack first.pk second.out second.pk third.out third.pk pipe & p=$!; i=0;"
      " while [ \"$(ls | grep -c '\\.partial-')\" != 2 ] && [ $i -lt 200 ]; do sleep 0.1; i=$((i+1)); done;"
      " echo temporaries $(ls | grep -c '\\.partial-'); kill -TERM $p;"
      " exec 3<>pipe; wait $p; echo status $?");
  EXPECT_TRUE(Contains(r.output, "temporaries 2\n")) << r.output;
  EXPECT_TRUE(Contains(r.output, "status 143\n")) << r.output;  // killed by SIGTERM
  EXPECT_FALSE(Exists("second.out"));
  EXPECT_FALSE(Exists("third.out"));
  ExpectNoTemporaryFiles();
}

// A tmpfs of 64 KB mounted in the test's folder, unmounted at the end.
class FullFileSystem {
 public:
  explicit FullFileSystem(const std::string& path) : path_(path) {
    mkdir(path.c_str(), 0777);
    mounted_ = mount("tmpfs", path.c_str(), "tmpfs", 0, "size=64k") == 0;
    reason_ = mounted_ ? "" : strerror(errno);
  }
  ~FullFileSystem() {
    if (mounted_) umount(path_.c_str());
  }
  bool mounted() const { return mounted_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string path_, reason_;
  bool mounted_;
};

TEST_F(DestinationTest, AFullFileSystemFailsTheWriteAndKeepsNothing) {
  FullFileSystem small(Path("small"));
  if (!small.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root): " << small.reason();
  Write("big", RandomBytes(200000, 13));
  ASSERT_EQ(Run("pack a.txt first.pk big second.pk").status, 0);
  ASSERT_EQ(Run("pack big big.pk").status, 0);
  Write("small/old", {'o', 'l', 'd'});
  Result r = Run("unpack first.pk small/a.out second.pk small/big.out");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.output, "setuppack: small/big.out: No space left on device")) << r.output;
  EXPECT_FALSE(Exists("small/big.out"));
  EXPECT_TRUE(Read("small/a.out") == data_);  // the file before it was whole
  // Files after one that cannot be written are still checked: damage there
  // writes nothing at all.
  std::vector<uint8_t> damaged = Read("a.pk");
  damaged.push_back('!');
  Write("damaged.pk", damaged);
  r = Run("unpack big.pk small/big.out a.pk small/b.out damaged.pk c.out");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(
      Contains(r.output, "damaged.pk: trailing garbage at offset " + std::to_string(damaged.size() - 1)))
      << r.output;
  EXPECT_FALSE(Exists("small/big.out"));
  EXPECT_FALSE(Exists("small/b.out"));
  r = Run("unpack -f big.pk small/old");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Read("small/old") == std::vector<uint8_t>({'o', 'l', 'd'}));
  ExpectNoTemporaryFiles("small");
}

TEST_F(DestinationTest, StandardInputAndOutput) {
  Result r = Shell("\"$SP\" pack - - < a.txt | \"$SP\" unpack - - > out");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(Read("out") == data_);
  // A link to this process's standard output (as /dev/stdout is) writes
  // standard output, whether that is a pipe or a file, and stays a link.
  ASSERT_EQ(symlink("/proc/self/fd/1", Path("stdout").c_str()), 0);
  EXPECT_EQ(Shell("\"$SP\" unpack a.pk stdout | cat > piped").status, 0);
  EXPECT_TRUE(Read("piped") == data_);
  EXPECT_EQ(Shell("\"$SP\" unpack a.pk stdout > redirected").status, 0);
  EXPECT_TRUE(Read("redirected") == data_);
  EXPECT_EQ(KindOf("stdout"), S_IFLNK);
}

TEST_F(DestinationTest, PackedDataIsNotWrittenToATerminalUnlessForced) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    GTEST_SKIP() << "no pseudo-terminal here: " << strerror(errno);
  }
  std::string terminal = ptsname(master);
  Result r = Shell("\"$SP\" pack a.txt - > " + terminal);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.output, "packed data not written to a terminal")) << r.output;
  r = Run("pack a.txt " + terminal);
  EXPECT_EQ(r.status, 1);
  // Unpacked data may go there, and -f sends packed data too.
  Write("small", {'h', 'i'});
  ASSERT_EQ(Run("pack small small.pk").status, 0);
  EXPECT_EQ(Shell("\"$SP\" unpack small.pk - > " + terminal).status, 0);
  EXPECT_EQ(Shell("\"$SP\" pack -f small - > " + terminal).status, 0);
  close(master);
}

class MediaTest : public SetuppackTest {
 protected:
  void SetUp() override {
    SetuppackTest::SetUp();
    script_ = MixedBytes(20000, 14);
    installer_ = RealBinary("attrib.exe");
    installer_.insert(installer_.end(), script_.begin(), script_.begin() + 4000);
    Write("script", script_);
    Write("installer", installer_);
    Result r = Run("media --script script --installer installer --no-setup -o cd");
    ASSERT_EQ(r.status, 0) << r.output;
  }
  void FlipOneBit(const std::string& name) const {
    std::vector<uint8_t> data = Read(name);
    data[data.size() / 2] ^= 0x10;
    Write(name, data);
  }
  std::vector<uint8_t> script_, installer_;
};

TEST_F(MediaTest, TestSaysWhatWasVerifiedAndFindsOneFlippedBit) {
  Result r = Run("test cd/INSTALL.SC_ cd/INSTALL.EX_");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(Contains(r.output, "cd/INSTALL.SC_: OK, 20000 bytes, size and CRC-32 ")) << r.output;
  EXPECT_TRUE(Contains(r.output, "cd/INSTALL.EX_: OK, " + std::to_string(installer_.size()) + " bytes"));
  EXPECT_EQ(Listing(), std::vector<std::string>({"cd", "installer", "script"}));  // writes nothing

  ASSERT_EQ(Run("--no-check pack script old.pk").status, 0);
  r = Run("test - < old.pk");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(Contains(r.output, "standard input: OK, 20000 bytes, no check record: damage")) << r.output;

  FlipOneBit("cd/INSTALL.SC_");
  r = Run("test cd/INSTALL.SC_ cd/INSTALL.EX_");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.output, "setuppack: cd/INSTALL.SC_: ")) << r.output;
  EXPECT_TRUE(Contains(r.output, "cd/INSTALL.EX_: not tested")) << r.output;
}

TEST_F(MediaTest, ExtractTakesMediaInAnyLetterCase) {
  ASSERT_EQ(
      Shell("mkdir copy && cp cd/INSTALL.SC_ copy/install.sc_ && cp cd/INSTALL.EX_ copy/Install.Ex_").status,
      0);
  Result r = Run("extract copy out");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(Read("out/INSTALL.SCR") == script_);
  EXPECT_TRUE(Read("out/INSTALL.EXE") == installer_);
  EXPECT_TRUE(Contains(r.output, "copy/Install.Ex_ -> out/INSTALL.EXE: ")) << r.output;

  // Into the current folder; existing files are kept unless forced.
  Write("INSTALL.EXE", {'x'});
  r = Run("extract copy");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.output, "'./INSTALL.EXE' already exists; -f replaces it")) << r.output;
  EXPECT_FALSE(Exists("INSTALL.SCR"));
  ASSERT_EQ(Run("extract -f copy").status, 0);
  EXPECT_TRUE(Read("INSTALL.EXE") == installer_);

  // Two names that differ only in case: which one is meant is unknown.
  ASSERT_EQ(Shell("cp copy/install.sc_ copy/INSTALL.SC_").status, 0);
  r = Run("extract copy out2");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.output, "'INSTALL.SC_' and 'install.sc_'")) << r.output;
  EXPECT_FALSE(Exists("out2"));
}

TEST_F(MediaTest, ExtractOfDamagedMediaWritesNothing) {
  FlipOneBit("cd/INSTALL.EX_");
  Result r = Run("extract cd out");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.output, "cd/INSTALL.EX_: damaged")) << r.output;
  EXPECT_FALSE(Exists("out"));
  ASSERT_EQ(Shell("rm cd/INSTALL.EX_").status, 0);
  r = Run("extract cd out");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.output, "has no INSTALL.EX_")) << r.output;
}

TEST_F(MediaTest, MediaKeepsTheFilesOfItsFolderInAnyCase) {
  std::vector<uint8_t> before = Read("cd/INSTALL.EX_");
  Write("other", MixedBytes(5000, 15));
  Result r = Run("media --script other --installer other --no-setup -o cd");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.output, "'cd/INSTALL.SC_' already exists; -f replaces it")) << r.output;
  EXPECT_TRUE(Read("cd/INSTALL.EX_") == before);
  // A lower-case name from a FAT disk counts as well, and -f replaces it
  // under the name it has.
  ASSERT_EQ(Shell("mkdir fat && cp cd/INSTALL.EX_ fat/install.ex_").status, 0);
  EXPECT_EQ(Run("media --script other --installer other --no-setup -o fat").status, 1);
  EXPECT_FALSE(Exists("fat/INSTALL.SC_"));
  ASSERT_EQ(Run("media --script other --installer other --no-setup -o fat -f").status, 0);
  EXPECT_EQ(Listing("fat"), std::vector<std::string>({"INSTALL.SC_", "install.ex_"}));
  EXPECT_EQ(Run("extract fat back").status, 0);
  EXPECT_TRUE(Read("back/INSTALL.EXE") == Read("other"));
}

// An installer setup.exe cannot start, or starts only on some Windows, is
// named with the reason; --strict refuses it and writes nothing.
TEST_F(MediaTest, MediaWarnsOfAnInstallerThatIsNoWindowsProgramAndStrictRefusesIt) {
  // MZ header, "PE\0\0" at 64, the machine, and the characteristics at 86.
  auto pe = [](uint16_t machine, uint16_t characteristics) {
    std::vector<uint8_t> image(512, 0);
    image[0] = 'M', image[1] = 'Z', image[60] = 64;
    image[64] = 'P', image[65] = 'E';
    image[68] = machine & 0xff, image[69] = machine >> 8;
    image[86] = characteristics & 0xff, image[87] = characteristics >> 8;
    return image;
  };
  std::vector<uint8_t> dos = pe(0x14c, 0x102);
  dos[64] = 'N';  // a 16-bit "NE" program
  const struct {
    std::vector<uint8_t> installer;
    const char* warning;  // nullptr: none
  } cases[] = {
      {pe(0x14c, 0x102), nullptr},
      {std::vector<uint8_t>(script_.begin(), script_.begin() + 100),
       "is not a Windows program (no MZ header)"},
      {ReadFileBytes(SetuppackUnderTest()), nullptr},  // a Unix program, or setuppack.exe
      {dos, "an MZ header but no PE header"},
      {pe(0x8664, 0x22),
       "is a 64-bit program: the 32-bit setup.exe starts it with WinExec, which runs it only on "
       "64-bit Windows"},
      {pe(0x14c, 0x2102), "is a DLL, not a program"},
      {pe(0xaa64, 0x22), "for another processor (machine 0xaa64)"},
  };
  for (const auto& c : cases) {
    Write("program", c.installer);
    Result r = Run("media --script script --installer program --no-setup -o warned -f");
    std::string expected = c.warning ? c.warning : "";
    if (&c == &cases[2]) expected = c.installer[0] == 'M' ? "is a 64-bit program" : "no MZ header";
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(Contains(r.output, "setuppack: warning: 'program' "), !expected.empty()) << r.output;
    EXPECT_TRUE(Contains(r.output, expected)) << r.output;
    r = Run("media --strict --script script --installer program --no-setup -o strict");
    EXPECT_EQ(r.status, expected.empty() ? 0 : 1) << r.output;
    EXPECT_EQ(Exists("strict"), expected.empty()) << r.output;
    if (!expected.empty()) {
      EXPECT_TRUE(Contains(r.output, expected) && Contains(r.output, "(--strict; nothing was written)"))
          << r.output;
    }
    Shell("rm -rf strict");
  }
}

}  // namespace
