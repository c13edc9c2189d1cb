// Any bytes through the encoder and back must come out unchanged, in two
// files packed through one state, with check records or without: through the
// record loop that setuppack and setup.exe run (which verifies the check
// records against zlib's CRC-32 here), and through the plain reference
// decoder that knows only records and blocks. The encoder's copy of the ring
// must end as the decoders' ring.
//
// Input: two option bytes, then the data.
//   byte 0  bits 0-3 run threshold, bits 4-5 parse passes (1, 2, 3, 1),
//           bit 6 no check records, bit 7 split blocks
//   byte 1  chain limit - 1
// The first third of the data is the first file; the second is the rest
// followed by the first three times, so that long runs and far matches occur
// and it copies from what the first file left in the ring.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <memory>
#include <vector>

#include "encoder.h"
#include "pack_files.h"
#include "reference_decoder.h"

namespace {

uint32_t ZlibCrc(const std::vector<uint8_t>& data) {
  return data.empty() ? 0 : (uint32_t)crc32(0, data.data(), (uInt)data.size());
}

// Expands a pack file as a reader that knows nothing of check records.
std::vector<uint8_t> ExpandByFormatAlone(const std::vector<uint8_t>& file, ReferenceDecoder* decoder) {
  std::vector<uint8_t> out;
  for (size_t at = 0; at < file.size();) {
    if (file.size() - at < PackHeaderSize || memcmp(file.data() + at, PackMagic, PackMagicSize) != 0) abort();
    uint32_t packedSize = ReadLE32(file.data() + at + 8), expandedSize = ReadLE32(file.data() + at + 12);
    at += PackHeaderSize;
    uint32_t body = packedSize != 0 ? packedSize : expandedSize;
    if (file.size() - at < body) abort();
    if (packedSize == 0) {
      out.insert(out.end(), file.data() + at, file.data() + at + expandedSize);
    } else {
      std::vector<uint8_t> block = decoder->Decode(file.data() + at, packedSize, expandedSize);
      if (decoder->Consumed() > 8 * packedSize || block.size() > BlockBufferSize) abort();
      out.insert(out.end(), block.begin(), block.begin() + expandedSize);
    }
    at += body;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // One encoder for every input, its ring and options set afresh each time:
  // only its work buffers, which no block reads before it writes them, carry
  // over.
  static EncoderState* const state = new EncoderState();
  memset(state->TokenRing, 0, sizeof state->TokenRing);
  state->options = EncoderOptions();
  state->options.runThreshold = data[0] & 0x0F;
  state->options.parsePasses = 1 + ((data[0] >> 4) & 3) % 3;
  bool withCheck = (data[0] & 0x40) == 0;
  state->options.splitBlocks = (data[0] & 0x80) != 0;
  state->options.chainLimit = 1 + data[1];
  size_t split = size / 3;
  std::vector<std::vector<uint8_t>> files(2);
  files[0].assign(data + 2, data + 2 + (split > 2 ? split - 2 : 0));
  files[1].assign(data + 2 + files[0].size(), data + size);
  for (int i = 0; i < 3; ++i) files[1].insert(files[1].end(), files[0].begin(), files[0].end());

  std::vector<std::vector<uint8_t>> packed(2), expanded;
  for (size_t i = 0; i < files.size(); ++i) {
    PackFile(state, files[i].data(), files[i].size(), withCheck, &packed[i], nullptr);
  }
  std::vector<PackCheck> checks;
  std::string error;
  if (!ExpandPackedData(packed, &expanded, &checks, nullptr, &error)) abort();
  if (expanded != files) abort();
  for (size_t i = 0; i < files.size(); ++i) {
    const PackCheck& c = checks[i];
    if (c.present != (withCheck ? 1u : 0u)) abort();
    if (withCheck && (c.expectedSize != files[i].size() || c.expectedCrc != ZlibCrc(files[i]) ||
                      c.listedRecords != c.dataRecords)) {
      abort();
    }
  }

  auto reference = std::make_unique<ReferenceDecoder>();
  for (size_t i = 0; i < files.size(); ++i) {
    if (ExpandByFormatAlone(packed[i], reference.get()) != files[i]) abort();
  }
  if (memcmp(reference->ring, state->TokenRing, sizeof state->TokenRing) != 0) abort();
  return 0;
}
