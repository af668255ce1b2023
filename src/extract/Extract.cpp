#include "Extract.h"

void ExtractEntries(SfxWindow dialog, int listId, bool listing)
{
}
