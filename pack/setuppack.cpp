// setuppack: makes the pack files that setup.exe expands, and reads them back.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "check_record.h"
#include "pack_files.h"

namespace {

const int ExitData = 1;   // bad or unreadable data, failed verification
const int ExitUsage = 2;  // the command line itself is wrong

const char Usage[] =
    "usage: setuppack [--fast|--best] [--no-check] [--] pack SOURCE PACKED [SOURCE PACKED]...\n"
    "       setuppack unpack PACKED DEST [PACKED DEST]...\n"
    "       setuppack list PACKED...\n"
    "       setuppack [--fast|--best] [--no-check] media --script FILE --installer FILE [--setup EXE] -o "
    "DIR\n"
    "\n"
    "  pack     packs each SOURCE into PACKED, in order, through one encoder state\n"
    "  unpack   expands each PACKED into DEST, in order, through one decoder state,\n"
    "           exactly as setup.exe does (script first, then installer)\n"
    "  list     shows each record (offset, stored or compressed, sizes) and totals\n"
    "  media    writes INSTALL.SC_ and INSTALL.EX_ (and copies setup.exe) into DIR\n"
    "           and verifies them by expanding them again\n"
    "\n"
    "Each pack file begins with a check record that holds the size and CRC-32\n"
    "of what it expands to; unpack, media and setup.exe refuse a file that\n"
    "does not match it.\n"
    "\n"
    "  --fast      quicker, slightly larger output\n"
    "  --best      slower, smallest output\n"
    "  --no-check  no check record: files as older versions wrote them, which\n"
    "              expand without their damage being noticed\n"
    "\n"
    "Files are expanded in the order given, and the order matters: a pack file\n"
    "may copy data from the files expanded before it.\n"
    "Exit status: 0 success, 1 data error, 2 usage error.\n";

int UsageError(const std::string& message) {
  fprintf(stderr, "setuppack: %s\n(run 'setuppack --help' for usage)\n", message.c_str());
  return ExitUsage;
}

int DataError(const std::string& message) {
  fprintf(stderr, "setuppack: %s\n", message.c_str());
  return ExitData;
}

bool Pairs(const std::vector<std::string>& args, std::vector<FilePair>* pairs) {
  if (args.empty() || args.size() % 2 != 0) return false;
  for (size_t i = 0; i < args.size(); i += 2) pairs->push_back({args[i], args[i + 1]});
  return true;
}

int List(const std::vector<std::string>& files) {
  if (files.empty()) return UsageError("list needs at least one PACKED file");
  int status = 0;
  for (const std::string& path : files) {
    std::vector<uint8_t> packed;
    std::vector<ListedRecord> records;
    std::string error;
    if (!ReadWholeFile(path, &packed, &error)) {
      status = DataError(error);
      continue;
    }
    bool ok = ListRecords(packed, &records, &error);
    printf("%s\n  %10s  %-10s  %10s  %10s\n", path.c_str(), "offset", "type", "packed", "expanded");
    uint64_t expanded = 0;
    uint32_t compressed = 0, checks = 0;
    for (const ListedRecord& r : records) {
      uint32_t body = r.packedSize ? r.packedSize : r.expandedSize;
      printf("  %10u  %-10s  %10u  %10u\n", r.offset,
             r.isCheck      ? "check"
             : r.packedSize ? "compressed"
                            : "stored",
             body, r.expandedSize);
      expanded += r.expandedSize;
      compressed += r.packedSize != 0 && !r.isCheck;
      checks += r.isCheck;
    }
    printf(
        "  %zu records (%u check, %u compressed, %zu stored): %zu bytes packed, %llu expanded, ratio %.4f\n",
        records.size(), checks, compressed, records.size() - compressed - checks, packed.size(),
        (unsigned long long)expanded, expanded ? (double)packed.size() / (double)expanded : 0.0);
    if (!records.empty() && records[0].isCheck) {
      CheckRecord check;
      uint32_t state = ReadCheckRecord(packed.data() + PackHeaderSize, records[0].packedSize, &check);
      if (state == CheckRecordOk) {
        printf("  check record: layout %u, expands to %llu bytes of CRC-32 %08x, CRCs of %u records\n",
               check.version, (unsigned long long)check.expandedSize, check.crc, check.listedRecords);
      } else if (state == CheckRecordUnknownVersion) {
        printf("  check record: layout %u, unknown to this setuppack\n", check.version);
      } else {
        printf("  check record: damaged\n");
      }
    } else if (ok) {
      printf("  no check record: damage to this file goes unnoticed\n");
    }
    if (!ok) status = DataError(path + ": " + error);
  }
  return status;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

int Media(const std::vector<std::string>& args, const EncoderOptions& options, bool withCheck) {
  std::string script, installer, setup, dir;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string* slot = a == "--script"                  ? &script
                        : a == "--installer"             ? &installer
                        : a == "--setup"                 ? &setup
                        : (a == "-o" || a == "--output") ? &dir
                                                         : nullptr;
    if (!slot) return UsageError("media: unknown argument '" + a + "'");
    if (i + 1 >= args.size()) return UsageError("media: " + a + " needs a value");
    *slot = args[++i];
  }
  if (script.empty() || installer.empty() || dir.empty()) {
    return UsageError("media needs --script FILE, --installer FILE and -o DIR");
  }
  if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) return DataError("cannot create '" + dir + "'");

