// An icon file (.ico) and the resources that carry it in a program: one
// icon resource per image and an icon group that lists them.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "media/resource_tree.h"

struct IconImage {
  uint8_t width, height, colorCount;  // 0 for 256 pixels, or 256 colours and more
  uint16_t planes, bitCount;
  std::vector<uint8_t> data;  // a BITMAPINFOHEADER and its bits, or a PNG file
};

// The images of an .ico file. false with *error (naming name) for a file
// that is not one or is damaged: no header, no image, an image outside the
// file, or one that is neither a bitmap nor a PNG.
bool ReadIconFile(const std::vector<uint8_t>& file, const std::string& name, std::vector<IconImage>* images,
                  std::string* error);

// Replaces icon group groupId (and the icons it listed) with images, in
// language: the icons take the lowest numbers that are free.
void ReplaceIconGroup(std::vector<Resource>* resources, uint16_t groupId,
                      const std::vector<IconImage>& images, uint16_t language);
