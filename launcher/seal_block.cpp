// setup.exe's seal (unpack/seal.h) and settings (unpack/settings.h), as
// built: unsealed, and no settings. setuppack fills them in; they are in a
// file of their own so that no other code sees their contents as constants
// and folds the checks away.
#include "launcher.h"

extern const uint8_t SetupSeal[SealBlockSize] = {
    'S', 'E', 'T', 'S', 'E', 'A', 'L', 0x1A,  // SealId
    2,   0,   0,   0,                         // SealLayoutVersion
    'u', 'n', 's', 'e', 'a', 'l', 'e', 'd',   // state
};

extern const uint8_t SetupSettings[SettingsBlockSize] = {
    'S', 'E', 'T', 'O', 'P', 'T', 'S', 0x1A,  // SettingsId
    1,   0,   0,   0,                         // SettingsLayoutVersion
};
