#include "cli/options.h"

#include <string.h>

#include <algorithm>

#include "encode/segments.h"
#include "platform/file_io.h"

#ifndef SETUPPACK_VERSION
#define SETUPPACK_VERSION "unknown"
#endif

// Where the default setup.exe and the manual are, as each platform has them.
#ifdef _WIN32
#define DEFAULT_SETUP_TEXT "the setup.exe beside\n                  setuppack.exe)\n"
#define MANUAL_TEXT "The manual: setuppack.txt, beside setuppack.exe.\n"
#else
#define DEFAULT_SETUP_TEXT   \
  "the one installed with\n" \
  "                  setuppack, in ../share/setuppack beside its program)\n"
#define MANUAL_TEXT "The manual: man setuppack.\n"
#endif

const char VersionText[] = SETUPPACK_VERSION;

const char UsageText[] =
    "setuppack " SETUPPACK_VERSION
    ": makes the pack files that setup.exe expands, and reads them back\n"
    "\n"
    "usage: setuppack [OPTION]... pack SOURCE PACKED [SOURCE PACKED]...\n"
    "       setuppack [OPTION]... unpack PACKED DEST [PACKED DEST]...\n"
    "       setuppack test PACKED... | MEDIA_DIR | PROGRAM\n"
    "       setuppack list PACKED... | PROGRAM\n"
    "       setuppack [OPTION]... extract MEDIA_DIR|PROGRAM [OUT_DIR]\n"
    "       setuppack [OPTION]... media --script FILE --installer FILE [--setup EXE|--no-setup] -o DIR\n"
    "       setuppack [OPTION]... media --script FILE --installer FILE [--setup EXE] --single-file -o "
    "PROGRAM\n"
    "       setuppack seal MEDIA_DIR\n"
    "       setuppack [OPTION]... scan [--extract DIR] PATH...\n"
    "\n"
    "  pack     packs each SOURCE into PACKED, in order, through one encoder state\n"
    "  unpack   expands each PACKED into DEST, in order, through one decoder state,\n"
    "           exactly as setup.exe does (script first, then installer)\n"
    "  test     expands each PACKED as unpack does, writes nothing, and says what\n"
    "           was verified of each; of a MEDIA_DIR, its pack files and its seal\n"
    "  list     shows each record (offset, stored or compressed, sizes) and totals\n"
    "  extract  expands INSTALL.SC_ and INSTALL.EX_ of a media folder (in any letter\n"
    "           case) into OUT_DIR (default: the current folder) as INSTALL.SCR and\n"
    "           INSTALL.EXE\n"
    "  media    writes INSTALL.SC_ and INSTALL.EX_ and copies setup.exe into DIR,\n"
    "           and verifies them by expanding them again; the copy of setup.exe is\n"
    "           sealed for the two pack files; with --single-file, writes one\n"
    "           PROGRAM instead: setup.exe that carries them inside, sealed for them\n"
    "  seal     seals the setup.exe of MEDIA_DIR for the pack files beside it\n"
    "  scan     finds media and pack files in folder trees, disc images (ISO 9660)\n"
    "           and any other file, lists them, and with --extract DIR expands each\n"
    "           into a folder of its own under DIR\n"
    "\n"
    "A SOURCE or PACKED of '-' is standard input, a PACKED or DEST of '-' standard\n"
    "output. Existing files are never replaced without -f; pipes and devices are\n"
    "written where they are.\n"
    "\n"
    "  -f, --force     replace existing files; write packed data to a terminal\n"
    "  -T, --threads=N pack with N threads (pack, media); 0, the default, takes\n"
    "                  every processor; the packed bytes are the same for any N\n"
    "  -q, --quiet     no progress line and no warnings\n"
    "  -v, --verbose   the progress line even when standard error is no terminal\n"
    "                  (on a terminal it is shown for long work unless -q)\n"
    "      --fast      quicker, slightly larger output (pack, media)\n"
    "      --best      slower, smallest output (pack, media)\n"
    "      --no-check  no check record (pack, media): files as older versions\n"
    "                  wrote them, which expand without their damage being noticed\n"
    "      --script FILE, --installer FILE, -o DIR, --output DIR\n"
    "                  media: the installation script, the installer, the folder\n"
    "      --setup EXE media: the setup.exe to copy (default: " DEFAULT_SETUP_TEXT
    "      --no-setup  media: write the pack files alone\n"
    "      --no-seal   media: copy setup.exe unsealed\n"
    "      --salvage   unpack, extract, scan: write all that damaged media still hold,\n"
    "                  report every damaged or missing stretch, exit with status 1\n"
    "      --strict    media: refuse an installer that is not a 32-bit Windows program\n"
    "                  (without it, media warns)\n"
    "      --single-file  media: one program (-o PROGRAM.exe) that carries its pack\n"
    "                  files; test, list and extract read such a PROGRAM\n"
    "  -h, --help      this text\n"
    "  -V, --version   the version of setuppack\n"
    "\n"
    "Each pack file begins with a check record that holds the size and CRC-32\n"
    "of what it expands to; unpack, test, extract, media and setup.exe refuse a\n"
    "file that does not match it. A sealed setup.exe (sign it after sealing)\n"
    "expands only the two pack files it was sealed for.\n"
    "\n"
    "Files are expanded in the order given, and the order matters: a pack file\n"
    "may copy data from the files expanded before it.\n"
    "Exit status: 0 success, 1 data or file error, 2 usage error.\n" MANUAL_TEXT;

