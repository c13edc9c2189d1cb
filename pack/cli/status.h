// What every command returns: the exit statuses of setuppack, and the two
// ways a command stops with a message. Every room may use it.
#pragma once

#include <string>

const int ExitSuccess = 0;
const int ExitData = 1;   // bad or unreadable data, failed verification, a file that would be replaced
const int ExitUsage = 2;  // the command line itself is wrong

// Prints a usage error with the pointer to --help; returns ExitUsage.
int UsageError(const std::string& message);
// Prints a data or file error; returns ExitData.
int DataError(const std::string& message);
