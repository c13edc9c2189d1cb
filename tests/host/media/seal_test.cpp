// The seal of setup.exe as setuppack writes, finds, refuses and checks it,
// on a small PE image that holds a seal block in its one section.
#include "seal.h"

#include <string.h>

#include "media/seal_image.h"
#include "setuppack_runner.h"

namespace {

const size_t BlockAt = 512 + 16, ChecksumAt = 64 + 24 + 64, CertificateEntryAt = 64 + 24 + 128;

// A PE32 image of 1,024 bytes: headers, then one 512-byte section whose
// bytes 16 to 115 are an unsealed seal block.
std::vector<uint8_t> SealableImage() {
  std::vector<uint8_t> image(1024);
  memcpy(&image[0], "MZ", 2);
  memcpy(&image[64], "PE\0\0", 4);
  // The header's offset; i386, one section, the optional header's size;
  // PE32, 16 data directories; the section's virtual size and address, raw
  // size and offset; the seal's layout version.
  const size_t fields[] = {60, 64,  68,  0x14c, 70,     1,   84,  224, 88,  0x10b,       88 + 92,
                           16, 320, 512, 324,   0x1000, 328, 512, 332, 512, BlockAt + 8, SealLayoutVersion};
  for (size_t i = 0; i < sizeof fields / sizeof *fields; i += 2)
    WriteLE32(&image[fields[i]], (uint32_t)fields[i + 1]);
  memcpy(&image[BlockAt], SealId, SealIdSize);
  memcpy(&image[BlockAt + SealStateOffset], SealStateUnsealed, SealStateSize);
  return image;
}

// The program media --single-file writes, built here from the seal's layout
// (version 2): image with its seal filled in for the two pack files, which
// follow it (each entry: offset, length, SHA-256), and the PE checksum of
// the whole file.
std::vector<uint8_t> ExpectedSingleFile(std::vector<uint8_t> image, const std::vector<uint8_t>& script,
                                        const std::vector<uint8_t>& installer) {
  memcpy(&image[BlockAt + 12], "sealed\0\0", 8);
  const std::vector<uint8_t>* files[2] = {&script, &installer};
  size_t at = image.size();
  for (int i = 0; i < 2; ++i) {
    uint8_t* entry = &image[BlockAt + 20 + 48 * i];
    WriteLE32(entry, (uint32_t)at);
    WriteLE32(entry + 8, (uint32_t)files[i]->size());
    Sha256State state;
    Sha256Init(&state);
    Sha256Update(&state, files[i]->data(), (uint32_t)files[i]->size());
    Sha256Final(&state, entry + 16);
    at += files[i]->size();
  }
  for (const std::vector<uint8_t>* file : files) image.insert(image.end(), file->begin(), file->end());
  uint32_t sum = 0;  // the PE checksum: 16-bit sums of the file with the field as 0, plus its length
  for (size_t i = 0; i < image.size(); i += 2) {
    bool field = i >= ChecksumAt && i < ChecksumAt + 4;
    sum += field ? 0 : image[i] | (i + 1 < image.size() ? image[i + 1] << 8 : 0);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  WriteLE32(&image[ChecksumAt], sum + (uint32_t)image.size());
  return image;
}

class SealTest : public SetuppackTest {
 protected:
  // Media in folder name, from a script and an installer packed by media.
  Result MakeMedia(const std::string& name, const std::vector<uint8_t>& image,
                   const std::string& options = "") {
    Write("setup-" + name + ".exe", image);
    return Run("media --script script --installer installer --setup setup-" + name + ".exe -o " + name + " " +
               options);
  }
  void SetUp() override {
    SetuppackTest::SetUp();
    Write("script", MixedBytes(5000, 31));
    Write("installer", RealBinary("version.dll"));
    Write("other", MixedBytes(7000, 32));
    // A valid pack file of other data, and a valid pair of them.
    ASSERT_EQ(Run("pack other other.pk").status, 0);
    ASSERT_EQ(Run("pack other pair.sc other pair.ex").status, 0);
  }
};

TEST_F(SealTest, MediaAreSealedAndTestAndExtractSayWhatMatches) {
  std::vector<uint8_t> image = SealableImage();
  Result made = MakeMedia("sealed", image);
  ASSERT_EQ(made.status, 0) << made.output;
  // Only the seal block and the checksum changed.
  std::vector<uint8_t> sealed = Read("sealed/setup.exe");
  ASSERT_EQ(sealed.size(), image.size());
  for (size_t i = 0; i < image.size(); ++i) {
    bool mayChange = (i >= BlockAt && i < BlockAt + SealBlockSize) || (i >= ChecksumAt && i < ChecksumAt + 4);
    if (!mayChange) {
      ASSERT_EQ(sealed[i], image[i]) << "byte " << i;
    }
  }
  EXPECT_EQ(memcmp(&sealed[BlockAt + SealStateOffset], SealStateSealed, SealStateSize), 0);
  ASSERT_EQ(MakeMedia("unsealed", image, "--no-seal").status, 0);
  EXPECT_TRUE(Read("unsealed/setup.exe") == image);

  const struct {
    const char* folder;
    const char* replace;  // shell commands run in the folder first
    int status;           // of test and of extract
    const char* says;
  } cases[] = {
      {"sealed", "", 0, "sealed, and both pack files match its seal"},
      {"sealed", "cp ../other.pk INSTALL.EX_", 1, "INSTALL.EX_' does not match the seal"},
      {"sealed", "cp ../pair.sc INSTALL.SC_ && cp ../pair.ex INSTALL.EX_", 1,
       "INSTALL.SC_' does not match the seal"},
      {"unsealed", "cp ../pair.sc INSTALL.SC_ && cp ../pair.ex INSTALL.EX_", 0, "unsealed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.folder) + ": " + c.replace);
    ASSERT_EQ(Shell(std::string("rm -rf t out && cp -r ") + c.folder + " t && cd t && true " +
                    (c.replace[0] ? "&& " : "") + c.replace)
                  .status,
              0);
    Result tested = Run("test t");
    EXPECT_EQ(tested.status, c.status) << tested.output;
    EXPECT_NE(tested.output.find(c.says), std::string::npos) << tested.output;
    Result extracted = Run("extract t out");
    EXPECT_EQ(extracted.status, c.status) << extracted.output;
    EXPECT_EQ(Exists("out"), c.status == 0);
    if (c.status != 0) {
      EXPECT_NE(extracted.output.find(c.says), std::string::npos) << extracted.output;
    }
  }
}

TEST_F(SealTest, SealWritesOnlyASealableUnsignedImageAndRefusalsWriteNothing) {
  std::vector<uint8_t> image = SealableImage(), isSigned = image, twoBlocks = image, inHeaders = image,
                       noBlock(image.begin(), image.begin() + 512);
  isSigned[CertificateEntryAt] = 0x20;
  memcpy(&twoBlocks[800], SealId, SealIdSize);
  memmove(&inHeaders[400], &inHeaders[BlockAt], SealBlockSize);
  memset(&inHeaders[BlockAt], 0, SealBlockSize);
  noBlock.resize(1024);
  const struct {
    const std::vector<uint8_t>* image;
    const char* says;
  } refused[] = {
      {&isSigned, "seal first, then sign"},
      {&noBlock, "has no seal block"},
      {&twoBlocks, "holds 2 seal blocks"},
      {&inHeaders, "outside the sections"},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.says);
    Result media = MakeMedia("m", *r.image);
    EXPECT_EQ(Listing("m"), std::vector<std::string>()) << "media wrote files";
    ASSERT_EQ(MakeMedia("m", *r.image, "--no-seal -f").status, 0);
    for (const Result& refusal : {media, Run("seal m")}) {
      EXPECT_EQ(refusal.status, 1) << refusal.output;
      EXPECT_NE(refusal.output.find(r.says), std::string::npos) << refusal.output;
    }
    EXPECT_TRUE(Read("m/setup.exe") == *r.image);
    ASSERT_EQ(Shell("rm -r m").status, 0);
  }

  // Media assembled from pack files: seal seals for them, and again after
  // they change.
  ASSERT_EQ(MakeMedia("m", image, "--no-seal").status, 0);
  ASSERT_EQ(Shell("cp pair.sc m/INSTALL.SC_ && cp pair.ex m/INSTALL.EX_").status, 0);
  Result sealed = Run("seal m");
  ASSERT_EQ(sealed.status, 0) << sealed.output;
  EXPECT_NE(Run("test m").output.find("sealed, and both pack files match"), std::string::npos);
  ASSERT_EQ(Shell("cp other.pk m/INSTALL.EX_").status, 0);
  EXPECT_EQ(Run("test m").status, 1);
  EXPECT_EQ(Run("seal m").status, 0);
  EXPECT_EQ(Run("test m").status, 0);
  EXPECT_EQ(Read("m/setup.exe").size(), image.size());
}

// setuppack ignores padding after the last record; setup.exe does not, so
// padded pack files are not sealed.
TEST_F(SealTest, PaddedPackFilesAreNotSealed) {
  ASSERT_EQ(MakeMedia("padded", SealableImage(), "--no-seal").status, 0);
  std::vector<uint8_t> script = Read("padded/INSTALL.SC_"), setup = Read("padded/setup.exe");
  script.resize(script.size() + 512, 0);
  Write("padded/INSTALL.SC_", script);
  Result r = Run("seal padded");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.output.find("padded/INSTALL.SC_: 512 bytes of padding after its last record, which setup.exe "
                            "refuses") != std::string::npos)
      << r.output;
  EXPECT_TRUE(Read("padded/setup.exe") == setup);
}

// media --single-file: the pack files media writes into a folder, carried
// after the image and sealed for, read back by test, list and extract.
TEST_F(SealTest, SingleFileCarriesWhatMediaWritesIntoAFolderAndIsReadBack) {
  std::vector<uint8_t> image = SealableImage();
  ASSERT_EQ(MakeMedia("folder", image).status, 0);
  Result made =
      Run("media --script script --installer installer --setup setup-folder.exe --single-file -o p.exe");
  ASSERT_EQ(made.status, 0) << made.output;
  std::vector<uint8_t> program = Read("p.exe");
  std::vector<uint8_t> script = Read("folder/INSTALL.SC_"), installer = Read("folder/INSTALL.EX_");
  EXPECT_TRUE(program == ExpectedSingleFile(image, script, installer));
  SealInfo seal;
  std::string error;
  ASSERT_TRUE(ReadSeal(program, "p.exe", &seal, &error)) << error;
  EXPECT_EQ(seal.version, 2u);
  EXPECT_EQ(seal.files[0].carriedAt, image.size());
  EXPECT_EQ(seal.files[1].carriedAt, image.size() + script.size());
  EXPECT_EQ(seal.files[1].length, installer.size());

  Result tested = Run("test p.exe");
  EXPECT_EQ(tested.status, 0) << tested.output;
  EXPECT_NE(tested.output.find("p.exe: sealed, and both pack files it carries match its seal"),
            std::string::npos);
  Result listed = Run("list p.exe");
  EXPECT_EQ(listed.status, 0) << listed.output;
  EXPECT_NE(
      listed.output.find("p.exe (INSTALL.EX_ from byte " + std::to_string(image.size() + script.size())),
      std::string::npos)
      << listed.output;
  Result extracted = Run("extract p.exe out");
  EXPECT_EQ(extracted.status, 0) << extracted.output;
  EXPECT_TRUE(Read("out/INSTALL.SCR") == Read("script"));
  EXPECT_TRUE(Read("out/INSTALL.EXE") == Read("installer"));
  // An existing program is replaced only with -f.
  EXPECT_EQ(Run("media --script other --installer installer --setup setup-folder.exe --single-file -o p.exe")
                .status,
            1);
  EXPECT_TRUE(Read("p.exe") == program);
}

// extract --salvage of a program whose carried installer is damaged or cut
// short (an incomplete download): as for media in a folder, the script is
// written whole and the installer as far as it holds, with status 1.
TEST_F(SealTest, SingleFileIsSalvaged) {
  ASSERT_EQ(MakeMedia("folder", SealableImage()).status, 0);
  ASSERT_EQ(Run("media --script script --installer installer --setup setup-folder.exe --single-file -o p.exe")
                .status,
            0);
  std::vector<uint8_t> program = Read("p.exe"), cut = program, changed = program;
  std::vector<uint8_t> script = Read("script"), installer = Read("installer");
  cut.resize(program.size() - 100);
  changed[program.size() - 50] ^= 1;
  Write("cut.exe", cut);
  Write("changed.exe", changed);
  for (const char* name : {"cut.exe", "changed.exe"}) {
    SCOPED_TRACE(name);
    Result r = Run(std::string("extract --salvage ") + name + " out-" + name);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("INSTALL.EX_"), std::string::npos) << r.output;
    EXPECT_TRUE(Read(std::string("out-") + name + "/INSTALL.SCR") == script);
    std::vector<uint8_t> salvaged = Read(std::string("out-") + name + "/INSTALL.EXE");
    EXPECT_GT(salvaged.size(), installer.size() / 2);
    EXPECT_LE(salvaged.size(), installer.size());
  }
  // Cut inside the script: what it holds of the script, nothing of the
  // installer (and no file for it).
  SealInfo seal;
  std::string error;
  ASSERT_TRUE(ReadSeal(program, "p.exe", &seal, &error)) << error;
  std::vector<uint8_t> early(program.begin(),
                             program.begin() + seal.files[0].carriedAt + seal.files[0].length / 2);
  Write("early.exe", early);
  Result r = Run("extract --salvage early.exe out-early");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("early.exe (INSTALL.EX_): nothing of it is left"), std::string::npos) << r.output;
  std::vector<uint8_t> salvaged = Read("out-early/INSTALL.SCR");
  EXPECT_TRUE(!salvaged.empty() && std::equal(salvaged.begin(), salvaged.end(), script.begin())) << r.output;
  EXPECT_FALSE(Exists("out-early/INSTALL.EXE"));
}

