// Where scan looks: record headers that straddle the 1 MiB steps its search
// reads in, files of one size named one after the other, and folder links.
#include <string>

#include "setuppack_runner.h"

namespace {

const size_t SearchStep = 1 << 20;  // scan reads other files 1 MiB at a time

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class ScanEdges : public SetuppackTest {
 protected:
  void SetUp() override {
    SetuppackTest::SetUp();
    // A pack file of its own: a check record, then the records of 3,000 bytes.
    Write("data", MixedBytes(3000, 51));
    ASSERT_EQ(Run("pack data data.pk").status, 0);
    packed_ = Read("data.pk");
  }
  // size bytes of zeros (no record magic) with the pack file at `at`.
  std::vector<uint8_t> Inside(size_t size, size_t at) const {
    std::vector<uint8_t> file(size, 0);
    std::copy(packed_.begin(), packed_.end(), file.begin() + at);
    return file;
  }
  std::vector<uint8_t> packed_;
};

TEST_F(ScanEdges, AHeaderAcrossTheEndOfASearchStepIsFound) {
  // The 16-byte header starting 16, 12, 8 and 1 bytes before the step's end:
  // whole in the first step, its magic cut, its sizes cut, all but a byte
  // in the next.
  for (size_t before : {16, 12, 8, 1}) {
    size_t at = SearchStep - before;
    std::string name = "blob-" + std::to_string(before);
    Write(name, Inside(2 * SearchStep, at));
    Result r = Run("scan " + name);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(name + " at offset " + std::to_string(at) + ": pack file, " +
                            std::to_string(packed_.size()) + " bytes packed"),
              std::string::npos)
        << before << " bytes before the step's end:\n"
        << r.output;
  }
}

TEST_F(ScanEdges, FilesOfOneSizeNamedOneAfterTheOtherAreEachSearched) {
  // Two files of the same size, the pack file at the same offset in both.
  Write("a.bin", Inside(10000, 100));
  Write("b.bin", Inside(10000, 100));
  Result r = Run("scan a.bin b.bin");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("a.bin at offset 100: pack file"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("b.bin at offset 100: pack file"), std::string::npos) << r.output;
}

TEST_F(ScanEdges, FolderLinksAreNotFollowed) {
  // tree/ holds media, a link to itself and a link to outside/, which holds
  // media too: scan lists tree's media alone, once.
  ASSERT_EQ(Shell("mkdir tree outside && cp data.pk tree/INSTALL.SC_ && cp data.pk tree/INSTALL.EX_ && "
                  "cp data.pk outside/INSTALL.SC_ && cp data.pk outside/INSTALL.EX_ && "
                  "ln -s . tree/again && ln -s ../outside tree/elsewhere")
                .status,
            0);
  Result r = Run("scan tree");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(Occurrences(r.output, "INSTALL.SC_"), 1u) << r.output;
  EXPECT_EQ(r.output.find("again"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("elsewhere"), std::string::npos) << r.output;
}

}  // namespace
