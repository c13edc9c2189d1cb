// What unpack, test, extract and seal share: pack files named on the
// command line, read and expanded in order through one decoder state, each
// into its planned destination, and put in place once all are checked.
#pragma once

#include <stddef.h>

#include <memory>
#include <string>
#include <vector>

#include "expand/expand.h"
#include "media/seal_image.h"
#include "platform/file_io.h"
#include "rescue/salvage.h"

// The expansion of a pack file on its way to its planned destination. A
// write that fails is kept and the rest of the file is expanded all the
// same (and dropped): the files after it continue its decoder state, and
// are still to be checked.
class DestinationSink final : public ExpansionSink {
 public:
  explicit DestinationSink(const Destination& destination) : writer(destination) {}
  void Take(const uint8_t* data, size_t size) override {
    if (failure.empty()) writer.Write(data, size, &failure);
  }
  DestinationWriter writer;
  std::string failure;  // why it cannot be written (empty: it can)
};

// Pack files read, expanded and checked in order through one decoder state.
struct Expansion {
  bool hashed = false;                // take the seals of the files as they are read
  std::vector<SealedPackFile> seals;  // of the files read whole, when hashed
  std::vector<size_t> padding;        // bytes of padding after each file's last record
  bool quiet = false;                 // -q: no notes
  bool verbose = false;               // -v: a line for each file when it is done
  std::vector<PackCheck> checks;      // of the files that expanded whole
  // The files being written, in order; after one that failed, none.
  std::vector<std::unique_ptr<DestinationSink>> written;
  // With --salvage: what was had of each file (then every file is expanded).
  std::vector<SalvageReport> salvaged;
};

// Whether path names an INSTALL.EX_ (in any letter case): it expands after
// the INSTALL.SC_ beside it.
bool IsInstallerName(const std::string& path);

// Reads and expands pack files in order through one decoder state, each
// into its planned destination as it comes (destinations null: checked
// only). Returns false, with *failed the file that failed and *error why,
// when a file cannot be read or is damaged: then nothing is written (every
// temporary is removed). With salvage, damage does not stop it: every file
// is expanded as far as it can be (expansion->salvaged says how), and only
// a file that cannot be read fails. A destination that cannot be written
// stops the writing, not the checks: the files after it are checked as
// well, and CommitAll reports it.
bool ReadAndExpand(const std::vector<std::string>& names, const std::vector<Destination>* destinations,
                   bool salvage, Expansion* expansion, size_t* failed, std::string* error);

// Says what --salvage had of each file that was damaged (on standard
// error, with every stretch); true when every file was whole.
bool ReportSalvage(const std::vector<std::string>& names, const std::vector<std::string>& targets,
                   const Expansion& expansion);

// Puts the written destinations in place, in order: those before one that
// failed stay in place, and its failure is the error.
bool CommitAll(Expansion* expansion, std::string* error);
