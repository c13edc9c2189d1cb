// setup.exe's seal (unpack/seal.h), as built: unsealed. setuppack fills it
// in; it is in its own file so that no other code sees its contents as
// constants and folds the check away.
#include "launcher.h"

extern const uint8_t SetupSeal[SealBlockSize] = {
    'S', 'E', 'T', 'S', 'E', 'A', 'L', 0x1A,  // SealId
    2,   0,   0,   0,                         // SealLayoutVersion
    'u', 'n', 's', 'e', 'a', 'l', 'e', 'd',   // state
};
