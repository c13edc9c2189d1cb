// The check record: what the packer writes, that decoders which know only the
// record format expand checked files to the same bytes, every way the reader
// refuses a file, and a damage sweep over a packed script and installer.
#include <gtest/gtest.h>
#include <zlib.h>

#include <memory>

#include "check_record.h"
#include "encode/encoder.h"
#include "expand/expand.h"
#include "expand/records.h"
#include "reference_decoder.h"
#include "test_data.h"

namespace {

uint32_t ZlibCrc(const uint8_t* data, size_t size) { return (uint32_t)crc32(0, data, (uInt)size); }

// Packs the files in order through one encoder state.
std::vector<std::vector<uint8_t>> PackAll(const std::vector<std::vector<uint8_t>>& files, bool withCheck) {
  auto state = std::make_unique<EncoderState>();
  std::vector<std::vector<uint8_t>> packed(files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    PackFile(state.get(), files[i].data(), files[i].size(), withCheck, &packed[i], nullptr);
  }
  return packed;
}

// Expands pack files as a reader that knows only records and blocks does:
// the plain reference decoder, one ring, no idea of a check record.
std::vector<std::vector<uint8_t>> ExpandByFormatAlone(const std::vector<std::vector<uint8_t>>& packed,
                                                      ReferenceDecoder* decoder) {
  std::vector<std::vector<uint8_t>> out;
  for (const auto& file : packed) {
    out.emplace_back();
    for (size_t at = 0; at < file.size();) {
      uint32_t packedSize = ReadLE32(&file[at + 8]), expandedSize = ReadLE32(&file[at + 12]);
      const uint8_t* body = &file[at + PackHeaderSize];
      if (packedSize == 0) {
        out.back().insert(out.back().end(), body, body + expandedSize);
        at += PackHeaderSize + expandedSize;
      } else {
        std::vector<uint8_t> block = decoder->Decode(body, packedSize, expandedSize);
        out.back().insert(out.back().end(), block.begin(), block.begin() + expandedSize);
        at += PackHeaderSize + packedSize;
      }
    }
  }
  return out;
}

// A script and an installer that copies from it, with several compressed
// records and a stored one at the end.
std::vector<std::vector<uint8_t>> ScriptAndInstaller() {
  std::vector<uint8_t> script = MixedBytes(3000, 31);
  std::vector<uint8_t> installer;
  while (installer.size() < BlockBufferSize + 20000) {
    installer.insert(installer.end(), script.begin(), script.begin() + 700);
    installer.push_back((uint8_t)installer.size());
  }
  std::vector<uint8_t> noise = RandomBytes(600, 32);
  installer.insert(installer.end(), noise.begin(), noise.end());
  return {script, installer};
}

TEST(CheckRecordWritten, NamesTheSizeAndZlibCrcOfTheFileAndOfEachRecord) {
  std::vector<uint8_t> data = MixedBytes(3 * BlockBufferSize + 100, 33);
  std::vector<uint8_t> packed = PackAll({data}, true)[0];
  ASSERT_EQ(memcmp(packed.data(), PackMagic, PackMagicSize), 0);
  uint32_t bodySize = ReadLE32(&packed[8]);
  EXPECT_EQ(ReadLE32(&packed[12]), 0u);  // expanded size
  const uint8_t* body = &packed[PackHeaderSize];
  EXPECT_EQ(memcmp(body, "PACKCHK\x1A", 8), 0);
  EXPECT_EQ(ReadLE32(body + 8), 1u);  // layout version
  uint32_t listed = ReadLE32(body + 12);
  EXPECT_EQ(listed, 4u);
  EXPECT_EQ(bodySize, 32 + 4 * listed);
  EXPECT_EQ(ReadLE32(body + 16) | (uint64_t)ReadLE32(body + 20) << 32, data.size());
  EXPECT_EQ(ReadLE32(body + 24), ZlibCrc(data.data(), data.size()));
  EXPECT_EQ(ReadLE32(body + bodySize - 4), ZlibCrc(body, bodySize - 4));

  // The records after it are exactly what --no-check writes, and each listed
  // CRC is zlib's of that record's bytes.
  std::vector<uint8_t> plain = PackAll({data}, false)[0];
  ASSERT_EQ(packed.size(), PackHeaderSize + bodySize + plain.size());
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), packed.begin() + PackHeaderSize + bodySize));
  size_t at = 0, from = 0;
  for (uint32_t i = 0; i < listed; ++i) {
    uint32_t packedSize = ReadLE32(&plain[at + 8]), expandedSize = ReadLE32(&plain[at + 12]);
    EXPECT_EQ(ReadLE32(body + 28 + 4 * i), ZlibCrc(&data[from], expandedSize)) << "record " << i + 1;
    at += PackHeaderSize + (packedSize ? packedSize : expandedSize);
    from += expandedSize;
  }
  EXPECT_EQ(at, plain.size());

  // An empty file gets a check record too, of nothing.
  std::vector<uint8_t> empty = PackAll({{}}, true)[0];
  EXPECT_EQ(empty.size(), PackHeaderSize + 32);
  std::vector<std::vector<uint8_t>> expanded;
  std::string error;
  EXPECT_TRUE(ExpandPackedData({empty}, &expanded, nullptr, nullptr, &error)) << error;
  EXPECT_TRUE(expanded[0].empty());
}

