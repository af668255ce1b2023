// mksfx: makes self-extracting files.  See Command.cpp.
#include <stdio.h>

#include <new>

#include "Builder.h"
#include "Command.h"
#include "Platform.h"


int main(int argc, char **argv)
{
    try {
        mksfx::Options o = mksfx::ParseCommandLine(mksfx::CommandLine(argc, argv));
        return mksfx::RunCommand(o);
    } catch (const std::bad_alloc &) {
        // The temporary output is already gone: the build unwound through
        // its clean-up on the way here.
        mksfx::PrintText(stderr, "mksfx: out of memory\n");
        return mksfx::ExitError;
    } catch (const mksfx::BuildError &e) {
        // Messages carry names from the inputs: no control character of
        // theirs reaches the terminal.
        mksfx::PrintText(stderr, "mksfx: %s\n", mksfx::Printable(e.what()).c_str());
        return e.Code;
    } catch (const std::exception &e) {
        mksfx::PrintText(stderr, "mksfx: %s\n", mksfx::Printable(e.what()).c_str());
        return mksfx::ExitError;
    }
}
