#include "expand/layout.h"

#include <string.h>

#include <algorithm>

#include "check_record.h"

namespace {

bool IsPadding(const uint8_t* data, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    if (data[i] != 0x00 && data[i] != 0x1A) return false;
  }
  return true;
}

std::string Bytes(size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

std::string RecordAt(size_t index, size_t offset) {
  return "record " + std::to_string(index) + " at offset " + std::to_string(offset);
}

}  // namespace

size_t FindRecordMagic(const uint8_t* data, size_t size, size_t from) {
  if (from >= size) return size;
  const uint8_t* magic = reinterpret_cast<const uint8_t*>(PackMagic);
  const uint8_t* at = std::search(data + from, data + size, magic, magic + PackMagicSize);
  return (size_t)(at - data);
}

RecordChain ReadChain(const uint8_t* data, size_t size, size_t from) {
  RecordChain chain;
  chain.from = from;
  size_t at = from;
  while (at < size) {
    size_t left = size - at;
    size_t magicBytes = std::min<size_t>(left, PackMagicSize);
    bool magic = memcmp(data + at, PackMagic, magicBytes) == 0;
    chain.endOffset = at;
    if (left < PackHeaderSize && magic) {
      chain.end = ChainEnd::Cut;  // inside a header
      return chain;
    }
    if (!magic || ReadLE32(data + at + 8) > BlockBufferSize || ReadLE32(data + at + 12) > BlockBufferSize) {
      if (!magic && IsPadding(data, at, size) && !chain.records.empty()) {
        chain.end = ChainEnd::Padding;
        return chain;
      }
      chain.resume = FindRecordMagic(data, size, at + 1);
      chain.end = chain.resume < size ? ChainEnd::BadHeader : magic ? ChainEnd::BadHeader : ChainEnd::Garbage;
      return chain;
    }
    ListedRecord r = {(uint32_t)at, ReadLE32(data + at + 8), ReadLE32(data + at + 12), false};
    uint32_t body = r.packedSize != 0 ? r.packedSize : r.expandedSize;
    if (left - PackHeaderSize < body) {
      chain.end = ChainEnd::Cut;
      chain.cutHeaderWhole = true;
      chain.cutPackedSize = r.packedSize;
      chain.cutExpandedSize = r.expandedSize;
      return chain;
    }
    r.isCheck = r.packedSize != 0 && IsCheckRecordBody(data + at + PackHeaderSize, r.packedSize);
    chain.records.push_back(r);
    at += PackHeaderSize + body;
  }
  chain.endOffset = size;
  chain.end = ChainEnd::Whole;
  return chain;
}

PackLayout ReadLayout(const std::vector<uint8_t>& packed) { return ReadLayout(packed.data(), packed.size()); }

PackLayout ReadLayout(const uint8_t* packed, size_t size) {
  PackLayout layout;
  layout.size = size;
  layout.startsAsRecord = size > 0 && memcmp(packed, PackMagic, std::min<size_t>(size, PackMagicSize)) == 0;
  layout.chains.push_back(ReadChain(packed, size, 0));
  while (layout.chains.back().end == ChainEnd::BadHeader && layout.chains.back().resume < size) {
    layout.chains.push_back(ReadChain(packed, size, layout.chains.back().resume));
  }
  return layout;
}

std::string DescribeChainEnd(const RecordChain& chain, size_t fileSize) {
  size_t index = chain.records.size();
  switch (chain.end) {
    case ChainEnd::Whole:
    case ChainEnd::Padding:
      return "";
    case ChainEnd::Cut:
      return "unexpected end of file (" + RecordAt(index, chain.endOffset) + ")";
    case ChainEnd::Garbage:
      return "trailing garbage at offset " + std::to_string(chain.endOffset) + " (" +
             Bytes(fileSize - chain.endOffset) + " after the last record)";
    case ChainEnd::BadHeader:
      return "damaged record header (" + RecordAt(index, chain.endOffset) + ")";
  }
  return "";
}

std::string DescribePadding(const RecordChain& chain, size_t fileSize) {
  return "trailing padding ignored (" + Bytes(fileSize - chain.endOffset) + " at offset " +
         std::to_string(chain.endOffset) + "; setup.exe does not ignore it)";
}
