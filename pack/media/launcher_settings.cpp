#include "media/launcher_settings.h"

#include <string.h>

#include "media/seal_image.h"  // ImageEnd
#include "settings.h"

namespace {

bool IsSwitchCharacter(uint8_t c) { return c > ' ' && c < 0x7F && c != '"'; }

std::string Upper(std::string text) {
  for (char& c : text) c = (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
  return text;
}

// The offset of the one settings block within the image part of image
// (before any bytes a program carries after it), or false with *error.
bool FindBlock(const std::vector<uint8_t>& image, const std::string& name, size_t* offset, bool* found,
               std::string* error) {
  *found = false;
  size_t end = 0;
  std::string notProgram;
  if (!ImageEnd(image, name, &end, &notProgram)) return true;
  end = std::min(end, image.size());
  size_t count = 0;
  for (size_t at = 0; at + SettingsBlockSize <= end; ++at) {
    if (memcmp(&image[at], SettingsId, SettingsIdSize) != 0) continue;
    *offset = at;
    ++count;
  }
  if (count > 1) {
    *error = "'" + name + "' holds " + std::to_string(count) + " settings blocks";
    return false;
  }
  *found = count == 1;
  return true;
}

uint32_t ReadLE32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }

}  // namespace

bool CheckSilentSwitches(const std::vector<std::string>& switches, std::string* error) {
  size_t used = 0;  // each ends in a zero byte; the block's end ends the list too
  for (size_t i = 0; i < switches.size(); ++i) {
    const std::string& s = switches[i];
    bool word = !s.empty();
    for (char c : s) word = word && IsSwitchCharacter((uint8_t)c);
    if (!word) {
      *error = "--silent-switch '" + s + "': a switch is one word of printable ASCII, without quotes";
      return false;
    }
    for (size_t j = 0; j < i; ++j) {
      if (Upper(switches[j]) == Upper(s)) {
        *error = "--silent-switch '" + s + "' is given twice (letter case aside)";
        return false;
      }
    }
    used += s.size() + 1;
  }
  if (used > SettingsSwitchesSize) {
    *error = "the silent switches take " + std::to_string(used) + " bytes with their ends; setup.exe holds " +
             std::to_string(SettingsSwitchesSize);
    return false;
  }
  return true;
}

bool ReadLauncherSettings(const std::vector<uint8_t>& image, const std::string& name,
                          LauncherSettings* settings, bool* found, std::string* error) {
  *settings = LauncherSettings();
  size_t offset = 0;
  if (!FindBlock(image, name, &offset, found, error)) return false;
  if (!*found) return true;
  const uint8_t* block = &image[offset];
  if (ReadLE32(block + SettingsIdSize) != SettingsLayoutVersion) {
    *error = "'" + name + "': settings block of unknown layout " +
             std::to_string(ReadLE32(block + SettingsIdSize));
    return false;
  }
  settings->exitCodes = (ReadLE32(block + SettingsFlagsOffset) & SettingsExitCodes) != 0;
  const uint8_t* text = block + SettingsSwitchesOffset;
  size_t at = 0;
  while (at < SettingsSwitchesSize && text[at] != 0) {
    std::string s;
    while (at < SettingsSwitchesSize && text[at] != 0) {
      if (!IsSwitchCharacter(text[at])) {
        *error = "'" + name + "': damaged settings block (a silent switch holds byte " +
                 std::to_string(text[at]) + ")";
        return false;
      }
      s += (char)text[at++];
    }
    ++at;
    settings->silentSwitches.push_back(s);
  }
  return true;
}

bool WriteLauncherSettings(std::vector<uint8_t>* image, const std::string& name,
                           const LauncherSettings& settings, std::string* error) {
  size_t offset = 0;
  bool found = false;
  if (!CheckSilentSwitches(settings.silentSwitches, error) ||
      !FindBlock(*image, name, &offset, &found, error))
    return false;
  if (!found) {
    *error = "'" + name + "' has no settings block (a setup.exe from before --exit-code and --silent-switch)";
    return false;
  }
  uint8_t* block = &(*image)[offset];
  if (ReadLE32(block + SettingsIdSize) != SettingsLayoutVersion) {
    *error = "'" + name + "': settings block of unknown layout";
    return false;
  }
  memset(block + SettingsFlagsOffset, 0, SettingsBlockSize - SettingsFlagsOffset);
  block[SettingsFlagsOffset] = settings.exitCodes ? SettingsExitCodes : 0;
  uint8_t* text = block + SettingsSwitchesOffset;
  for (const std::string& s : settings.silentSwitches) {
    memcpy(text, s.data(), s.size());
    text += s.size() + 1;
  }
  return true;
}

std::string DescribeLauncherSettings(const LauncherSettings& settings) {
  std::string text = settings.exitCodes
                         ? "exit code: the installer's, or 2, 1603, 1618 for its own failures (--exit-code)\n"
                         : "exit code: 0 whatever happens\n";
  if (settings.silentSwitches.empty()) return text + "silent switches: none\n";
  text += "silent switches:";
  for (const std::string& s : settings.silentSwitches) text += " " + s;
  return text + " (no window, failures logged to %TEMP%\\ZIMRO~SE.LOG)\n";
}

bool ApplyMediaSettings(std::vector<uint8_t>* image, const std::string& name,
                        const LauncherSettings& settings, std::string* error) {
  size_t offset = 0;
  bool found = false;
  if (!FindBlock(*image, name, &offset, &found, error)) return false;
  bool asked = settings.exitCodes || !settings.silentSwitches.empty();
  if (!found && !asked) return true;
  return WriteLauncherSettings(image, name, settings, error) && SetPeChecksum(image, name, error);
}

std::string SettingsLines(const std::vector<uint8_t>& image, const std::string& name) {
  LauncherSettings settings;
  bool found = false;
  std::string error;
  if (!ReadLauncherSettings(image, name, &settings, &found, &error)) return "  " + error + "\n";
  if (!found) return "";
  std::string lines = DescribeLauncherSettings(settings), indented;
  for (size_t at = 0; at < lines.size();) {
    size_t end = lines.find('\n', at) + 1;
    indented += "  " + lines.substr(at, end - at);
    at = end;
  }
  return indented;
}
