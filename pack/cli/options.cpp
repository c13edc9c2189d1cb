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
    "usage: setuppack [OPTION]... pack SOURCE PACKED [SOURCE PACKED]... | SOURCE\n"
    "       setuppack [OPTION]... unpack PACKED DEST [PACKED DEST]... | PACKED\n"
    "       setuppack [OPTION]... test PACKED... | MEDIA_DIR | PROGRAM\n"
    "       setuppack [OPTION]... list PACKED... | PROGRAM\n"
    "       setuppack [OPTION]... extract MEDIA_DIR|PROGRAM [OUT_DIR]\n"
    "       setuppack [OPTION]... media --script FILE --installer FILE [--setup EXE|--no-setup] -o DIR\n"
    "       setuppack [OPTION]... media --script FILE --installer FILE [--setup EXE] --single-file -o "
    "PROGRAM\n"
    "       setuppack seal MEDIA_DIR\n"
    "       setuppack [OPTION]... scan [--extract DIR] PATH...\n"
    "       setuppack [-c|-d|-t] [OPTION]... FILE...   (as gzip: pack, -d unpack, -t test)\n"
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
    "written where they are. A SOURCE alone is packed into its name with the last\n"
    "letter '_' (INSTALL.EXE -> INSTALL.EX_), each on its own; a PACKED alone is\n"
    "expanded into the name media give it (INSTALL.SC_ -> INSTALL.SCR, INSTALL.EX_ ->\n"
    "INSTALL.EXE). Without a command word, -d unpacks and -t tests each FILE, and\n"
    "-c, -k or a level packs each; no FILE is standard input.\n"
    "\n"
    "  -f, --force     replace existing files; write packed data to a terminal\n"
    "  -T, --threads=N pack with N threads (pack, media); 0, the default, takes\n"
    "                  every processor; the packed bytes are the same for any N\n"
    "  -q, --quiet     nothing but errors (list and scan still list)\n"
    "  -v, --verbose   a line for each file packed when it is done: its sizes, their\n"
    "                  ratio, the time (a terminal also shows the progress of long\n"
    "                  work unless -q)\n"
    "  -c, --stdout    pack, unpack: write to standard output\n"
    "  -d, --decompress  unpack (as the command word does)\n"
    "  -t, --test      test (as the command word does)\n"
    "  -k, --keep      accepted, as gzip's: no file given is ever removed\n"
    "  -1 ... -9       pack, media: quicker to smaller; -1 is --fast, -6 the default,\n"
    "                  -9 --best\n"
    "      --fast      quicker, slightly larger output (pack, media)\n"
    "      --best      slower, smallest output (pack, media)\n"
    "      --json      test, list, scan: one JSON document on standard output, and\n"
    "                  nothing else (as -q); its fields: the documentation's json.md\n"
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
    "      --exit-code media: setup.exe returns the installer's exit code, and 2,\n"
    "                  1603 or 1618 for its own failures (without it, 0)\n"
    "      --silent-switch SWITCH  media (repeatable): setup.exe started with SWITCH\n"
    "                  (such as /S; letter case aside) shows nothing and logs failures\n"
    "                  to %TEMP%\\ZIMRO~SE.LOG; the installer still gets SWITCH\n"
    "      --product-name TEXT, --product-version N.N.N.N, --company TEXT,\n"
    "      --description TEXT, --copyright TEXT, --file-version N.N.N.N\n"
    "                  media: the version information of the copy of setup.exe;\n"
    "                  its caption becomes \"TEXT Setup\" (--product-name)\n"
    "      --icon FILE.ico  media: its icon, every image of FILE.ico\n"
    "      --strings FILE   media: its messages, N=text lines in UTF-8\n"
    "An option that takes a value is given once.\n"
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
    {"pack", {"--force", "--level", "--no-check", "--threads", "--quiet", "--verbose", "--stdout", "--keep"}},
    {"unpack", {"--force", "--salvage", "--quiet", "--verbose", "--stdout", "--keep", "--decompress"}},
    {"test", {"--quiet", "--verbose", "--json", "--test", "--keep", "--decompress"}},
    {"list", {"--quiet", "--verbose", "--json"}},
    {"extract", {"--force", "--salvage", "--quiet", "--verbose"}},
    {"media", {"--force",         "--level",           "--no-check",    "--script",
               "--installer",     "--setup",           "--no-setup",    "--output",
               "--no-seal",       "--strict",          "--single-file", "--exit-code",
               "--silent-switch", "--threads",         "--quiet",       "--verbose",
               "--product-name",  "--product-version", "--company",     "--description",
               "--copyright",     "--file-version",    "--icon",        "--strings"}},
    {"seal", {"--quiet", "--verbose"}},
    {"scan", {"--extract", "--force", "--salvage", "--quiet", "--verbose", "--json"}},
};

