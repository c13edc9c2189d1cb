#include "cli/status.h"

#include <stdio.h>

int DataError(const std::string& message) {
  fprintf(stderr, "setuppack: %s\n", message.c_str());
  return ExitData;
}

int UsageError(const std::string& message) {
  fprintf(stderr, "setuppack: %s\n(run 'setuppack --help' for usage)\n", message.c_str());
  return ExitUsage;
}
