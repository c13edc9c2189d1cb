#include "media/branding.h"

#include <stdio.h>

#include <map>

#include "media/dialog_template.h"
#include "platform/file_io.h"
#include "media/pe_resources.h"
#include "media/string_table.h"
#include "media/utf16.h"

namespace {

const uint16_t PleaseWaitDialog = 4001, SetupIcon = 5001, CaptionId = 2;

bool ParseVersionOption(const std::string& option, const std::string& text, uint16_t numbers[4],
                        std::string* error) {
  if (ParseVersion(text, numbers)) return true;
  *error = option + " '" + text +
           "' is not a version: one to four numbers of 0 to 65535 joined by dots, such as 1.2.3";
  return false;
}

}  // namespace

bool PrepareBranding(const BrandingOptions& options, Branding* branding, std::string* error) {
  *branding = Branding();
  branding->options = options;
  VersionInfo& v = branding->version;
  if (!options.productVersion.empty() &&
      !ParseVersionOption("--product-version", options.productVersion, v.productVersion, error)) {
    return false;
  }
  const std::string& fileVersion = options.fileVersion.empty() ? options.productVersion : options.fileVersion;
  if (!fileVersion.empty() && !ParseVersionOption("--file-version", fileVersion, v.fileVersion, error))
    return false;
  std::string description = options.description;
  if (description.empty() && !options.productName.empty()) description = options.productName + " Setup";
  const std::pair<const char*, std::string> fields[] = {
      {"CompanyName", options.company},     {"FileDescription", description},
      {"FileVersion", fileVersion},         {"LegalCopyright", options.copyright},
      {"ProductName", options.productName}, {"ProductVersion", options.productVersion}};
  for (const auto& field : fields) {
    if (!field.second.empty()) v.strings.push_back({field.first, field.second});
  }
  branding->hasVersion = !v.strings.empty();
  std::vector<uint8_t> bytes;
  // Texts that are not UTF-8 are refused here, before anything is written.
  if (branding->hasVersion && !WriteVersionInfo(v, &bytes, error)) return false;
  if (!options.icon.empty() && (!ReadWholeFile(options.icon, &bytes, error) ||
                                !ReadIconFile(bytes, options.icon, &branding->icon, error))) {
    return false;
  }
  if (!options.strings.empty()) {
    branding->hasStrings = true;
    if (!ReadWholeFile(options.strings, &bytes, error) ||
        !ReadStringsFile(bytes, options.strings, &branding->translation, error)) {
      return false;
    }
  }
  return true;
}

bool ApplyBranding(std::vector<uint8_t>* setup, const std::string& name, const Branding& branding,
                   std::string* error) {
  std::vector<Resource> resources;
  if (!ReadImageResources(*setup, name, &resources, error)) return false;
  uint16_t language = 1033;
  std::map<uint16_t, std::u16string> strings = ReadStringTable(resources, &language);
  const Translation& t = branding.translation;
  if (branding.hasStrings && !CheckTranslation(t, branding.options.strings, strings, error)) return false;
  if (t.hasLanguage) language = t.language;
  for (const auto& message : t.messages) strings[message.first] = message.second;
  std::u16string caption;
  if (!branding.options.productName.empty() && !t.messages.count(CaptionId)) {
    if (!Utf8ToUtf16(branding.options.productName + " Setup", &caption)) {
      *error = "--product-name is not UTF-8";
      return false;
    }
    strings[CaptionId] = caption;
  }
  if (branding.hasStrings || !caption.empty()) WriteStringTable(&resources, strings, language);
  if (t.hasDialog || t.hasLanguage) {
    for (Resource& r : resources) {
      if (r.type.named || r.type.id != ResourceDialog || !(r.name == ResourceKey::Id(PleaseWaitDialog)))
        continue;
      std::vector<uint8_t> replaced;
      if (t.hasDialog && !ReplaceDialogLine(r.data, t.dialog, &replaced, error)) return false;
      if (t.hasDialog) r.data.swap(replaced);
      r.language = language;
    }
  }
  if (!branding.icon.empty()) {
    std::vector<const Resource*> old =
        FindResources(resources, ResourceKey::Id(ResourceGroupIcon), ResourceKey::Id(SetupIcon));
    ReplaceIconGroup(&resources, SetupIcon, branding.icon, old.empty() ? language : old[0]->language);
  }
  if (branding.hasVersion) {
    VersionInfo version = branding.version;
    version.language = language;
    Resource r;
    r.type = ResourceKey::Id(ResourceVersion);
    r.name = ResourceKey::Id(1);
    r.language = language;
    if (!WriteVersionInfo(version, &r.data, error)) return false;
    RemoveResources(&resources, r.type, nullptr);
    resources.push_back(r);
  }
  return ReplaceImageResources(setup, name, resources, error);
}

std::vector<std::string> DescribeVersion(const std::vector<uint8_t>& program) {
  std::vector<Resource> resources;
  std::string error;
  std::vector<std::string> lines;
  if (!ReadImageResources(program, "", &resources, &error)) return lines;
  for (const Resource& r : resources) {
    VersionInfo info;
    if (r.type.named || r.type.id != ResourceVersion || !ReadVersionInfo(r.data, &info)) continue;
    char language[8];
    snprintf(language, sizeof language, "%04X", info.language);
    lines.push_back("  version information, language " + std::string(language) + ": file version " +
                    DottedVersion(info.fileVersion) + ", product version " +
                    DottedVersion(info.productVersion));
    for (const auto& field : info.strings) lines.push_back("  " + field.first + ": " + field.second);
    break;
  }
  return lines;
}