TEST(CheckRecordWritten, DecodersThatKnowOnlyTheFormatExpandCheckedFilesToTheSameBytes) {
  std::vector<std::vector<uint8_t>> files = ScriptAndInstaller();
  auto checked = std::make_unique<ReferenceDecoder>();
  auto plain = std::make_unique<ReferenceDecoder>();
  EXPECT_TRUE(ExpandByFormatAlone(PackAll(files, true), checked.get()) == files);
  EXPECT_TRUE(ExpandByFormatAlone(PackAll(files, false), plain.get()) == files);
  EXPECT_EQ(memcmp(checked->ring, plain->ring, sizeof plain->ring), 0);
}

struct Outcome {
  bool ok;
  std::string error;
  std::vector<PackCheck> checks;
  std::vector<std::vector<uint8_t>> expanded;
};

Outcome Expand(const std::vector<std::vector<uint8_t>>& packed) {
  Outcome o;
  o.ok = ExpandPackedData(packed, &o.expanded, &o.checks, nullptr, &o.error);
  return o;
}

// Rewrites the check record at the start of file with edit applied to its
// body, and a self-check that matches again.
std::vector<uint8_t> Reseal(std::vector<uint8_t> file, void (*edit)(std::vector<uint8_t>* body)) {
  uint32_t size = ReadLE32(&file[8]);
  std::vector<uint8_t> body(file.begin() + PackHeaderSize, file.begin() + PackHeaderSize + size);
  edit(&body);
  WriteLE32(&body[body.size() - 4], ZlibCrc(body.data(), body.size() - 4));
  std::vector<uint8_t> out(file.begin(), file.begin() + 8);
  out.resize(PackHeaderSize);
  WriteLE32(&out[8], (uint32_t)body.size());
  out.insert(out.end(), body.begin(), body.end());
  out.insert(out.end(), file.begin() + PackHeaderSize + size, file.end());
  return out;
}

TEST(CheckRecordRead, AWholeFileReportsWhatWasChecked) {
  std::vector<std::vector<uint8_t>> files = ScriptAndInstaller();
  Outcome o = Expand(PackAll(files, true));
  ASSERT_TRUE(o.ok) << o.error;
  EXPECT_TRUE(o.expanded == files);
  const PackCheck& c = o.checks[1];
  EXPECT_EQ(c.present, 1u);
  EXPECT_EQ(c.expectedSize, files[1].size());
  EXPECT_EQ(c.expandedSize, files[1].size());
  EXPECT_EQ(c.expectedCrc, ZlibCrc(files[1].data(), files[1].size()));
  EXPECT_EQ(c.expandedCrc, c.expectedCrc);
  EXPECT_EQ(c.listedRecords, c.dataRecords);

  // Media made without check records expand as before, with nothing checked.
  Outcome legacy = Expand(PackAll(files, false));
  ASSERT_TRUE(legacy.ok) << legacy.error;
  EXPECT_TRUE(legacy.expanded == files);
  EXPECT_EQ(legacy.checks[0].present, 0u);
}

