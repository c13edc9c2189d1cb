// The record chain of a pack file, read from its headers alone: where its
// records lie, and how the file ends (whole, padded, cut, with bytes after
// its last record, or with a damaged header and records after it). The
// expansion, list, salvage and scan all start from it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// A record as its header describes it.
struct ListedRecord {
  uint32_t offset;
  uint32_t packedSize;  // 0: stored
  uint32_t expandedSize;
  bool isCheck;  // a compressed record whose body begins as a check record's
};

enum class ChainEnd {
  Whole,      // the last record ends where the file ends
  Padding,    // then only bytes 0x00 and 0x1A (sector, cluster or CP/M padding)
  Garbage,    // then other bytes, with no record header after them
  Cut,        // a record (or its header) runs past the end of the file
  BadHeader,  // a record header is damaged, and a record header follows later
};

// Records that follow one another from `from`.
struct RecordChain {
  size_t from = 0;
  std::vector<ListedRecord> records;  // the whole records
  ChainEnd end = ChainEnd::Whole;
  size_t endOffset = 0;  // where the chain stops: the end of the file, the padding, the cut or bad record
  // Cut: the header of the record that runs past the end, when it is whole.
  bool cutHeaderWhole = false;
  uint32_t cutPackedSize = 0, cutExpandedSize = 0;
  size_t resume = 0;  // BadHeader: the next record header after the damage
};

// The chains of a file: the first from offset 0, and after each damaged
// header the one that starts at the next record header.
struct PackLayout {
  std::vector<RecordChain> chains;
  size_t size = 0;              // of the file
  bool startsAsRecord = false;  // with a record header's magic (or the part of one the file holds)
  // Not a pack file at all: it has bytes, and they do not begin with a
  // record header.
  bool NotPackFormat() const { return size > 0 && !startsAsRecord; }
  const RecordChain& first() const { return chains[0]; }
};

// Reads the chain of records that starts at `from` in data[0, size).
RecordChain ReadChain(const uint8_t* data, size_t size, size_t from);

// Reads every chain of a pack file.
PackLayout ReadLayout(const std::vector<uint8_t>& packed);
PackLayout ReadLayout(const uint8_t* packed, size_t size);

// The offset of the next record header at or after `from` (size: none).
size_t FindRecordMagic(const uint8_t* data, size_t size, size_t from);

// What is wrong with the end of a file's first chain, as setuppack says it
// ("unexpected end of file (record 5 at offset 88196)"); empty for an end
// that is whole or padded.
std::string DescribeChainEnd(const RecordChain& chain, size_t fileSize);

// The note for padding after the last record ("trailing padding ignored
// (2048 bytes at offset 14624; setup.exe does not ignore it)").
std::string DescribePadding(const RecordChain& chain, size_t fileSize);
