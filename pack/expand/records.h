// Pack files in memory: expanding and verifying them, listing their records.
// Every function returns true on success, or false with a one-line message in
// *error. Reading and writing files is file_io.h's.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "block_decoder.h"
#include "expand/layout.h"
#include "record_reader.h"

// The progress line of large inputs: "  42% of N bytes" on standard error.
void ShowPackProgress(size_t done, size_t total);

// The decoder and the record loop's two buffers, shared by the files of one
// expansion. The buffers are not cleared: the record loop reads only what it
// has filled, and clearing them costs more than the expansion of a small file.
struct PackExpander {
  DecoderState decoder;
  std::unique_ptr<uint8_t[]> input{new uint8_t[BlockBufferSize]};
  std::unique_ptr<uint8_t[]> output{new uint8_t[BlockBufferSize]};
};

// Where the expansion of a pack file goes, record by record, as it comes.
class ExpansionSink {
 public:
  virtual void Take(const uint8_t* data, size_t size) = 0;

 protected:
  ~ExpansionSink() = default;
};

// Expands one pack file through the expander's decoder, continuing the state
// the files before it left, verifies its check record, and hands its bytes to
// sink as they come (null: they are dropped). On a failure, *error says why,
// as gzip would after the file's name: "not in pack format", "unexpected end
// of file (record 5 at offset 88196)", "damaged data (record 3 at offset
// 20000)", or how the expansion differs from the check record (the file is
// then expanded again, into memory, from the state before it, to name the
// first record that differs). Zero and 0x1A bytes after the last record are
// ignored; *note (when not null) then says so.
bool ExpandPackFile(PackExpander* expander, const std::vector<uint8_t>& packed, ExpansionSink* sink,
                    PackCheck* check, std::string* error, std::string* note = nullptr);

// True when the expansion of a pack file copies from the decoder history
// that earlier files left (as a file packed after another does): it then
// expands differently after different files.
bool ContinuesEarlierHistory(const std::vector<uint8_t>& packed);

// Why a file that expanded whole failed its check record: its size, its
// CRC-32 or its number of records differs from what the check record says.
std::string CheckFailureReason(const PackCheck& check);

// What was verified of a pack file that expanded whole to size bytes.
std::string Verified(const PackCheck& check, size_t size);

// What the records of a pack file say it expands to, up to the first record
// that is not whole and at most 256 MiB: the room to make for its expansion
// at once.
size_t ListedExpansion(const std::vector<uint8_t>& packed);

// Expands pack files in memory, in order, through one fresh decoder state,
// and verifies their check records. checks (when not null) receives what was
// checked of each file, failedFile (when not null) the index of the file that
// failed. The vectors of *expanded keep their capacity and grow once, to the
// size the records list. With expanded null the files are checked and their
// bytes dropped as they come (checks then give the sizes).
bool ExpandPackedData(const std::vector<std::vector<uint8_t>>& packed,
                      std::vector<std::vector<uint8_t>>* expanded, std::vector<PackCheck>* checks,
                      size_t* failedFile, std::string* error);
// As above, in the given expander (its decoder state is reset first), for
// callers that expand many times.
bool ExpandPackedData(PackExpander* expander, const std::vector<std::vector<uint8_t>>& packed,
                      std::vector<std::vector<uint8_t>>* expanded, std::vector<PackCheck>* checks,
                      size_t* failedFile, std::string* error);

// Reads the record headers of a pack file without expanding anything.
bool ListRecords(const std::vector<uint8_t>& packed, std::vector<ListedRecord>* records, std::string* error);
