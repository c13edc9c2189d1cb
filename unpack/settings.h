// setup.exe's settings: a block inside its image, beside the seal, that
// setuppack media fills in (--exit-code, --silent-switch). It lies in a
// section, so that an Authenticode signature of setup.exe covers it, and
// setup.exe reads its settings from there alone.
//
// Layout (integers little-endian):
//
//   offset  size  field
//   0       8     SettingsId
//   8       4     layout version (SettingsLayoutVersion)
//   12      4     flags (SettingsExitCodes)
//   16      112   silent switches: each a text of printable ASCII ending
//                 in a zero byte, one after the other; a zero byte where a
//                 switch would begin ends the list (all zero: none)
//
// As built, every field after the version is zero: exit code 0 on every
// path, and no switch makes a run silent.
#pragma once

#include <stdint.h>

static const uint8_t SettingsId[8] = {'S', 'E', 'T', 'O', 'P', 'T', 'S', 0x1A};
static const uint32_t SettingsIdSize = 8;
static const uint32_t SettingsLayoutVersion = 1;
static const uint32_t SettingsFlagsOffset = 12;
static const uint32_t SettingsSwitchesOffset = 16;
static const uint32_t SettingsSwitchesSize = 112;
static const uint32_t SettingsBlockSize = SettingsSwitchesOffset + SettingsSwitchesSize;  // 128

// setup.exe returns the installer's exit code, and codes of its own for its
// failures, instead of 0.
static const uint32_t SettingsExitCodes = 1;
