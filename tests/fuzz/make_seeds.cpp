// Writes the seed inputs of the fuzz targets into FOLDER/<target>/: the
// format's worked examples, real blocks and files of several kinds, and
// damaged check records. Each seed is checked for what it is meant to reach
// before it is written. Built by the host preset:
//   build/host/tests/host/make_fuzz_seeds tests/fuzz/seeds [SETUP_EXE]
// SETUP_EXE, a built setup.exe (build/win32/launcher/setup.exe), becomes
// fuzz_seal's seed setup-exe; without it that seed stays as it is.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "bit_writer.h"
#include "block_decoder.h"
#include "check_record.h"
#include "crc32.h"
#include "encode/encoder.h"
#include "platform/file_io.h"
#include "rescue/iso9660.h"
#include "iso_test_image.h"
#include "expand/expand.h"
#include "expand/records.h"
#include "pe_test_image.h"
#include "media/seal_image.h"
#include "test_data.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string folder;
int failures = 0;

void Write(const std::string& target, const std::string& name, const Bytes& data) {
  std::string path = folder + "/" + target + "/" + name;
  FILE* f = fopen(path.c_str(), "wb");
  if (!f || (!data.empty() && fwrite(data.data(), 1, data.size(), f) != data.size()) || fclose(f) != 0) {
    fprintf(stderr, "cannot write %s\n", path.c_str());
    exit(1);
  }
  printf("%-45s %6zu bytes\n", path.c_str(), data.size());
}