// -1 ... -9 onto the encoder's settings, as gzip's levels: -1 is --fast, -6
// the default, -9 --best. Each level examines more match candidates per
// position (chainLimit) and refines the parse more often (parsePasses);
// -9 also tries ending blocks halfway.
struct Level {
  uint32_t chainLimit, parsePasses;
  bool splitBlocks;
};
const Level Levels[9] = {
    {32, 1, false},  {48, 1, false},   {64, 2, false},   {128, 2, false}, {192, 3, false},
    {256, 3, false}, {1024, 4, false}, {2048, 5, false}, {4096, 5, true},
};

void SetLevel(Invocation* in, int level) {
  in->encoder.chainLimit = Levels[level - 1].chainLimit;
  in->encoder.parsePasses = Levels[level - 1].parsePasses;
  in->encoder.splitBlocks = Levels[level - 1].splitBlocks;
}

bool ParseThreads(const std::string& text, unsigned* threads) {
  if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  unsigned n = (unsigned)std::stoul(text);
  if (n > 1024) return false;
  *threads = n;
  return true;
}

// The options with a value: each may be given once. A new one is a line here
// (and in Commands above).
struct ValueOption {
  const char* name;
  char letter;  // 0: none
  std::string& (*slot)(Invocation*);
};
const ValueOption ValueOptions[] = {
    {"--output", 'o', [](Invocation* in) -> std::string& { return in->outputDir; }},
    {"--script", 0, [](Invocation* in) -> std::string& { return in->script; }},
    {"--installer", 0, [](Invocation* in) -> std::string& { return in->installer; }},
    {"--setup", 0, [](Invocation* in) -> std::string& { return in->setup; }},
    {"--extract", 0, [](Invocation* in) -> std::string& { return in->extractDir; }},
    {"--threads", 'T', [](Invocation* in) -> std::string& { return in->threadsText; }},
    {"--product-name", 0, [](Invocation* in) -> std::string& { return in->branding.productName; }},
    {"--product-version", 0, [](Invocation* in) -> std::string& { return in->branding.productVersion; }},
    {"--file-version", 0, [](Invocation* in) -> std::string& { return in->branding.fileVersion; }},
    {"--company", 0, [](Invocation* in) -> std::string& { return in->branding.company; }},
    {"--description", 0, [](Invocation* in) -> std::string& { return in->branding.description; }},
    {"--copyright", 0, [](Invocation* in) -> std::string& { return in->branding.copyright; }},
    {"--icon", 0, [](Invocation* in) -> std::string& { return in->branding.icon; }},
    {"--strings", 0, [](Invocation* in) -> std::string& { return in->branding.strings; }},
};

