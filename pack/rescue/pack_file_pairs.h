// Which pack files found in one file go together. The launcher expands the
// installer after the script, through one decoder state, so an installer's
// blocks may copy from the script's history: found on its own, it does not
// expand. Each such file is paired with the one whose history it expands
// whole after: the file just before it first, else the nearest other,
// wherever it lies (a FAT image may hold INSTALL.EX_ before INSTALL.SC_).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <vector>

// Reads the pack file of the given index whole; false when it cannot be.
using ReadPackFile = std::function<bool(size_t index, std::vector<uint8_t>* packed)>;

// The groups of count pack files, in the order of their first member: one
// file, or two (the script, then the installer that continues its history).
std::vector<std::vector<size_t>> PairPackFiles(size_t count, const ReadPackFile& read);
