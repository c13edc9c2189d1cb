// setuppack's command line: options before or after the command word, as
// people put them; "--" ends the options, so that a file may be called --best.
//
// cli/ is the top of setuppack: setuppack.cpp alone includes the commands
// (commands/commands.h) and runs the one named. What the commands take from
// here, as every command does, is this Invocation, the exit statuses and
// error values (status.h) and the progress line (progress_line.h); none of
// them includes anything above platform/ and encode/.
#pragma once

#include <string>
#include <vector>

#include "encode/encoder.h"

struct Invocation {
  bool help = false;
  bool version = false;
  std::string command;             // the first word that is not an option
  std::vector<std::string> files;  // the words after it
  std::vector<std::string> given;  // the options given, by their long names, for CheckOptionsApply

  bool force = false;  // -f: replace existing files, write packed data to a terminal
  EncoderOptions encoder;
  bool withCheck = true;
  unsigned threads = 0;  // -T: 0 for every processor
  bool quiet = false;    // -q: no progress line, no notes
  bool verbose = false;  // -v: the progress line even when standard error is no terminal
  bool salvage = false;  // unpack, extract, scan: write what damaged media still hold

  // scan --extract DIR
  std::string extractDir;

  // media
  std::string script, installer, setup, outputDir;
  bool noSetup = false;
  bool withSeal = true;     // media: seal the copy of setup.exe for the pack files
  bool strict = false;      // media: refuse an installer that is no 32-bit Windows program
  bool singleFile = false;  // media: one program that carries the pack files, -o names it
};

// Whether the progress line is shown (-q, -v, and a terminal on standard
// error decide), and the threads to pack with (-T; 0 for every processor).
bool ShowsProgress(const Invocation& in);
unsigned PackThreads(const Invocation& in);

// Reads argv into *invocation. False, with the message in *error, for a
// usage error.
bool ParseCommandLine(int argc, char** argv, Invocation* invocation, std::string* error);

// False, with the message in *error, when an option was given to a command
// it means nothing to (--best to unpack, --script to pack).
bool CheckOptionsApply(const Invocation& invocation, std::string* error);

// The --help text, and the version it shows (the project's, from CMake).
extern const char UsageText[];
extern const char VersionText[];