// The options without a value, and what each sets.
struct Flag {
  const char* name;
  char letter;  // 0: none
  void (*set)(Invocation*);
};
const Flag Flags[] = {
    {"--help", 'h', [](Invocation* in) { in->help = true; }},
    {"--version", 'V', [](Invocation* in) { in->version = true; }},
    {"--force", 'f', [](Invocation* in) { in->force = true; }},
    {"--quiet", 'q', [](Invocation* in) { in->quiet = true, in->verbose = false; }},
    {"--verbose", 'v', [](Invocation* in) { in->verbose = true, in->quiet = false; }},
    {"--stdout", 'c', [](Invocation* in) { in->toStdout = true; }},
    {"--to-stdout", 0, [](Invocation* in) { in->toStdout = true; }},
    {"--decompress", 'd', [](Invocation* in) { in->impliedCommand = "unpack"; }},
    {"--test", 't', [](Invocation* in) { in->impliedCommand = "test"; }},
    {"--keep", 'k', [](Invocation*) {}},  // files are never removed: kept by default
    {"--fast", 0, [](Invocation* in) { SetLevel(in, 1); }},
    {"--best", 0, [](Invocation* in) { SetLevel(in, 9); }},
    {"--json", 0, [](Invocation* in) { in->json = true, in->quiet = true, in->verbose = false; }},
    {"--no-check", 0, [](Invocation* in) { in->withCheck = false; }},
    {"--no-setup", 0, [](Invocation* in) { in->noSetup = true; }},
    {"--no-seal", 0, [](Invocation* in) { in->withSeal = false; }},
    {"--salvage", 0, [](Invocation* in) { in->salvage = true; }},
    {"--strict", 0, [](Invocation* in) { in->strict = true; }},
    {"--single-file", 0, [](Invocation* in) { in->singleFile = true; }},
    {"--exit-code", 0, [](Invocation* in) { in->exitCodes = true; }},
};

// The options with a value that may be given more than once, each adding one.
struct ListOption {
  const char* name;
  std::vector<std::string> Invocation::*list;
};
const ListOption ListOptions[] = {
    {"--silent-switch", &Invocation::silentSwitches},
};

// The options that stand for others where a command takes them.
std::string Canonical(const std::string& name) {
  if (name == "--fast" || name == "--best") return "--level";
  if (name == "--to-stdout") return "--stdout";
  return name;
}

class Parser {
 public:
  Parser(int argc, char** argv, Invocation* in) : argc_(argc), argv_(argv), in_(in) {}

  bool Parse(std::string* error) {
    bool optionsEnded = false;
    for (at_ = 1; at_ < argc_; ++at_) {
      std::string word = argv_[at_];
      if (!optionsEnded && word == "--") {
        optionsEnded = true;
      } else if (optionsEnded || word.size() < 2 || word[0] != '-') {
        words_.push_back(word);
      } else if (word[1] == '-' ? !Long(word, error) : !Letters(word, error)) {
        return false;
      }
      if (in_->help || in_->version) return true;
    }
    return Finish(error);
  }

 private:
  // --name, --name=value, --name value.
  bool Long(const std::string& word, std::string* error) {
    size_t equals = word.find('=');
    std::string name = word.substr(0, equals);
    for (const ValueOption& option : ValueOptions) {
      if (name != option.name) continue;
      if (equals != std::string::npos) return Value(option, word, word.substr(equals + 1), error);
      return NextValue(option, word, error);
    }
    for (const ListOption& option : ListOptions) {
      if (name != option.name) continue;
      if (equals == std::string::npos && at_ + 1 >= argc_) {
        *error = word + " needs a value";
        return false;
      }
      (in_->*option.list).push_back(equals != std::string::npos ? word.substr(equals + 1) : argv_[++at_]);
      Given(option.name, word);
      return true;
    }
    for (const Flag& flag : Flags) {
      if (name != flag.name) continue;
      if (equals != std::string::npos) {
        *error = "'" + word + "': " + name + " takes no value";
        return false;
      }
      return Set(flag, word);
    }
    *error = "unknown option '" + word + "'";
    return false;
  }

