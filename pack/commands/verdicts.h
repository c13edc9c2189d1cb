// What test, list and scan found, as data: filled by the commands as they
// go when setuppack --json asks for it, and written once the command is
// done as one JSON document (cli/json_report.h; docs/json.md describes it).
#pragma once

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "record_reader.h"  // PackCheck

struct RecordVerdict {  // list: one record of a pack file
  uint32_t offset;
  const char* type;  // "check", "compressed", "stored"
  uint32_t packedSize, expandedSize;
};

struct FileVerdict {
  std::string path;              // as the text output names it
  std::string container;         // the program that carries it ("" for none)
  int64_t carriedAt = -1;        // its offset in that program
  const char* verdict = "ok";    // "ok", "damaged", "not_tested", "unreadable"
  int64_t packedSize = -1;       // -1: not known
  int64_t expandedSize = -1;     // of a file that expanded whole
  const char* checkRecord = "";  // "match", "absent", "damaged", "unknown_layout" ("": not known)
  bool hasCrc = false;           // crc: of the expansion, as the check record gives it
  uint32_t crc = 0;
  std::string error;                             // what is wrong ("" for nothing)
  int64_t damageRecord = -1, damageOffset = -1;  // the first damaged record, and its offset
  bool listed = false;                           // list: records holds every record
  std::vector<RecordVerdict> records;
};

// Where the first damaged record lies, from a message that names it as
// "record N at offset M".
inline void SetDamage(FileVerdict* file, const std::string& why) {
  file->error = why;
  size_t at = why.find("record ");
  while (at != std::string::npos) {
    char* end = nullptr;
    const char* text = why.c_str() + at + 7;
    long long record = strtoll(text, &end, 10);
    if (end != text && strncmp(end, " at offset ", 11) == 0) {
      file->damageRecord = record;
      file->damageOffset = strtoll(end + 11, nullptr, 10);
      return;
    }
    at = why.find("record ", at + 1);
  }
}

// A pack file that expanded whole, as its check record vouched for it.
inline FileVerdict WholeFile(const std::string& path, int64_t packedSize, const PackCheck& check) {
  FileVerdict file;
  file.path = path;
  file.packedSize = packedSize;
  file.expandedSize = (int64_t)check.expandedSize;
  file.checkRecord = check.present ? "match" : "absent";
  file.hasCrc = check.present != 0;
  file.crc = check.expectedCrc;
  return file;
}

// One that failed (why says how), or was not tested after one that failed.
inline FileVerdict FailedFile(const std::string& path, int64_t packedSize, const char* verdict,
                              const std::string& why) {
  FileVerdict file;
  file.path = path;
  file.packedSize = packedSize;
  file.verdict = verdict;
  if (!why.empty()) SetDamage(&file, why);
  return file;
}

struct FindVerdict {  // scan: one find
  std::string where;  // as the listing shows it
  std::string image;  // the file it lies in, as given or found under a PATH given
  const char* kind;   // "media", "chained_pair", "pack_file"
  std::vector<FileVerdict> files;
};

struct Verdicts {
  bool wanted = false;  // --json: fill what follows
  std::vector<FileVerdict> files;
  std::string sealPath;   // setup.exe or the program ("" when nothing was looked at)
  const char* seal = "";  // "match", "mismatch", "unsealed", "no_seal_block", "no_setup"
  std::vector<FindVerdict> finds;
};