void Expect(bool holds, const std::string& seed, const std::string& what) {
  if (holds) return;
  fprintf(stderr, "seed %s: %s\n", seed.c_str(), what.c_str());
  ++failures;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// --- fuzz_decoder: blocks, each after a head of expanded size and length ---

struct Block {
  uint32_t request;
  Bytes body;
};

// As the targets hold it: 8 bytes per body byte plus 64.
uint32_t Bound(size_t bodySize) { return 8 * (uint32_t)bodySize + 64; }
uint32_t Bounded(const Block& b) { return std::min<uint32_t>(b.request, Bound(b.body.size())); }

void WriteDecoderSeed(const std::string& name, const std::vector<Block>& blocks, const Bytes& lastBytes,
                      uint32_t lastResult) {
  Bytes input;
  auto state = std::make_unique<DecoderState>();
  ResetDecoderState(state.get());
  Bytes output(BlockBufferSize);
  uint32_t result = 0;
  for (const Block& b : blocks) {
    input.push_back((uint8_t)(b.request >> 8));
    input.push_back((uint8_t)b.request);
    input.push_back((uint8_t)(b.body.size() >> 8));
    input.push_back((uint8_t)b.body.size());
    input.insert(input.end(), b.body.begin(), b.body.end());
    uint32_t expanded = b.request > BlockBufferSize ? b.request : Bounded(b);
    result = DecodeBlock(state.get(), output.data(), expanded, b.body.data(), (uint32_t)b.body.size());
  }
  Expect(result == lastResult, name, "decode result " + std::to_string(result));
  Expect(std::equal(lastBytes.begin(), lastBytes.end(), output.begin()), name, "expanded bytes");
  Write("fuzz_decoder", name, input);
}

// One block through the encoder, its body padded to the target's bound.
Block Encoded(EncoderState* state, const Bytes& data) {
  Block b = {(uint32_t)data.size(), {}};
  uint32_t covered = EncodeBlock(state, data.data(), (uint32_t)data.size(), true, &b.body);
  if (covered != data.size()) abort();
  while (Bounded(b) < b.request) b.body.push_back(0);
  return b;
}

// A block of 61,300 literals: the root reaches the rebuild limit after
// 61,126 symbols.
Block RebuildBlock(Bytes* data) {
  BitWriter w;
  data->clear();
  for (uint32_t i = 0; i < 61300; ++i) data->push_back(i % 97 == 0 ? (uint8_t)("setup"[i % 5]) : 'a');
  for (uint8_t byte : *data) w.Literal(byte);
  return {(uint32_t)data->size(), w.bytes()};
}

Bytes RunsData() {
  Bytes data = Text("runs: ");
  for (uint32_t length : {3u, 4u, 5u, 316u, 317u, 319u, 320u, 700u}) {
    data.insert(data.end(), length, (uint8_t)('A' + length % 26));
    data.push_back('|');
  }
  return data;
}

const char* Words =
    "[Setup]\r\nTitle=Talvenor Installer\r\nSource=A:\\\r\nDest=C:\\TALVENOR\r\n"
    "[Files]\r\nsetup.exe=1\r\ninstall.ex_=1\r\ninstall.sc_=1\r\n";

void DecoderSeeds() {
  WriteDecoderSeed("abc", {{3, {0xF6, 0xFB, 0xBD, 0xE0}}}, Text("abc"), DecodeOk);
  WriteDecoderSeed("abcabcxxxx", {{10, {0xF6, 0xFB, 0xBD, 0xF1, 0x80, 0x05, 0xED, 0x04, 0xC6, 0x80}}},
                   Text("abcabcxxxx"), DecodeOk);
  WriteDecoderSeed("first-byte-zero", {{1, {0x00}}}, {0x74}, DecodeOk);
  WriteDecoderSeed("nothing", {{0, {}}}, {}, DecodeOk);
  WriteDecoderSeed("refused-size", {{0xFFFF, {0xF6, 0xFB, 0xBD, 0xE0}}}, {}, DecodeOutputOverflow);
  WriteDecoderSeed("overrun", {{6, {0xF6, 0xFB, 0xBD, 0xE0}}}, Text("abc"), DecodeInputOverrun);

  auto state = std::make_unique<EncoderState>();
  Bytes words = Text(Words);
  WriteDecoderSeed("literals", {Encoded(state.get(), Text("Talvenor setup: please wait"))},
                   Text("Talvenor setup: please wait"), DecodeOk);
  Bytes runs = RunsData();
  WriteDecoderSeed("runs", {Encoded(state.get(), runs)}, runs, DecodeOk);
  Bytes repeated = Cat(Cat(words, words), words);
  WriteDecoderSeed("matches", {Encoded(state.get(), repeated)}, repeated, DecodeOk);

  // The second block copies the tokens, runs among them, that the first
  // left in the ring.
  auto chained = std::make_unique<EncoderState>();
  Bytes first = Cat(runs, words), second = Cat(words, runs);
  Block a = Encoded(chained.get(), first), b = Encoded(chained.get(), second);
  WriteDecoderSeed("ring-of-the-block-before", {a, b}, second, DecodeOk);

  Bytes rebuilt;
  WriteDecoderSeed("tree-rebuild", {RebuildBlock(&rebuilt)}, rebuilt, DecodeOk);

  // The last run passes the buffer; the body is padded to the bound.
  Block overflow = {BlockBufferSize, OverflowingBlock()};
  if (Bound(overflow.body.size()) >= BlockBufferSize) abort();
  while (Bound(overflow.body.size()) < BlockBufferSize) overflow.body.push_back(0);
  WriteDecoderSeed("overflow", {overflow}, {}, DecodeOutputOverflow);
}

// --- fuzz_records: an option byte, then a pack file -------------------------

Bytes Record(uint32_t packedSize, uint32_t expandedSize, const Bytes& body) {
  Bytes out;
  AppendRecordHeader(&out, packedSize, expandedSize);
  return Cat(out, body);
}

Bytes Checked(const Bytes& data, bool withCheck = true) {
  auto state = std::make_unique<EncoderState>();
  Bytes out;
  PackFile(state.get(), data.data(), data.size(), withCheck, &out, nullptr);
  return out;
}

// The check record's body edited and resealed.
Bytes Resealed(Bytes file, void (*edit)(Bytes* body)) {
  uint32_t size = ReadLE32(&file[8]);
  Bytes body(file.begin() + PackHeaderSize, file.begin() + PackHeaderSize + size);
  edit(&body);
  WriteLE32(&body[body.size() - 4], Crc32Update(0, body.data(), (uint32_t)body.size() - 4));
  Bytes out(file.begin(), file.begin() + 8);
  out.resize(PackHeaderSize);
  WriteLE32(&out[8], (uint32_t)body.size());
  out = Cat(out, body);
  out.insert(out.end(), file.begin() + PackHeaderSize + ReadLE32(&file[8]), file.end());
  return out;
}

// Pads each compressed record's body with bytes the decoder never reads, up
// to the target's bound, so that the target reads the file as written.
Bytes PaddedToBound(const Bytes& file) {
  Bytes out;
  size_t at = 0;
  while (at + PackHeaderSize <= file.size()) {
    uint32_t packedSize = ReadLE32(&file[at + 8]), expandedSize = ReadLE32(&file[at + 12]);
    uint32_t size = packedSize ? packedSize : expandedSize;
    if (packedSize > BlockBufferSize || expandedSize > BlockBufferSize ||
        file.size() - at - PackHeaderSize < size) {
      break;
    }
    Bytes body(file.begin() + at + PackHeaderSize, file.begin() + at + PackHeaderSize + size);
    while (packedSize != 0 && Bound(body.size()) < expandedSize) body.push_back(0);
    out = Cat(out, Record(packedSize ? (uint32_t)body.size() : 0, expandedSize, body));
    at += PackHeaderSize + size;
  }
  out.insert(out.end(), file.begin() + at, file.end());
  return out;
}

void WriteRecordsSeed(const std::string& name, uint8_t options, const Bytes& written,
                      const std::string& error) {
  Bytes file = PaddedToBound(written);
  std::vector<std::vector<uint8_t>> expanded;
  std::string got;
  bool ok = ExpandPackedData({file}, &expanded, nullptr, nullptr, &got);
  if (error.empty()) {
    Expect(ok, name, "fails: " + got);
  } else {
    Expect(!ok && got.find(error) != std::string::npos, name, "expected '" + error + "', got '" + got + "'");
  }
  Bytes input = {options};
  Write("fuzz_records", name, Cat(input, file));
}

void RecordsSeeds() {
  Bytes abc = Record(0, 3, Text("abc"));
  WriteRecordsSeed("stored", 0, abc, "");
  WriteRecordsSeed("compressed-abc", 0, Record(4, 3, {0xF6, 0xFB, 0xBD, 0xE0}), "");
  WriteRecordsSeed("header-only", 0, Text("PACKDAT$"), "unexpected end of file");
  WriteRecordsSeed("size-error", 0, Record(BlockBufferSize + 1, 0, {}), "damaged record header");
  WriteRecordsSeed("read-error", 0, Record(0, 10, Text("abc")), "unexpected end of file");
  WriteRecordsSeed("block-damaged", 0, Record(4, 6, {0xF6, 0xFB, 0xBD, 0xE0}), "damaged data");

  // Stored and compressed records through one ring, the later ones
  // copying from the earlier.
  auto state = std::make_unique<EncoderState>();
  Bytes words = Text(Words), runs = RunsData();
  Bytes file = abc, expansion = Text("abc");
  std::vector<uint32_t> crcs = {Crc32Update(0, expansion.data(), 3)};
  for (const Bytes& data : {Cat(runs, words), Cat(words, runs)}) {
    Bytes body;
    EncodeBlock(state.get(), data.data(), (uint32_t)data.size(), true, &body);
    file = Cat(file, Record((uint32_t)body.size(), (uint32_t)data.size(), body));
    expansion = Cat(expansion, data);
    crcs.push_back(Crc32Update(0, data.data(), (uint32_t)data.size()));
  }
  WriteRecordsSeed("records-mixed", 0, file, "");
  // The same records after a check record that lists them.
  CheckRecord check = {};
  check.listedRecords = (uint32_t)crcs.size();
  check.expandedSize = expansion.size();
  check.crc = Crc32Update(0, expansion.data(), (uint32_t)expansion.size());
  Bytes body(CheckFixedSize + 4 * crcs.size());
  WriteCheckRecord(body.data(), (uint32_t)body.size(), &check, crcs.data());
  Bytes checkedRecords = Cat(Record((uint32_t)body.size(), 0, body), file);
  WriteRecordsSeed("checked-three-records", 0, checkedRecords, "");
  // The same through the target's options: a destination that takes 1,000
  // bytes, no progress and nothing asked back, a progress range the loop
  // replaces, a progress target of 0.
  WriteRecordsSeed("checked-write-fails", 0x40, checkedRecords, "");
  WriteRecordsSeed("checked-nothing-asked", 0x14, checkedRecords, "");
  WriteRecordsSeed("checked-progress-40-to-20", 0x08, checkedRecords, "");
  WriteRecordsSeed("checked-progress-target-0", 0x0C, checkedRecords, "");
  // A file with more records than a check record holds lists none.
  WriteRecordsSeed("checked-lists-none", 0,
                   Resealed(checkedRecords,
                            [](Bytes* b) {
                              (*b)[12] = 0;
                              b->erase(b->end() - 16, b->end() - 4);
                            }),
                   "");

  // No block that rebuilds the tree: fuzz_decoder has it, and here its
  // mutations, at 61,000 symbols each, took most of the time.

  // Checked files: one record, and several records (text with long repeats).
  Bytes text;
  for (int i = 0; text.size() < 1500; ++i) text = Cat(text, Text(std::to_string(i) + ": " + Words));
  Bytes good = Checked(text);
  WriteRecordsSeed("checked", 0, good, "");
  WriteRecordsSeed("checked-sealed-by-the-target", 3, good, "");
  WriteRecordsSeed("checked-empty", 0, Checked({}), "");

  WriteRecordsSeed("check-not-first", 0, Cat(abc, good), "not the first record)");
  Bytes expandedSize = good;
  expandedSize[12] = 1;
  WriteRecordsSeed("check-expanded-size", 0, expandedSize, "expanded size 1, not 0)");
  Bytes damaged = good;
  damaged[PackHeaderSize + 24] ^= 1;
  WriteRecordsSeed("check-damaged", 0, damaged, "damaged check record (record 0 at offset 0: damaged)");
  WriteRecordsSeed("check-short", 0, Record(12, 0, {'P', 'A', 'C', 'K', 'C', 'H', 'K', 0x1A, 1, 0, 0, 0}),
                   "damaged check record (record 0 at offset 0: damaged)");
  WriteRecordsSeed("check-unknown-version", 0, Resealed(good, [](Bytes* b) { (*b)[8] = 2; }),
                   "layout version 2 unknown)");
  WriteRecordsSeed("check-size-mismatch", 0, Resealed(good, [](Bytes* b) { (*b)[16] ^= 1; }),
                   "its check record says");
  WriteRecordsSeed("check-crc-mismatch", 0, Resealed(good, [](Bytes* b) { (*b)[27] ^= 0x80; }),
                   "bytes of CRC-32");
  WriteRecordsSeed("check-list-mismatch", 0,
                   Resealed(checkedRecords,
                            [](Bytes* b) {
                              (*b)[12] = 2;
                              b->erase(b->end() - 8, b->end() - 4);
                            }),
                   "has 3 data records, its check record lists 2");
}

// --- fuzz_roundtrip: three option bytes, then the data ---------------------

void RoundtripSeeds() {
  // setuppack's settings: run threshold 4, three passes, check records,
  // chain limit 256; no run at the end.
  const Bytes defaults = {0x24, 0xFF, 0x00};
  Bytes text;
  for (int i = 0; text.size() < 400; ++i) text = Cat(text, Text(std::to_string(i) + ": " + Words));
  Write("fuzz_roundtrip", "empty", defaults);
  Write("fuzz_roundtrip", "text", Cat(defaults, text));
  Write("fuzz_roundtrip", "text-no-check-fast", Cat({0x44, 0x07, 0x00}, text));
  Write("fuzz_roundtrip", "runs", Cat(defaults, RunsData()));
  Write("fuzz_roundtrip", "mixed", Cat({0x15, 0x3F, 0x00}, MixedBytes(800, 11)));
  Write("fuzz_roundtrip", "random", Cat(defaults, RandomBytes(300, 12)));
  // 6,000 bytes of text and mixed bytes, more than a ring turn of tokens,
  // and a 64 KiB run make the second file two blocks, the first cut at a ring
  // turn, and with split blocks (bit 7) the search for a better end; one pass
  // and a chain limit of 16 keep its time down.
  Bytes longText;
  for (int i = 0; longText.size() < 4500; ++i)
    longText = Cat(longText, Text(std::to_string(i) + ": " + Words));
  Write("fuzz_roundtrip", "several-blocks-split",
        Cat(Cat({0x84, 0x0F, 0xFF}, longText), MixedBytes(1500, 13)));
}

// --- fuzz_iso: disc images from their volume descriptors on ----------------

// Writes an image's bytes from sector 16 on, once reading the whole image
// gives `files` files (-1: it is refused).
void IsoSeed(const std::string& name, const IsoTestImage& iso, int files) {
  const size_t SystemArea = 16 * IsoTestImage::Sector;
  char path[] = "/tmp/make_fuzz_seeds-XXXXXX";
  int fd = mkstemp(path);
  Expect(
      fd >= 0 && write(fd, iso.bytes.data(), iso.bytes.size()) == (ssize_t)iso.bytes.size() && close(fd) == 0,
      name, "cannot write a temporary image");
  FileReader file;
  std::string error;
  std::vector<IsoFile> listed;
  bool read = file.Open(path, &error) && IsIsoImage(&file, 0, iso.bytes.size()) &&
              ReadIsoImage(&file, 0, iso.bytes.size(), &listed, &error);
  unlink(path);
  Expect(files < 0 ? !read : read && listed.size() == (size_t)files, name,
         "read as " + std::to_string(read ? (int)listed.size() : -1) + " files: " + error);
  Write("fuzz_iso", name, Bytes(iso.bytes.begin() + SystemArea, iso.bytes.end()));
}

// A media tree: SETUP/DISK1 with the two pack files, and a file in the root.
IsoTestImage MediaTree() {
  const size_t S = IsoTestImage::Sector;
  IsoTestImage iso(24, 2048, 18, S);
  for (uint32_t folder : {18, 19, 20}) {
    iso.used = 0;
    iso.Add(folder * S, folder, S, 2, std::string(1, '\0'));
    iso.Add(folder * S, folder == 18 ? 18 : folder - 1, S, 2, std::string(1, '\1'));
  }
  iso.used = 68;
  iso.Add(18 * S, 23, 5, 0, "README.TXT;1");
  iso.Add(18 * S, 19, S, 2, "SETUP");
  iso.used = 68;
  iso.Add(19 * S, 20, S, 2, "DISK1");
  iso.used = 68;
  iso.Add(20 * S, 21, 100, 0, "INSTALL.SC_;1");
  iso.Add(20 * S, 22, 200, 0, "INSTALL.EX_;1");
  memcpy(&iso.bytes[21 * S], "PACKDAT$", 8);
  memcpy(&iso.bytes[22 * S], "PACKDAT$", 8);
  memcpy(&iso.bytes[23 * S], "read\n", 5);
  return iso;
}

void IsoSeeds() {
  const size_t S = IsoTestImage::Sector;
  IsoSeed("media-tree", MediaTree(), 3);
  // Joliet names: a supplementary descriptor (UCS-2 level 3) after the
  // primary one, each with a root folder naming the two pack files.
  IsoTestImage joliet(24, 2048, 20, S);
  uint8_t* svd = &joliet.bytes[17 * S];
  memset(svd, 0, S);
  svd[0] = 2;
  memcpy(svd + 1, "CD001", 5);
  memcpy(svd + 88, "%/E", 3);
  svd[128] = 0x00, svd[129] = 0x08;
  IsoTestImage::Record(svd + 156, 21, S, 2, std::string(1, '\0'));
  joliet.bytes[18 * S] = 255;
  memcpy(&joliet.bytes[18 * S + 1], "CD001", 5);
  auto ucs2 = [](const std::string& text) {
    std::string wide;
    for (char c : text) wide += std::string(1, '\0') + c;
    return wide;
  };
  for (uint32_t root : {20, 21}) {
    joliet.used = 0;
    joliet.Add(root * S, root, S, 2, std::string(1, '\0'));
    joliet.Add(root * S, root, S, 2, std::string(1, '\1'));
    joliet.Add(root * S, 22, 100, 0, root == 20 ? "INSTALL.SC_;1" : ucs2("install.sc_;1"));
    joliet.Add(root * S, 23, 200, 0, root == 20 ? "INSTALL.EX_;1" : ucs2("install.ex_;1"));
  }
  memcpy(&joliet.bytes[22 * S], "PACKDAT$", 8);
  memcpy(&joliet.bytes[23 * S], "PACKDAT$", 8);
  IsoSeed("joliet", joliet, 2);
  // A root that names itself as a folder and a file beyond the image.
  IsoTestImage loop(19, 2048, 18, S);
  loop.Add(18 * S, 18, S, 2, std::string(1, '\0'));
  loop.Add(18 * S, 18, S, 2, "AGAIN");
  loop.Add(18 * S, 400, 100, 0, "GONE.TXT;1");
  IsoSeed("loop", loop, 0);
  // Blocks of 512 bytes, and folders that overlap.
  IsoTestImage overlap(26, 512, 18 * 4, 8 * S);
  for (uint32_t block = 18 * 4; block < 26 * 4; ++block) {
    overlap.Add(18 * S, block, (uint32_t)(26 * S - block * 512), 2, "A");
  }
  IsoSeed("overlapping-folders", overlap, -1);
}

// --- fuzz_seal: setup.exe images ---------------------------------------------

void SealSeeds(const char* setupExe) {
  const Bytes script = Text("sc"), installer = Text("exe");
  auto seed = [](const std::string& name, const Bytes& image, bool sealable) {
    Bytes copy = image;
    std::string error;
    Expect(SealImage(&copy, name, {1}, {2}, &error) == sealable, name, sealable ? error : "sealed");
    Write("fuzz_seal", name, image);
  };
  const Bytes unsealed = ImageOf({1024, 512, 512, 512, 600, 0});
  seed("unsealed", unsealed, true);
  Bytes sealed = unsealed;
  std::string error;
  Expect(SealImage(&sealed, "sealed", script, installer, &error), "sealed", error);
  seed("sealed", sealed, true);
  seed("odd-size-checksum-set", ImageOf({1023, 512, 4096, 0, 700, 0xA5A5A5A5}), true);
  seed("block-fills-the-section", ImageOf({1024, 512, 512, 512, 1024 - SealBlockSize, 0}), true);
  seed("block-past-the-section", ImageOf({1024, 512, 256, 256, 768 - SealBlockSize + 1, 0}), false);
  seed("block-past-the-loaded-part", ImageOf({1024, 512, 256, 150, 600, 0}), false);
  seed("identifier-at-the-file-end", ImageOf({1024, 512, 4096, 4096, 1016, 0}), false);
  Bytes pe32plus = unsealed;
  WriteLE32(&pe32plus[PeHeaderAt + 24], 0x20b);  // PE32+: the directories begin 16 bytes later
  WriteLE32(&pe32plus[PeHeaderAt + 24 + 108], 16);
  seed("pe32plus", pe32plus, true);
  Bytes isSigned = unsealed;
  WriteLE32(&isSigned[PeHeaderAt + 24 + 128], 0x400);  // the certificate table's offset
  seed("signed", isSigned, false);
  Bytes twoBlocks = unsealed;
  memcpy(&twoBlocks[800], SealId, SealIdSize);
  seed("two-blocks", twoBlocks, false);
  Bytes damagedState = unsealed;
  damagedState[600 + SealStateOffset] ^= 1;
  seed("damaged-state", damagedState, true);
  Bytes unknownVersion = unsealed;
  WriteLE32(&unknownVersion[600 + SealIdSize], SealLayoutVersion + 1);
  seed("unknown-version", unknownVersion, false);
  seed("no-block", Bytes(unsealed.begin(), unsealed.begin() + 512), false);
  seed("not-a-program", Text("MZ"), false);
  if (setupExe) {
    Bytes built = ReadFileBytes(setupExe);
    Expect(!built.empty(), "setup-exe", std::string("cannot read ") + setupExe);
    seed("setup-exe", built, true);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    fprintf(stderr, "usage: make_fuzz_seeds FOLDER [SETUP_EXE]\n");
    return 2;
  }
  folder = argv[1];
  mkdir(folder.c_str(), 0777);
  for (const char* target : {"fuzz_decoder", "fuzz_iso", "fuzz_records", "fuzz_roundtrip", "fuzz_seal"}) {
    mkdir((folder + "/" + target).c_str(), 0777);
  }
  DecoderSeeds();
  RecordsSeeds();
  RoundtripSeeds();
  IsoSeeds();
  SealSeeds(argc == 3 ? argv[2] : nullptr);
  if (failures) fprintf(stderr, "%d seeds are not what they should be\n", failures);
  return failures ? 1 : 0;
}
