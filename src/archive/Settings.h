// The settings block that follows the executable image.
#ifndef SFX_SETTINGS_H
#define SFX_SETTINGS_H

#include "../common/SFXgbls.h"

// Reads the settings block of ArchiveFile (or keeps every default) and sets
// ArchiveStart.
void ReadSettings();

#endif
