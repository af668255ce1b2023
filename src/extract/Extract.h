// The extraction driver and the run after extraction.
#ifndef SFX_EXTRACT_H
#define SFX_EXTRACT_H

#include "../common/SFXgbls.h"

// Lists (listing true) or extracts the archive's entries; the entry list is
// control listId of the dialog, and its selection is the run's tally.
void ExtractEntries(SfxWindow dialog, int listId, bool listing);

// Opens the configured run file after a successful extraction; checkState
// is the run check box's state (1 checked).
void RunAfterExtraction(int checkState);

#endif