  // -dc, -9, -T4, -o DIR, -oDIR: letters together, as gzip and tar take
  // them; a letter with a value takes the rest of the word, or the next.
  bool Letters(const std::string& word, std::string* error) {
    for (size_t i = 1; i < word.size(); ++i) {
      char letter = word[i];
      std::string typed = std::string("-") + letter;
      if (letter >= '1' && letter <= '9') {
        SetLevel(in_, letter - '0');
        Given("--level", typed);
        continue;
      }
      const ValueOption* value = nullptr;
      for (const ValueOption& option : ValueOptions) value = option.letter == letter ? &option : value;
      if (value) {
        return i + 1 < word.size() ? Value(*value, typed, word.substr(i + 1), error)
                                   : NextValue(*value, typed, error);
      }
      const Flag* flag = nullptr;
      for (const Flag& f : Flags) flag = f.letter == letter ? &f : flag;
      if (!flag) {
        *error = "unknown option '" + typed + "'" + (word.size() > 2 ? " (in '" + word + "')" : "");
        return false;
      }
      if (!Set(*flag, typed)) return false;
    }
    return true;
  }

  bool NextValue(const ValueOption& option, const std::string& typed, std::string* error) {
    if (at_ + 1 >= argc_) {
      *error = typed + " needs a value";
      return false;
    }
    return Value(option, typed, argv_[++at_], error);
  }

  // A value given twice is a mistake, whichever of them was meant.
  bool Value(const ValueOption& option, const std::string& typed, const std::string& value,
             std::string* error) {
    std::string& slot = option.slot(in_);
    for (const Invocation::Option& given : in_->given) {
      if (given.name == option.name) {
        *error = std::string(option.name) + " is given twice ('" + slot + "' with " + given.typed + ", '" +
                 value + "' with " + typed + "): give it once";
        return false;
      }
    }
    slot = value;
    Given(option.name, typed);
    return true;
  }

  bool Set(const Flag& flag, const std::string& typed) {
    flag.set(in_);
    Given(Canonical(flag.name), typed);
    return true;
  }

  void Given(const std::string& name, const std::string& typed) { in_->given.push_back({name, typed}); }

  // The command word and the files; -d and -t name the command as gzip's
  // letters do, when no command word is given.
  bool Finish(std::string* error) {
    if (in_->json) in_->quiet = true, in_->verbose = false;  // one document, and nothing else
    if (!in_->threadsText.empty() && !ParseThreads(in_->threadsText, &in_->threads)) {
      *error = "'" + in_->threadsText + "' is no number of threads (0 for every processor, or 1 to 1024)";
      return false;
    }
    bool named = !words_.empty() && IsCommand(words_[0]);
    if (named) {
      in_->command = words_[0];
      words_.erase(words_.begin());
    } else if (!in_->impliedCommand.empty() || in_->toStdout || PacksByLetter()) {
      // gzip's way: every word is a file; without one, standard input.
      in_->command = in_->impliedCommand.empty() ? "pack" : in_->impliedCommand;
      in_->filesOnly = true;
      if (words_.empty() && in_->command != "test") words_.push_back("-"), in_->toStdout = true;
    } else if (!words_.empty()) {
      *error = "unknown command '" + words_[0] + "'";
      return false;
    } else {
      *error = "no command given";
      return false;
    }
    in_->files = words_;
    return true;
  }

  // -k or a level, which pack when no letter names another command.
  bool PacksByLetter() const {
    for (const Invocation::Option& given : in_->given) {
      if (given.name == "--level" || given.name == "--keep") return true;
    }
    return false;
  }

  static bool IsCommand(const std::string& word) {
    for (const CommandOptions& c : Commands) {
      if (word == c.command) return true;
    }
    return false;
  }

  int argc_;
  char** argv_;
  Invocation* in_;
  int at_ = 1;
  std::vector<std::string> words_;
};

}  // namespace

bool ParseCommandLine(int argc, char** argv, Invocation* in, std::string* error) {
  return Parser(argc, argv, in).Parse(error);
}

bool CheckOptionsApply(const Invocation& in, std::string* error) {
  for (const CommandOptions& c : Commands) {
    if (in.command != c.command) continue;
    for (const Invocation::Option& option : in.given) {
      if (std::find(c.options.begin(), c.options.end(), option.name) == c.options.end()) {
        *error = option.typed + " does not apply to " + in.command;
        return false;
      }
    }
    return true;
  }
  *error = "unknown command '" + in.command + "'";
  return false;
}
