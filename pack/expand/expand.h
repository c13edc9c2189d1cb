// The one way a pack file expands: from a source (expand/source.h: a file,
// a pipe put aside, a scratch file, memory) through the record loop into a
// sink, as it is read, with its check record verified; a failure says the
// first record that fails, the same way for every source.
//
// expand/ uses the format (unpack/) and platform/ only: expander.h (the
// decoder and the sink), source.h, this path, layout.h (the record chain read
// from the headers alone) and records.h (listing and describing records).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "expand/expander.h"
#include "expand/source.h"
#include "record_reader.h"

// Expands one pack file from source through the expander's decoder,
// continuing the state the files before it left, verifies its check record,
// and hands its bytes to sink as they come (null: they are dropped).
//
// On a failure, *error says why, as gzip would after the file's name: "not
// in pack format", "unexpected end of file (record 5 at offset 88196)",
// "damaged data (record 3 at offset 20000)", or how the expansion differs
// from the check record and the first record that differs. It is said from
// the whole file, expanded again from the state before it: memory is whole
// already, and a file of at most 64 MiB is read again whole (source->Whole());
// a larger one keeps what the stream found, so that memory does not grow
// with a damaged input. A file that cannot be read fails with
// source->ReadError(). Zero and 0x1A bytes after the last record are
// ignored; *note (when not null) then says so.
bool ExpandPackFile(PackExpander* expander, PackedSource* source, ExpansionSink* sink, PackCheck* check,
                    std::string* error, std::string* note = nullptr);

// The same for a pack file held in memory.
bool ExpandPackFile(PackExpander* expander, const std::vector<uint8_t>& packed, ExpansionSink* sink,
                    PackCheck* check, std::string* error, std::string* note = nullptr);

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