namespace {

// The options each command takes (by their long names).
struct CommandOptions {
  const char* command;
  std::vector<std::string> options;
};
const CommandOptions Commands[] = {
    {"pack", {"--force", "--fast", "--best", "--no-check", "--threads", "--quiet", "--verbose"}},
    {"unpack", {"--force", "--salvage", "--quiet", "--verbose"}},
    {"test", {"--quiet", "--verbose"}},
    {"list", {"--quiet", "--verbose"}},
    {"extract", {"--force", "--salvage", "--quiet", "--verbose"}},
    {"media",
     {"--force", "--fast", "--best", "--no-check", "--script", "--installer", "--setup", "--no-setup",
      "--output", "--no-seal", "--strict", "--single-file", "--threads", "--quiet", "--verbose"}},
    {"seal", {"--quiet", "--verbose"}},
    {"scan", {"--extract", "--force", "--salvage", "--quiet", "--verbose"}},
};

std::string LongName(const std::string& option) {
  if (option == "-f") return "--force";
  if (option == "-h") return "--help";
  if (option == "-V") return "--version";
  if (option == "-o") return "--output";
  if (option == "-T") return "--threads";
  if (option == "-q") return "--quiet";
  if (option == "-v") return "--verbose";
  return option;
}

bool ParseThreads(const std::string& text, unsigned* threads) {
  if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  unsigned n = (unsigned)std::stoul(text);
  if (n > 1024) return false;
  *threads = n;
  return true;
}

}  // namespace

bool ParseCommandLine(int argc, char** argv, Invocation* in, std::string* error) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    if (!optionsEnded && word == "--") {
      optionsEnded = true;
      continue;
    }
    if (optionsEnded || word.size() < 2 || word[0] != '-') {
      if (in->command.empty()) {
        in->command = word;
      } else {
        in->files.push_back(word);
      }
      continue;
    }
    // --name=value, --name value, -o value, -T4.
    std::string name = word, value;
    bool hasValue = false;
    size_t equals = word.find('=');
    if (word.compare(0, 2, "--") == 0 && equals != std::string::npos) {
      name = word.substr(0, equals);
      value = word.substr(equals + 1);
      hasValue = true;
    } else if (word.compare(0, 2, "-T") == 0 && word.size() > 2) {
      name = "-T";
      value = word.substr(2);
      hasValue = true;
    }
    name = LongName(name);
    if (name == "--threads") {
      if (!hasValue && i + 1 >= argc) {
        *error = word + " needs a number";
        return false;
      }
      std::string number = hasValue ? value : argv[++i];
      if (!ParseThreads(number, &in->threads)) {
        *error = "'" + number + "' is no number of threads (0 for every processor, or 1 to 1024)";
        return false;
      }
      in->given.push_back(name);
      continue;
    }
    std::string* slot = name == "--script"      ? &in->script
                        : name == "--installer" ? &in->installer
                        : name == "--setup"     ? &in->setup
                        : name == "--output"    ? &in->outputDir
                        : name == "--extract"   ? &in->extractDir
                                                : nullptr;
    if (slot) {
      if (!hasValue && i + 1 >= argc) {
        *error = word + " needs a value";
        return false;
      }
      *slot = hasValue ? value : argv[++i];
      in->given.push_back(name);
      continue;
    }
    if (hasValue) {
      *error = "'" + word + "': " + name + " takes no value";
      return false;
    }
    if (name == "--help" || name == "--version") {
      (name == "--help" ? in->help : in->version) = true;
      return true;
    } else if (name == "--force") {
      in->force = true;
    } else if (name == "--fast") {
      in->encoder.chainLimit = 32;
      in->encoder.parsePasses = 1;
      in->encoder.splitBlocks = false;
    } else if (name == "--best") {
      in->encoder.chainLimit = 4096;
      in->encoder.parsePasses = 5;
      in->encoder.splitBlocks = true;
    } else if (name == "--quiet") {
      in->quiet = true;
      in->verbose = false;
    } else if (name == "--verbose") {
      in->verbose = true;
      in->quiet = false;
    } else if (name == "--no-check") {
      in->withCheck = false;
    } else if (name == "--no-setup") {
      in->noSetup = true;
    } else if (name == "--no-seal") {
      in->withSeal = false;
    } else if (name == "--salvage") {
      in->salvage = true;
    } else if (name == "--strict") {
      in->strict = true;
    } else if (name == "--single-file") {
      in->singleFile = true;
    } else {
      *error = "unknown option '" + word + "'";
      return false;
    }
    in->given.push_back(name);
  }
  if (in->command.empty()) {
    *error = "no command given";
    return false;
  }
  return true;
}

bool CheckOptionsApply(const Invocation& in, std::string* error) {
  for (const CommandOptions& c : Commands) {
    if (in.command != c.command) continue;
    for (const std::string& option : in.given) {
      if (std::find(c.options.begin(), c.options.end(), option) == c.options.end()) {
        *error = option + " does not apply to " + in.command;
        return false;
      }
    }
    return true;
  }
  *error = "unknown command '" + in.command + "'";
  return false;
}

bool ShowsProgress(const Invocation& in) { return !in.quiet && (in.verbose || StandardErrorIsTerminal()); }

unsigned PackThreads(const Invocation& in) { return in.threads != 0 ? in.threads : AllProcessors(); }
