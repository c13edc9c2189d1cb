// What the commands that read and write named files share: the SOURCE DEST
// pairs of pack and unpack, names given once, destinations planned first.
#pragma once

#include <string>
#include <vector>

#include "commands/invocation.h"
#include "platform/file_io.h"

// Standard input can be read once; a destination named twice would be
// written over by the second.
bool CheckNamesOnce(const std::vector<std::string>& sources, const std::vector<std::string>& destinations,
                    std::string* error);

// Plans every destination before any is written: one refusal writes nothing.
bool PlanAll(const std::vector<std::string>& names, bool force, std::vector<Destination>* destinations,
             std::string* error);

// The name a SOURCE is written to when none is given (pack INSTALL.EXE
// writes INSTALL.EX_): false, with *error, when it has none.
typedef bool (*DefaultName)(const std::string& source, std::string* name, std::string* error);

// Splits the files of pack and unpack into sources and planned destinations:
// SOURCE DEST pairs; one SOURCE alone, or every file in gzip's way
// (in.filesOnly), to its default name; with -c, every file to standard
// output. Returns ExitSuccess, or the error that stops the command.
int PlanPairs(const Invocation& in, const char* usage, const char* ownSource, DefaultName defaultName,
              std::vector<std::string>* sources, std::vector<Destination>* destinations);

// The base name of a path, and the path with its base name replaced.
std::string BaseNameOf(const std::string& path);
std::string WithBaseName(const std::string& path, const std::string& base);