// What test, list and extract refuse (extract writes nothing), and what
// media --single-file refuses to make.
TEST_F(SealTest, SingleFileRefusals) {
  std::vector<uint8_t> image = SealableImage(), notOurs(image.begin(), image.begin() + 512), v1 = image;
  notOurs.resize(1024);
  WriteLE32(&v1[BlockAt + 8], 1);
  ASSERT_EQ(MakeMedia("folder", image).status, 0);
  ASSERT_EQ(Run("media --script script --installer installer --setup setup-folder.exe --single-file -o p.exe")
                .status,
            0);
  std::vector<uint8_t> program = Read("p.exe"), cut = program, changed = program;
  cut.resize(program.size() - 100);
  changed[program.size() - 50] ^= 1;
  Write("cut.exe", cut);
  Write("changed.exe", changed);
  Write("notours.exe", notOurs);
  const struct {
    const char* program;
    const char* says;
  } refused[] = {
      // No seal block: read as any other file, which is not in pack format
      // (test) or not a folder (extract).
      {"notours.exe", "notours.exe: not "},
      {"folder/setup.exe", "carries no pack files"},
      {"cut.exe", "is cut short or damaged"},
      {"changed.exe", "(INSTALL.EX_)"},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.program);
    for (const char* command : {"test", "extract"}) {
      Result result =
          Run(std::string(command) + " " + r.program + (command == std::string("test") ? "" : " out"));
      EXPECT_EQ(result.status, 1) << result.output;
      EXPECT_NE(result.output.find(r.says), std::string::npos) << result.output;
      EXPECT_FALSE(Exists("out"));
    }
  }
  EXPECT_EQ(Run("list notours.exe").status, 1);
  EXPECT_EQ(Run("list cut.exe").status, 1);

  Write("setup-v1.exe", v1);
  const struct {
    const char* options;
    int status;
    const char* says;
  } media[] = {
      {"--setup setup-folder.exe --no-seal", 2, "takes no --no-seal"},
      {"--no-setup", 2, "takes no --no-setup"},
      {"--setup p.exe", 1, "bytes after its image"},
      {"--setup setup-v1.exe", 1, "seal layout 1"},
      {"--setup notours.exe", 1, "has no seal block"},
  };
  for (const auto& m : media) {
    SCOPED_TRACE(m.options);
    Result result =
        Run(std::string("media --script script --installer installer --single-file -o q.exe ") + m.options);
    EXPECT_EQ(result.status, m.status) << result.output;
    EXPECT_NE(result.output.find(m.says), std::string::npos) << result.output;
    EXPECT_FALSE(Exists("q.exe"));
  }
  // A program that carries pack files is not a folder's setup.exe: neither
  // sealed for others nor tested as one.
  ASSERT_EQ(Shell("mkdir m && cp p.exe m/setup.exe && cp folder/INSTALL.* m/").status, 0);
  for (const char* command : {"seal m", "test m"}) {
    Result result = Run(command);
    EXPECT_EQ(result.status, 1) << result.output;
    EXPECT_NE(result.output.find(command[0] == 's' ? "bytes after its image" : "carries its own pack files"),
              std::string::npos)
        << result.output;
  }
  EXPECT_TRUE(Read("m/setup.exe") == program);
  // Media in a folder still take a setup.exe of seal layout 1.
  ASSERT_EQ(MakeMedia("old", v1).status, 0);
  EXPECT_NE(Run("test old").output.find("sealed, and both pack files match"), std::string::npos);
}

}  // namespace
