// The settings block that follows the executable image.
#ifndef SFX_SETTINGS_H
#define SFX_SETTINGS_H

#include "../common/SFXgbls.h"

// Where the executable image ends and the settings block (or, without one,
// the archive) begins.
enum { ImageSize = 0x9800 };

// Reads the settings block of ArchiveFile (or keeps every default) and sets
// ArchiveStart.
void ReadSettings();

#endif
