// The settings of a setup.exe image (unpack/settings.h has their layout):
// read for test and list, written by media (--exit-code, --silent-switch).
// Only the image is searched, never what a program carries after it.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct LauncherSettings {
  bool exitCodes = false;                   // --exit-code
  std::vector<std::string> silentSwitches;  // --silent-switch, in the order given
};

// Switches as media takes them: each one word of printable ASCII (no blank,
// no quote), told apart from the others without regard to letter case, and
// all of them within the block. false with *error.
bool CheckSilentSwitches(const std::vector<std::string>& switches, std::string* error);

// The settings of image (named name in messages); *found is false for an
// image without a settings block (a setup.exe from before them, or a file
// that is no Windows program). false with *error for a block that is there
// more than once, damaged, or of an unknown layout.
bool ReadLauncherSettings(const std::vector<uint8_t>& image, const std::string& name,
                          LauncherSettings* settings, bool* found, std::string* error);

// Writes settings into image's block, which must be there once; no other
// byte changes (the PE checksum is the caller's to set again).
bool WriteLauncherSettings(std::vector<uint8_t>* image, const std::string& name,
                           const LauncherSettings& settings, std::string* error);

// What media does with image (a copy of setup.exe) for settings: writes
// them into its block and sets its PE checksum again; with no setting asked
// for, an image without a block is left as it is. false with *error when
// settings are asked for and image has no block.
bool ApplyMediaSettings(std::vector<uint8_t>* image, const std::string& name,
                        const LauncherSettings& settings, std::string* error);

// The settings of image for test and list, each line indented by two
// blanks; "" for an image without a block, and the error's line for a
// block that cannot be read.
std::string SettingsLines(const std::vector<uint8_t>& image, const std::string& name);

// Two lines for test and list: what setup.exe returns, and which of its
// arguments make it silent.
std::string DescribeLauncherSettings(const LauncherSettings& settings);
