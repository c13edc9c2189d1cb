// The resources of a Windows program image, read and replaced in place.
//
// Replacing them rewrites the resource section where it lies; when it grows
// or shrinks past a page, the sections after it move with it, which only the
// base relocations may do (nothing refers to their addresses). The headers
// follow: the sections' places, the resource and relocation directories, the
// size of the image and of its initialised data, and the PE checksum.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "media/resource_tree.h"

// The resources of image. false with *error (naming name) for an image
// that is no Windows program or whose resources cannot be read; an image
// without resources has none.
bool ReadImageResources(const std::vector<uint8_t>& image, const std::string& name,
                        std::vector<Resource>* resources, std::string* error);

// Writes resources into image in place of its own. Refused, image
// unchanged, for a signed image, one with bytes after its last section, one
// without a resource section, or one where a section other than the base
// relocations would have to move.
bool ReplaceImageResources(std::vector<uint8_t>* image, const std::string& name,
                           const std::vector<Resource>& resources, std::string* error);
