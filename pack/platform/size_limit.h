// The first size a pack file cannot measure: 4 GiB, since its sizes are 32
// bits. Every bound on a source, a pack file or a pipe's bytes is this one.
#pragma once

#include <stdint.h>

uint64_t SizeLimit();
