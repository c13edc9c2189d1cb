// The seal of setup.exe as setuppack writes, finds, refuses and checks it,
// on a small PE image that holds a seal block in its one section.
#include "seal.h"

#include <string.h>

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

}  // namespace
