// The extraction driver and the run after extraction.
#ifndef SFX_EXTRACT_H
#define SFX_EXTRACT_H

#include "../common/SFXgbls.h"

// Lists (listing true) or extracts the archive's entries; the entry list is
// control listId of the dialog, and its selection is the run's tally.
void ExtractEntries(SfxWindow dialog, int listId, bool listing);

// The download's mark: ReadZoneMark takes the Zone.Identifier of the
// program's own file (at start-up; ownPath stays valid for the run), and
// WriteZoneMark gives every extracted file the same zone, with the program
// as its referrer, when the own file came from the internet (zone 3) or a
// restricted site (zone 4).
void ReadZoneMark(const char *ownPath);
void WriteZoneMark(const char *path);

// Opens the configured run file after a successful extraction; checkState
// is the run check box's state (1 checked).  The file is opened only when
// it holds what the archive's entry of that name holds: RunEntryFound is set
// by an extraction run that met the entry, with its CRC-32 and size.
void RunAfterExtraction(int checkState);
extern bool RunEntryFound;
extern uint32_t RunEntryCrc, RunEntrySize;

// With the temporary folder as the target: a new folder of the run's own
// under it becomes TargetFolder and the dialog's folder field.  False, with
// the folder error shown, when none could be made.
bool MakeOwnTempFolder(SfxWindow dialog);

#endif
