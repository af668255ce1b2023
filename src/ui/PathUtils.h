// Path routines of the folder dialogs: the long, stored-case form of the
// folder the directory listing shows, and the creation of a sub-folder that
// then becomes the current folder.
#ifndef SFX_PATHUTILS_H
#define SFX_PATHUTILS_H

#include "../common/SFXgbls.h"

// Rewrites a drive path (TextBufferSize bytes) with every component in its
// long name and stored letter case, ending with a backslash, at most 255
// characters.  Texts shorter than 4 characters (a drive root) are left as
// they are; a component that cannot be looked up keeps its own text.  When
// the long form would pass 255 characters the text stays as given (with
// the backslash, when it fits): never a cut text naming another folder.
void ExpandLongPath(char *buffer);

// Creates base + name with every missing level (base ends with a backslash
// and is the current folder) and makes name the current folder.  False for
// a name with a colon, a name of nothing but backslashes, or a folder that
// does not exist afterwards.
bool CreateAndEnterFolder(const char *base, const char *name);

#endif
