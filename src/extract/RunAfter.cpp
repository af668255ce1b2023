#include "Extract.h"

void RunAfterExtraction(int checkState)
{
}
