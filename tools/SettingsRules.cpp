#include "SettingsRules.h"

#include <ctype.h>
#include <string.h>

#include "Builder.h"
#include "Platform.h"

namespace mksfx {

std::string CombinationProblem(const BlockSettings &s)
{
    // What the stub makes of the block: a run opens the file, or opens it
    // (or the target folder) with parameters; anything else never runs.
    bool runs = s.RunOpensFile || !s.Parameters.empty();
    if (s.RunOpensFile && s.RunFile.empty())
        return "--open without a run file (--run FILE): nothing would be opened";
    if (s.RunOpensFile && !s.Parameters.empty())
        return "--open with --params: the file is opened without the parameters";
    if (!s.RunFile.empty() && !runs)
        return "a run file without --open or --params: it would never be run";
    if (s.ShowRunOption && !runs)
        return "--show-run without a run (--run with --open, or --params): a check box that does nothing";
    if (s.DefaultToTemp && !s.Folder.empty())
        return "--folder with --temp-folder: the temporary folder replaces the folder";
    return "";
}

std::string FolderProblem(const std::string &f)
{
    for (size_t i = 0; i < f.size(); i++) {
        unsigned char c = (unsigned char)f[i];
        bool drive = c == ':' && i == 1 && isalpha((unsigned char)f[0]);
        if (c < 0x20 || (c == ':' && !drive) || strchr("*?\"<>|", c))
            return "holds the character " + (c < 0x20 ? "0x" + std::to_string(c) : std::string(1, (char)c)) +
                   ", which Windows forbids in paths";
    }
    return "";
}

std::vector<std::string> SettingsProblems(const BlockSettings &s, const std::vector<std::string> &names)
{
    std::vector<std::string> problems;
    std::string combination = CombinationProblem(s);
    if (!combination.empty())
        problems.push_back(combination);
    const std::pair<const char *, const std::string *> texts[] = {
        {"caption", &s.Caption}, {"folder", &s.Folder}, {"parameters", &s.Parameters}, {"run file", &s.RunFile}};
    std::string utf8[4];
    for (int i = 0; i < 4; i++) {
        // The stub ends a text at a zero byte; no option can give one.
        if (texts[i].second->find('\0') != std::string::npos)
            problems.push_back(std::string("the ") + texts[i].first + " holds a zero byte, where it would be cut");
        else if (!Cp949ToUtf8(*texts[i].second, utf8[i]))
            problems.push_back(std::string("the ") + texts[i].first + " is no code page 949 text");
    }
    std::string folder = FolderProblem(utf8[1]);
    if (!folder.empty())
        problems.push_back("the folder \"" + utf8[1] + "\" " + folder);
    // The file the stub would open after extraction must be one of the
    // entries; the builder writes it with backslashes.
    const std::string &run = utf8[3];
    if (!run.empty() && (s.RunOpensFile || !s.Parameters.empty())) {
        std::string key = NameKey(run);
        while (!key.empty() && key[0] == '/')
            key.erase(0, 1);
        bool found = false;
        for (const std::string &name : names)
            found = found || NameKey(name) == key;
        if (!found)
            problems.push_back("the run file \"" + run + "\" is not in the archive");
    }
    return problems;
}

}  // namespace mksfx
