// What a command is given: the command line as the parser read it. Every
// command takes this Invocation; cli/options.cpp fills it.
#pragma once

#include <string>
#include <vector>

#include "encode/encoder.h"
#include "media/branding.h"

struct Invocation {
  bool help = false;
  bool version = false;
  std::string command;             // the first word that is not an option (or as -d and -t name it)
  std::vector<std::string> files;  // the words after it
  struct Option {
    std::string name;   // its long name (--level for -1 ... -9, --fast and --best)
    std::string typed;  // as given: -9, -o
  };
  std::vector<Option> given;  // the options given, in order, for CheckOptionsApply
  // gzip's way, a command named by -d or -t (or pack, by -c, -k or a level)
  // and no command word: every word is a file, none means standard input.
  bool filesOnly = false;
  std::string impliedCommand;  // -d: unpack, -t: test

  bool force = false;  // -f: replace existing files, write packed data to a terminal
  EncoderOptions encoder;
  bool withCheck = true;
  unsigned threads = 0;     // -T: 0 for every processor
  std::string threadsText;  // as given
  bool quiet = false;       // -q: nothing but errors
  bool verbose = false;     // -v: a line for each file when it is done
  bool toStdout = false;    // -c: every file to standard output
  bool json = false;        // --json: test, list and scan write one JSON document (and are quiet)
  bool salvage = false;     // unpack, extract, scan: write what damaged media still hold

  // scan --extract DIR
  std::string extractDir;

  // media
  std::string script, installer, setup, outputDir;
  bool noSetup = false;
  bool withSeal = true;                     // media: seal the copy of setup.exe for the pack files
  bool strict = false;                      // media: refuse an installer that is no 32-bit Windows program
  bool singleFile = false;                  // media: one program that carries the pack files, -o names it
  bool exitCodes = false;                   // media: setup.exe returns the installer's exit code and its own
  std::vector<std::string> silentSwitches;  // media: arguments that make setup.exe silent
  BrandingOptions branding;  // media: the vendor's version information, icon, caption and messages
};

// Whether the progress line is redrawn (on a terminal, without -q), and the
// threads to pack with (-T; 0 for every processor). -v (in.verbose) adds a
// line for each file when it is done.
bool RedrawsProgress(const Invocation& in);
unsigned PackThreads(const Invocation& in);
