// What the commands that read and write named files share: the SOURCE DEST
// pairs of pack and unpack, names given once, destinations planned first.
#pragma once

#include <string>
#include <vector>

#include "cli/options.h"
#include "platform/file_io.h"

// Standard input can be read once; a destination named twice would be
// written over by the second.
bool CheckNamesOnce(const std::vector<std::string>& sources, const std::vector<std::string>& destinations,
                    std::string* error);

// Plans every destination before any is written: one refusal writes nothing.
bool PlanAll(const std::vector<std::string>& names, bool force, std::vector<Destination>* destinations,
             std::string* error);

// Splits the SOURCE DEST pairs of pack and unpack into sources and planned
// destinations. Returns ExitSuccess, or the error that stops the command.
int PlanPairs(const Invocation& in, const char* usage, const char* ownSource,
              std::vector<std::string>* sources, std::vector<Destination>* destinations);
