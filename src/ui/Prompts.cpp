#include "Prompts.h"

void AskFileExists()
{
}

void AskPassword()
{
}
