// The stub's command line as launchers write it.  Each program that takes an
// argument list quotes an argument holding a blank whole, by the rules
// CommandLineToArgvW undoes; batch files written for the stub pass /D=
// unquoted with spaces.  Both must give the same switches.
#include <gtest/gtest.h>

#include <string>

#include "program/SwitchLine.h"

// The switches of a whole command line as "key=value" separated by '|',
// '!' for an argument that is no well-formed switch.
static std::wstring Switches(const wchar_t *commandLine)
{
    std::wstring line = commandLine, shown;
    wchar_t *p = SkipProgramName(&line[0]);
    wchar_t key;
    const wchar_t *value;
    while (NextSwitch(&p, &key, &value)) {
        if (!shown.empty())
            shown += L'|';
        shown += key ? std::wstring(1, key) : L"!";
        if (*value)
            shown += L"=" + std::wstring(value);
    }
    return shown;
}

TEST(SwitchLine, CommandLinesOfLaunchers)
{
    struct {
        const char *who;
        const wchar_t *line, *expected;
    } cases[] = {
        // cmd and batch files, as the stub has always read them.
        {"cmd", L"setup.exe /S /O=all /D=C:\\Tools\\My Tool", L"s|o=all|d=C:\\Tools\\My Tool"},
        {"cmd, a quoted value", L"setup.exe /S /P=\"s3cret pass\" /R=1 /W /D=C:\\Program Files\\My Tool",
         L"s|p=s3cret pass|r=1|w|d=C:\\Program Files\\My Tool"},
        {"cmd, trailing blanks", L"setup.exe /s /d:C:\\My Folder\\ \t ", L"s|d=C:\\My Folder\\"},
        {"cmd, a quoted folder", L"setup.exe /D=\"C:\\My Folder\" /S", L"d=C:\\My Folder|s"},
        // Wine's start takes the line apart and quotes each argument with a
        // blank whole again.
        {"start under Wine", L"setup.exe /S \"/P=s3cret pass\" /R=1 /W /D=C:\\Program Files\\My Tool",
         L"s|p=s3cret pass|r=1|w|d=C:\\Program Files\\My Tool"},
        {"wine setup.exe", L"C:\\users\\me\\setup.exe /S \"/D=C:\\My Folder\"", L"s|d=C:\\My Folder"},
        // Start-Process -ArgumentList joins its strings with blanks as
        // they are; the user quotes the ones with blanks.
        {"Start-Process", L"\"C:\\Temp\\setup.exe\" /S /D=C:\\Data", L"s|d=C:\\Data"},
        {"Start-Process, quoted", L"\"C:\\Temp\\setup.exe\" /S \"/P=s3cret pass\" \"/D=C:\\My Data\"",
         L"s|p=s3cret pass|d=C:\\My Data"},
        // subprocess.list2cmdline and .NET's ArgumentList: whole arguments
        // quoted, a quote escaped, backslashes before a quote doubled.
        {"Python", L"setup.exe /S \"/D=C:\\My Folder\\\\\" /O=never", L"s|d=C:\\My Folder\\|o=never"},
        {"Python, a quote in the password", L"setup.exe /P=a\\\"b \"/P=c\\\"d e\"", L"p=a\"b|p=c\"d e"},
        {".NET", L"\"C:\\Temp\\setup.exe\" /S \"/P=a\\\"b\" \"/D=\\\\server\\share\\My Tool\\\\\"",
         L"s|p=a\"b|d=\\\\server\\share\\My Tool\\"},
        {"program name quoted, switch right after it", L"\"setup.exe\"/S", L"s"},
        {"Korean folder", L"setup.exe \"/D=C:\\한글 폴더\" /S", L"d=C:\\한글 폴더|s"},
        // The rules themselves.
        {"backslashes not before a quote", L"x /P=a\\\\b\\", L"p=a\\\\b\\"},
        {"2n backslashes before a quote", L"x /P=\"a\\\\\\\\\" /S", L"p=a\\\\|s"},
        {"2n + 1 backslashes before a quote", L"x /P=a\\\\\\\"b", L"p=a\\\"b"},
        {"a doubled quote inside quotes closes", L"x \"/P=a\"\"b c\"", L"p=a\"b|!"},
        {"three quotes outside", L"x /P=\"\"\"a\"", L"p=\"a"},
        // These as Wine's CommandLineToArgvW splits them.
        {"four quotes inside", L"x \"/P=a\"\"\"\"b\" c", L"p=a\"b c"},
        {"three quotes inside", L"x \"/P=a\"\"\"b c\"", L"p=a\"b c"},
        {"an empty quoted value", L"x /P=\"\" /S", L"p|s"},
        {"quotes around the key too", L"x \"/S\" /\"W\"", L"s|w"},
        {"tabs separate", L"x\t/S\t/W", L"s|w"},
        // Unquoted /D takes the rest as it stands; a quote after it means
        // the usual rules.
        {"/D takes the rest", L"x /D=C:\\a b /S", L"d=C:\\a b /S"},
        {"a quote after /D", L"x /D=C:\\My\" \"Folder /S", L"d=C:\\My Folder|s"},
        // A folder holds no quote: a backslash before one stays a backslash
        // (elsewhere it makes the quote literal, as above).
        {"a folder's backslash before its quote", L"x /D=\"C:\\My Folder\\\" /S", L"d=C:\\My Folder\\|s"},
        {"the same, quoted whole", L"x \"/D=C:\\My Folder\\\" /S", L"d=C:\\My Folder\\|s"},
        {"a quote in the middle of a folder", L"x /D=C:\\\"My Folder\" /S", L"d=C:\\My Folder|s"},
        {"a doubled quote in a folder", L"x /D=\"C:\\a\"\"b\"", L"d=C:\\a\"b"},
        // Malformed: each gives '!' (the stub then ends with exit code 2).
        {"no slash", L"x /S C:\\Out", L"s|!"},
        {"a slash alone", L"x /", L"!"},
        {"a value missing", L"x /D /O all", L"!|!|!"},
        {"a value on a plain switch", L"x /W=1 /Sx", L"!|!"},
        {"an unknown switch", L"x /Q", L"q"},
        {"nothing after the name", L"\"C:\\My Tools\\setup.exe\"  ", L""},
    };
    for (auto &c : cases)
        EXPECT_EQ(Switches(c.line), c.expected) << c.who;
}
