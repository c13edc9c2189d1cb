#include "platform/size_limit.h"

#include <stdlib.h>

uint64_t SizeLimit() {
#ifdef SETUPPACK_TEST_SEAMS
  // setuppack_seams, built for the tests alone, takes a lower limit from the
  // environment, so that its tests reach the bound, and both sides of it,
  // with small files and pipes.
  static const char* lowered = getenv("SETUPPACK_TEST_SIZE_LIMIT");
  if (lowered != nullptr && *lowered != '\0') return strtoull(lowered, nullptr, 10);
#endif
  return (uint64_t)1 << 32;
}