TEST(CheckRecordRead, EveryWayAFileDisagreesWithItsCheckRecordIsRefused) {
  std::vector<uint8_t> data = MixedBytes(BlockBufferSize + 5000, 34);
  std::vector<uint8_t> good = PackAll({data}, true)[0];
  std::vector<uint8_t> checkRecord(good.begin(), good.begin() + PackHeaderSize + ReadLE32(&good[8]));
  std::vector<uint8_t> stored;
  AppendStoredRecord(&stored, "abc");

  struct Case {
    const char* what;
    std::vector<uint8_t> file;
    std::string message;
  } cases[] = {
      {"a record before it",
       [&] {
         std::vector<uint8_t> f = stored;
         f.insert(f.end(), good.begin(), good.end());
         return f;
       }(),
       "damaged check record (record 1 at offset 19: not the first record)"},
      {"a second one at the end",
       [&] {
         std::vector<uint8_t> f = good;
         f.insert(f.end(), checkRecord.begin(), checkRecord.end());
         return f;
       }(),
       "damaged check record (record 3 at offset " + std::to_string(good.size()) + ": not the first record)"},
      {"an expanded size",
       [&] {
         std::vector<uint8_t> f = good;
         f[12] = 1;
         return f;
       }(),
       "damaged check record (record 0 at offset 0: expanded size 1, not 0)"},
      {"a changed field",
       [&] {
         std::vector<uint8_t> f = good;
         f[PackHeaderSize + 24] ^= 1;
         return f;
       }(),
       "damaged check record (record 0 at offset 0: damaged)"},
      {"an unknown layout", Reseal(good, [](std::vector<uint8_t>* b) { (*b)[8] = 2; }),
       "damaged check record (record 0 at offset 0: layout version 2 unknown)"},
      {"a wrong size", Reseal(good, [](std::vector<uint8_t>* b) { (*b)[16] ^= 1; }),
       "damaged: expands to " + std::to_string(data.size()) + " bytes, its check record says " +
           std::to_string(data.size() ^ 1)},
      {"a wrong CRC", Reseal(good, [](std::vector<uint8_t>* b) { (*b)[27] ^= 0x80; }),
       "damaged: expands to bytes of CRC-32 "},
      {"a record list one short",
       Reseal(good,
              [](std::vector<uint8_t>* b) {
                (*b)[12] = 1;
                b->erase(b->end() - 8, b->end() - 4);
              }),
       "damaged: has 2 data records, its check record lists 1"},
      {"a dropped record",
       [&] {
         std::vector<ListedRecord> records;
         std::string error;
         ListRecords(good, &records, &error);
         return std::vector<uint8_t>(good.begin(), good.begin() + records.back().offset);
       }(),
       "bytes, its check record says " + std::to_string(data.size())},
  };
  for (const Case& c : cases) {
    Outcome o = Expand({c.file});
    EXPECT_FALSE(o.ok) << c.what;
    EXPECT_NE(o.error.find(c.message), std::string::npos) << c.what << ": " << o.error;
  }
}

TEST(CheckRecordRead, NamesTheFirstRecordThatDiffers) {
  std::vector<uint8_t> data = MixedBytes(3 * BlockBufferSize, 35);
  std::vector<uint8_t> packed = PackAll({data}, true)[0];
  // The last record's body, its final byte: the third data record decodes
  // to other bytes (or fails to decode), the first two stay whole.
  std::vector<ListedRecord> records;
  std::string error;
  ASSERT_TRUE(ListRecords(packed, &records, &error)) << error;
  ASSERT_EQ(records.size(), 4u);
  ASSERT_NE(records[3].packedSize, 0u);
  packed[records[3].offset + PackHeaderSize + 3] ^= 0x10;
  Outcome o = Expand({packed});
  EXPECT_FALSE(o.ok);
  EXPECT_NE(o.error.find("record 3 at offset " + std::to_string(records[3].offset)), std::string::npos)
      << o.error;
}

