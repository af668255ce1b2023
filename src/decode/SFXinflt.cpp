#include "SFXinflt.h"

void Inflate()
{
}
