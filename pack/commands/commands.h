// The commands of setuppack: pack, unpack, test, list, extract, media.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "cli/options.h"
#include "record_reader.h"  // PackCheck

const int ExitSuccess = 0;
const int ExitData = 1;   // bad or unreadable data, failed verification, a file that would be replaced
const int ExitUsage = 2;  // the command line itself is wrong

// Prints a usage error with the pointer to --help; returns ExitUsage.
int UsageError(const std::string& message);
// Prints a data or file error; returns ExitData.
int DataError(const std::string& message);

// What was verified of a pack file that expanded whole to size bytes.
std::string Verified(const PackCheck& check, size_t size);
// Lists the records of one pack file (list); returns the exit status.
// afterScript: it is an INSTALL.EX_, which expands after the script.
int ListPackedData(const std::string& name, const std::vector<uint8_t>& packed, bool afterScript);

// scan (scan.cpp).
int Scan(const Invocation& invocation);

// Runs the command of a parsed command line and returns the exit status.
// programPath is argv[0], for finding the installed setup.exe where
// /proc/self/exe is not there.
int RunCommand(const Invocation& invocation, const char* programPath);
