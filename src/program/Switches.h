// The command-line switches.
#ifndef SFX_SWITCHES_H
#define SFX_SWITCHES_H

#include "../common/SFXgbls.h"

// Reads the process's command line.  False when the program is to end at
// once: /? was given, or the line is malformed (ExitCode is then 2); the
// caller shows SwitchHelp unless the run is silent.
bool ReadSwitches();
// Lays /D and /O over what ReadSettings took from the settings block.
void ApplySwitches();

extern const char SwitchHelp[];
extern const char SwitchHelpCaption[];

#endif
