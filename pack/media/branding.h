// The vendor's own setup.exe: its version information, icon, caption and
// messages, written into the copy of setup.exe that media writes.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "media/icon_file.h"
#include "media/strings_file.h"
#include "media/version_info.h"

// As given on the command line (texts UTF-8, files by path).
struct BrandingOptions {
  std::string productName, productVersion, company, description, copyright, fileVersion;
  std::string icon, strings;

  bool Any() const {
    return !productName.empty() || !productVersion.empty() || !company.empty() || !description.empty() ||
           !copyright.empty() || !fileVersion.empty() || !icon.empty() || !strings.empty();
  }
};

// The options read and checked: the files read, the versions parsed.
struct Branding {
  BrandingOptions options;
  bool hasVersion = false;
  VersionInfo version;
  std::vector<IconImage> icon;
  bool hasStrings = false;
  Translation translation;
};

// Reads the icon and strings files and checks every option. false with
// *error for a version that is not dotted numbers, an icon that is not one,
// a strings file with a line that is not right.
bool PrepareBranding(const BrandingOptions& options, Branding* branding, std::string* error);

// Writes branding into setup (named name in messages): the messages are
// checked against setup's own here. false with *error, setup unchanged.
bool ApplyBranding(std::vector<uint8_t>* setup, const std::string& name, const Branding& branding,
                   std::string* error);

// The version information of a program as test and list show it: a line a
// field, each beginning with two blanks; none when it has none.
std::vector<std::string> DescribeVersion(const std::vector<uint8_t>& program);
