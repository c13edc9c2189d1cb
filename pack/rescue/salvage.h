// Salvage: what can still be had from a damaged pack file, as cabextract's
// --fix gives it from damaged cabinets.
//
// rescue/ holds what reads damaged or hidden pack files: this salvage, the
// search for pack files in any file, folder tree or disc image
// (scan_search.h) and the readers of the file systems it looks into
// (iso9660.h). It uses expand/, platform/ and the format; it prints nothing.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "expand/expander.h"
#include "record_reader.h"

struct SalvageReport {
  bool whole = false;     // expanded and verified as unpack would: nothing was salvaged
  bool checked = false;   // the file begins with a check record that lists each record's CRC-32
  uint64_t written = 0;   // bytes handed to the sink
  uint64_t vouched = 0;   // of them, in records whose CRC-32 matches the check record
  uint64_t expected = 0;  // what the check record says the file expands to (checked files)
  // Where the vouched bytes lie in the expansion: (offset, length), in order.
  std::vector<std::pair<uint64_t, uint64_t>> vouchedStretches;
  // Each damaged or missing stretch, with the record, its offset in the pack
  // file, and where and how long it is in the expansion.
  std::vector<std::string> damage;
  std::string note;  // trailing padding ignored
  PackCheck check;   // of a file that expanded whole: what its check record said
};

// Expands what the pack file still holds through the expander's decoder
// into sink: every record whose header is whole, at its place in the
// expansion, as it decodes (those whose CRC-32 does not match the check
// record are reported); of a record cut short, the bytes before the cut; a
// missing stretch with bytes after it as zero bytes of its length, when
// the check record tells it (else the records after it are not written); a
// missing end is left off. A file that expands whole is expanded as
// ExpandPackFile does it (report->whole).
void SalvagePackFile(PackExpander* expander, const std::vector<uint8_t>& packed, ExpansionSink* sink,
                     SalvageReport* report);
