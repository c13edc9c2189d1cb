#include "cli/status.h"

#include <stdio.h>

// Results written before a message come before it.
int DataError(const std::string& message) {
  fflush(stdout);
  fprintf(stderr, "setuppack: %s\n", message.c_str());
  return ExitData;
}

int UsageError(const std::string& message) {
  fflush(stdout);
  fprintf(stderr, "setuppack: %s\n(run 'setuppack --help' for usage)\n", message.c_str());
  return ExitUsage;
}