// Bytes of a pack file that describe rather than carry data: every record's
// header and the whole body of a check record.
std::vector<bool> DescribingBytes(const std::vector<uint8_t>& packed) {
  std::vector<bool> describing(packed.size(), false);
  std::vector<ListedRecord> records;
  std::string error;
  if (!ListRecords(packed, &records, &error)) return describing;
  for (const ListedRecord& r : records) {
    size_t end = r.offset + PackHeaderSize + (r.isCheck ? r.packedSize : 0);
    for (size_t at = r.offset; at < end && at < packed.size(); ++at) describing[at] = true;
  }
  return describing;
}

// Damages a packed script and installer every way one slip can: each bit of
// every header and check record flipped and the file cut before each of
// those bytes; in the blocks and stored bytes, one bit of every byte (the
// bit moving along with the byte) and a cut at one byte in eight, since any
// bit of a block and any cut inside one are alike to the reader; each record
// dropped; the files swapped. Every damaged pair must either fail or still
// expand to exactly its sources. (Every bit of every byte and every cut made
// five times the cases and took eight times as long: 26 s at load average 11
// on two cores, where this takes 3 s.)
TEST(CheckRecordDamageSweep, NoSingleDamageExpandsToOtherBytes) {
  std::vector<std::vector<uint8_t>> files = ScriptAndInstaller();
  for (bool withCheck : {true, false}) {
    std::vector<std::vector<uint8_t>> packed = PackAll(files, withCheck);
    size_t silent = 0, tried = 0;
    std::string examples;
    auto attempt = [&](const std::vector<std::vector<uint8_t>>& damaged, const std::string& what) {
      ++tried;
      Outcome o = Expand(damaged);
      if (o.ok && o.expanded != files && ++silent <= 5) examples += "\n  " + what;
    };
    for (size_t f = 0; f < packed.size(); ++f) {
      std::vector<bool> describing = DescribingBytes(packed[f]);
      for (size_t at = 0; at < packed[f].size(); ++at) {
        for (size_t bit = 0; bit < 8; ++bit) {
          if (!describing[at] && bit != at % 8) continue;
          std::vector<std::vector<uint8_t>> damaged = packed;
          damaged[f][at] ^= (uint8_t)(1u << bit);
          attempt(damaged, "file " + std::to_string(f) + " bit " + std::to_string(8 * at + bit));
        }
      }
      for (size_t length = 0; length < packed[f].size(); ++length) {
        if (!describing[length] && length % 8 != 3) continue;
        std::vector<std::vector<uint8_t>> damaged = packed;
        damaged[f].resize(length);
        if (length == 0 || length == PackMagicSize) {
          // Nothing at all, or just a record magic (a stored record of no
          // bytes): old media of an empty file look exactly like that, and
          // they must still expand, to nothing (the script's absence may
          // still show in the installer).
          Outcome o = Expand(damaged);
          EXPECT_TRUE(!o.ok || o.expanded[f].empty()) << "file " << f << " cut at " << length;
          continue;
        }
        attempt(damaged, "file " + std::to_string(f) + " cut at " + std::to_string(length));
      }
      std::vector<ListedRecord> records;
      std::string error;
      ASSERT_TRUE(ListRecords(packed[f], &records, &error));
      for (size_t r = 0; r < records.size(); ++r) {
        std::vector<std::vector<uint8_t>> damaged = packed;
        size_t end = r + 1 < records.size() ? records[r + 1].offset : packed[f].size();
        damaged[f].erase(damaged[f].begin() + records[r].offset, damaged[f].begin() + end);
        // Dropping the check record itself leaves a file that expands whole.
        attempt(damaged, "file " + std::to_string(f) + " without record " + std::to_string(r));
      }
    }
    ++tried;
    Outcome swapped = Expand({packed[1], packed[0]});
    if (swapped.ok && (swapped.expanded[0] != files[1] || swapped.expanded[1] != files[0])) {
      ++silent;
      examples += "\n  the files swapped";
    }
    if (withCheck) {
      EXPECT_EQ(silent, 0u) << "expanded to other bytes, among them:" << examples;
    } else {
      // Without the check the same sweep does corrupt silently: the sweep
      // itself has teeth.
      EXPECT_GT(silent, tried / 10) << silent << " of " << tried;
    }
    printf("%s: %zu damaged pairs, %zu expanded to other bytes\n", withCheck ? "checked" : "--no-check",
           tried, silent);
  }
}

}  // namespace
