// The string table of a program's resources: blocks of sixteen counted
// UTF-16 strings, block n + 1 holding strings 16n to 16n + 15.
#pragma once

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "media/resource_tree.h"

// Every non-empty string of resources' string tables (in any language) by
// its number, and the language of the table (*language, when not null).
std::map<uint16_t, std::u16string> ReadStringTable(const std::vector<Resource>& resources,
                                                   uint16_t* language);

// Replaces every string table of resources with one of strings, in language.
void WriteStringTable(std::vector<Resource>* resources, const std::map<uint16_t, std::u16string>& strings,
                      uint16_t language);
