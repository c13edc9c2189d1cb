// Salvage of crafted pack files whose headers and check records claim more
// bytes than the file holds: inputs the fuzz targets found, kept as cases.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "rescue/salvage.h"

namespace {

class KeptSink final : public ExpansionSink {
 public:
  void Take(const uint8_t* data, size_t size) override { bytes.insert(bytes.end(), data, data + size); }
  std::vector<uint8_t> bytes;
};

// Lengths that headers and check records claim, held to the bytes that are
// there: a check record that says 3,584 bytes are missing before a damaged
// header whose 16 bytes are all the file holds there (found by fuzz_salvage,
// read past the file as a stored record of 3,584 bytes; the sanitizer build
// catches a read past it).
TEST(Salvage, ClaimedLengthsStayInsideTheFile) {
  static const char hex[] =
      "5041434b4441542424000000000000005041434b43484b1a0100000001000000000e0000000000000000000000000000"
      "b45da3d000005fc8827d9e5500000000000000aa5041434b4441542424000000600100005041434b43484b1a01000000"
      "01000000000000000000000000000000000000000000000000";
  std::vector<uint8_t> packed;
  for (size_t i = 0; hex[i] && hex[i + 1]; i += 2)
    packed.push_back((uint8_t)std::stoi(std::string(hex + i, 2), 0, 16));
  ASSERT_EQ(packed.size(), 121u);
  std::unique_ptr<PackExpander> expander(new PackExpander());
  ResetDecoderState(&expander->decoder);
  SalvageReport report;
  KeptSink kept;
  SalvagePackFile(expander.get(), packed, &kept, &report);
  EXPECT_FALSE(report.whole);
  EXPECT_EQ(report.vouched, 0u);
  EXPECT_EQ(report.written, kept.bytes.size());
  ASSERT_FALSE(report.damage.empty());
  EXPECT_NE(report.damage[0].find("damaged record header (record 1 at offset 52)"), std::string::npos)
      << report.damage[0];
}

}  // namespace
