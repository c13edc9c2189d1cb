// The commands of setuppack: pack, unpack, test, list, extract, media.
#pragma once

#include "command_line.h"

const int ExitSuccess = 0;
const int ExitData = 1;   // bad or unreadable data, failed verification, a file that would be replaced
const int ExitUsage = 2;  // the command line itself is wrong

// Prints a usage error with the pointer to --help; returns ExitUsage.
int UsageError(const std::string& message);

// Prints "setuppack: message" on standard error; returns ExitData.
int DataError(const std::string& message);

// scan (scan.cpp).
int Scan(const Invocation& invocation);

// Runs the command of a parsed command line and returns the exit status.
// programPath is argv[0], for finding the installed setup.exe where
// /proc/self/exe is not there.
int RunCommand(const Invocation& invocation, const char* programPath);
