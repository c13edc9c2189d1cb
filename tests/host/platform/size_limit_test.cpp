// The 4 GiB bound on sources, pack files and pipes, reached with small files:
// setuppack_seams is setuppack with a size limit the environment lowers.
// Each bound is tried on both sides: the largest size a pack file measures
// is taken, the first it cannot is refused (exit status 1, nothing written).
#include <string.h>

#include <string>

#include "setuppack_runner.h"

namespace {

const size_t Limit = 4096;  // the lowered 4 GiB: the first size refused

// A pack file of exactly `size` bytes: one stored record (16-byte header:
// the 8-byte magic, packed size 0 for "stored", the expanded size), its
// body the rest. Old media carry no check record, and expand all the same.
std::vector<uint8_t> StoredPackFileOfSize(size_t size) {
  std::vector<uint8_t> file = MixedBytes(size, 7);
  memcpy(&file[0], PackMagic, PackMagicSize);
  WriteLE32(&file[8], 0);
  WriteLE32(&file[12], (uint32_t)(size - PackHeaderSize));
  return file;
}

class SizeLimitTest : public SetuppackTest {
 protected:
  // Runs a shell line with $SP naming setuppack_seams at the lowered limit.
  Result Lowered(const std::string& line) const {
    return Shell("export SETUPPACK_TEST_SIZE_LIMIT=" + std::to_string(Limit) +
                 "; SP='" SETUPPACK_SEAMS_PATH "'; " + line);
  }
};

TEST_F(SizeLimitTest, EachBoundTakesTheLargestSizeAndRefusesTheNext) {
  Write("largest", MixedBytes(Limit - 1, 3));
  Write("too-large", MixedBytes(Limit, 3));
  Write("largest.pk", StoredPackFileOfSize(Limit - 1));
  Write("too-large.pk", StoredPackFileOfSize(Limit));
  const struct {
    const char* what;
    std::string line;  // run twice: NAME is "largest", then "too-large"
    const char* written;
  } bounds[] = {
      {"a regular source, measured before it is read", "\"$SP\" pack NAME out", "out"},
      {"a source read from a pipe, counted as it comes", "cat NAME | \"$SP\" pack - out", "out"},
      {"a regular pack file, measured before it is read", "\"$SP\" unpack NAME.pk out", "out"},
      {"a pack file read from a pipe, put aside as it comes", "cat NAME.pk | \"$SP\" unpack - out", "out"},
      {"a pack file read whole from a pipe (salvage)", "cat NAME.pk | \"$SP\" unpack --salvage - out", "out"},
      {"a pack file read whole (salvage)", "\"$SP\" unpack --salvage NAME.pk out", "out"},
  };
  for (const auto& b : bounds) {
    SCOPED_TRACE(b.what);
    for (const std::string name : {"largest", "too-large"}) {
      std::string line = b.line;
      for (size_t at; (at = line.find("NAME")) != std::string::npos;) line.replace(at, 4, name);
      Result r = Lowered(line);
      if (name == "largest") {
        EXPECT_EQ(r.status, 0) << line << "\n" << r.output;
        EXPECT_TRUE(Exists(b.written)) << line;
      } else {
        EXPECT_EQ(r.status, 1) << line << "\n" << r.output;
        EXPECT_NE(r.output.find("4 GiB or larger"), std::string::npos) << line << "\n" << r.output;
        EXPECT_FALSE(Exists(b.written)) << line << ": written all the same";
      }
      Shell("rm -f out");
    }
  }
  // What the largest source packed to expands back to it.
  ASSERT_EQ(Lowered("\"$SP\" pack largest out").status, 0);
  ASSERT_EQ(Run("unpack out back").status, 0);
  EXPECT_TRUE(Read("back") == Read("largest"));
}

}  // namespace