  std::string packedScript = dir + "/INSTALL.SC_";
  std::string packedInstaller = dir + "/INSTALL.EX_";
  std::string error;
  std::vector<uint8_t> scriptData, installerData, setupData;
  if (!ReadWholeFile(script, &scriptData, &error) || !ReadWholeFile(installer, &installerData, &error)) {
    return DataError(error);
  }
  if (!setup.empty() && !ReadWholeFile(setup, &setupData, &error)) return DataError(error);

  // The launcher expands the script first, then the installer, through one
  // decoder state: pack them in that order through one encoder state. Both
  // are verified before anything is written, so a failure leaves DIR as it was.
  auto state = std::make_unique<EncoderState>();
  state->options = options;
  std::vector<std::vector<uint8_t>> packed(2), expanded;
  PackFile(state.get(), scriptData.data(), scriptData.size(), withCheck, &packed[0], nullptr);
  PackFile(state.get(), installerData.data(), installerData.size(), withCheck, &packed[1],
           isatty(2) && installerData.size() >= 4 * BlockBufferSize ? ShowPackProgress : nullptr);
  if (!ExpandPackedData(packed, &expanded, nullptr, nullptr, &error)) {
    return DataError("verification failed: " + error);
  }
  if (expanded[0] != scriptData || expanded[1] != installerData) {
    return DataError("verification failed: the pack files do not expand to their sources");
  }

  if (!WriteFileAtomically(packedScript, packed[0], &error) ||
      !WriteFileAtomically(packedInstaller, packed[1], &error)) {
    return DataError(error);
  }
  if (!setup.empty() && !SameFile(setup, dir + "/setup.exe") &&
      !WriteFileAtomically(dir + "/setup.exe", setupData, &error)) {
    return DataError(error);
  }
  printf("%s: %zu -> %zu bytes\n%s: %zu -> %zu bytes\nverified: both expand to their sources%s\n",
         packedScript.c_str(), scriptData.size(), packed[0].size(), packedInstaller.c_str(),
         installerData.size(), packed[1].size(),
         withCheck ? ", and each matches its check record (size and CRC-32)" : " (no check records)");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  EncoderOptions options;
  bool withCheck = true;
  std::vector<std::string> args;
  std::string command;
  // Options come before the command; "--" ends them, so that a file may be
  // called "--best".
  int i = 1;
  for (; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--") {
      ++i;
      break;
    } else if (a == "--help" || a == "-h") {
      fputs(Usage, stdout);
      return 0;
    } else if (a == "--fast") {
      options.chainLimit = 32;
      options.parsePasses = 1;
    } else if (a == "--no-check") {
      withCheck = false;
    } else if (a == "--best") {
      options.chainLimit = 4096;
      options.parsePasses = 5;
      options.splitBlocks = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return UsageError("unknown option '" + a + "'");
    } else {
      break;
    }
  }
  bool optionsEnded = i > 1 && std::string(argv[i - 1]) == "--";
  if (i < argc) command = argv[i++];
  if (command.empty()) return UsageError("no command given");
  for (; i < argc; ++i) {
    std::string a = argv[i];
    // media takes its own flags; the file commands take names only, and an
    // option placed after them is a mistake, not a file to open.
    if (command != "media" && !optionsEnded && a.size() > 1 && a[0] == '-') {
      if (a == "--") {
        optionsEnded = true;
        continue;
      }
      return UsageError("'" + a + "': options go before the command");
    }
    args.push_back(a);
  }

  std::string error;
  std::vector<FilePair> pairs;
  if (command == "pack") {
    if (!Pairs(args, &pairs)) return UsageError("pack needs SOURCE PACKED pairs");
    for (const FilePair& p : pairs) {
      if (SameFile(p.from, p.to)) return UsageError("'" + p.to + "' would overwrite its own source");
    }
    return PackFiles(pairs, options, withCheck, isatty(2), &error) ? 0 : DataError(error);
  }
  if ((command == "unpack" || command == "list") &&
      (options.chainLimit != EncoderOptions().chainLimit || !withCheck)) {
    return UsageError("--fast, --best and --no-check apply to pack and media only");
  }
  if (command == "unpack") {
    if (!Pairs(args, &pairs)) return UsageError("unpack needs PACKED DEST pairs");
    for (const FilePair& p : pairs) {
      if (SameFile(p.from, p.to)) return UsageError("'" + p.to + "' would overwrite its own pack file");
    }
    return UnpackFiles(pairs, &error) ? 0 : DataError(error);
  }
  if (command == "list") return List(args);
  if (command == "media") return Media(args, options, withCheck);
  return UsageError("unknown command '" + command + "'");
}
