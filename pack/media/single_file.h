// A program that carries its own pack files: a copy of setup.exe with
// INSTALL.SC_ and INSTALL.EX_ after its image, where a signature covers
// them too, and sealed for them (the seal names where each lies). Made by
// setuppack media --single-file; read back by test, list and extract.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "media/seal_image.h"

// The names of the two pack files a program carries, in order.
inline const char* const PackNames[2] = {"INSTALL.SC_", "INSTALL.EX_"};

// The program: a copy of setup (a setup.exe of this version, unsigned, with
// nothing after its image) sealed for the two pack files, which follow its
// image in order, and its PE checksum set for the whole file. false with
// *error when setup cannot carry them.
bool MakeSingleFile(const std::vector<uint8_t>& setup, const std::string& name,
                    const std::vector<std::vector<uint8_t>>& packed, std::vector<uint8_t>* program,
                    std::string* error);

// The two pack files that program carries, as its seal names them. false
// with *error for a file that is no setup.exe of ours, one that carries
// none, and one that ends before them (an incomplete download; with keepCut,
// what is there of them is taken, and *error said on standard error).
bool ReadCarriedPackFiles(const std::vector<uint8_t>& program, const std::string& name, SealInfo* seal,
                          std::vector<std::vector<uint8_t>>* packed, std::string* error,
                          bool keepCut = false);

// Whether data is a Windows program with a seal block: test, list and
// extract read such a file as a program that carries its pack files (a pack
// file begins with PACKDAT$; any other program is read as any other file).
bool LooksLikeProgram(const std::vector<uint8_t>& data);
// Reads path when it is a file (not a folder or standard input) that looks
// like a program.
bool ReadIfProgram(const std::string& path, std::vector<uint8_t>* data);
