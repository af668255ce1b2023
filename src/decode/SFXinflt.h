// The inflate decoder (RFC 1951) with its buffered input and output.
#ifndef SFX_INFLT_H
#define SFX_INFLT_H

#include "../common/SFXgbls.h"

// Decodes the current deflated entry: RemainingInput compressed bytes from
// the current position of ArchiveFile (decrypted when bit 0 of
// LocalHeader.Flags is set), output to OutputFile, every written byte added
// to RunningCrc.
void Inflate();

#endif
