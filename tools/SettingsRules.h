// The settings the builder refuses to write, in one place: the command line,
// a build (whose settings may be kept from an input file) and --verify of a
// finished file all judge a block by these rules.
#ifndef MKSFX_SETTINGSRULES_H
#define MKSFX_SETTINGSRULES_H

#include <string>
#include <vector>

namespace mksfx {

struct BlockSettings;

// A combination the self-extracting file would silently ignore (a run that
// never happens, parameters or a folder text that are never used, a check
// box for no run); empty when there is none.  Only flags and whether each
// text is empty count, so the texts may still be UTF-8 as given.
std::string CombinationProblem(const BlockSettings &s);

// The proposed folder, as UTF-8: a character Windows forbids in paths would
// only fail on the user's machine.  Empty when the folder is fine.
std::string FolderProblem(const std::string &utf8);

// Everything wrong with a finished block (texts in code page 949): the
// combination, texts that are no code page 949, the folder's characters,
// and a run file missing from the entries (UTF-8 names, compared as
// Windows compares them).  Empty when the builder would write the block.
std::vector<std::string> SettingsProblems(const BlockSettings &s, const std::vector<std::string> &names);

}  // namespace mksfx

#endif
