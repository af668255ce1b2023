// The builder's command line and what each command does.
#ifndef MKSFX_COMMAND_H
#define MKSFX_COMMAND_H

#include <stdint.h>

#include <string>
#include <vector>

#include "common/SfxFormat.h"

namespace mksfx {

struct Options {
    enum Mode { Build, Info, Verify, Help, Version } Command = Build;
    std::string Output;
    std::vector<std::string> Inputs;   // files and folders
    std::vector<std::string> Zips;
    std::string Stub;                  // empty: the built-in stub
    std::string Target;                // for --info / --verify
    bool HasCaption = false, HasFolder = false, HasRun = false, HasParameters = false;
    std::string Caption, Folder, RunFile, Parameters;   // UTF-8 as given
    bool TempFolder = false, OpenFile = false, ShowRun = false, FixedOverwrite = false;
    bool Sorted = false;
    bool CurrentTime = false;          // --current-time: files get the time of extraction
    bool HasOverwrite = false;         // --overwrite or --fixed-overwrite given
    int Overwrite = OverwriteAsk;
    int Level = 9;
    bool HasLevel = false;             // given: --zip entries are deflated again
    unsigned Jobs = 0;                 // 0: one per core
    bool HasPassword = false;
    std::string Password;              // UTF-8
    bool ZipCrypto = false;            // --encryption zipcrypto: the traditional scheme, not AES
    bool Seeded = false;
    uint64_t Seed = 0;
    bool FollowSymlinks = false;
    bool KeepMacMetadata = false;      // __MACOSX/ and ._* entries of --zip inputs
    bool Quiet = false;
    bool Json = false;                 // --info and --verify: one JSON object
};

// Parses the arguments (program name excluded).  The password may also come
// from a file (--password-file) or the MKSFX_PASSWORD environment variable,
// both of which keep it out of the shell's history and the process list.
// Throws BuildError with ExitUsage for a malformed command line.
Options ParseCommandLine(const std::vector<std::string> &args);

// Runs the command; returns the exit code.  Messages go to stderr.
int RunCommand(const Options &options);

extern const char HelpText[];

// The long names of every option the parser knows, for checking the help.
std::vector<std::string> OptionNames();

}  // namespace mksfx

#endif
