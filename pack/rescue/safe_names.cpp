#include "rescue/safe_names.h"

#include <ctype.h>
#include <string.h>

std::string NotADeviceName(const std::string& name) {
  // The part before the first dot, without the spaces Windows drops.
  std::string stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) c = (char)toupper((unsigned char)c);
  static const char* const devices[] = {"CON", "PRN", "AUX", "NUL"};
  bool reserved = false;
  for (const char* device : devices) reserved = reserved || stem == device;
  if (stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0)) {
    reserved = stem[3] >= '1' && stem[3] <= '9';
  }
  return reserved ? "_" + name : name;
}
