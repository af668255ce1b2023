// The command-line switches, in the form installers have taught
// administrators: /S, /D=folder, /O=all|never|ask, /P=password, /R=0|1,
// /W and /?.  Case does not matter, a value follows '=' or ':'; a switch is
// quoted as a program's argument is ("/D=C:\My Folder" or /D="C:\My Folder"),
// and an unquoted /D= comes last and takes the rest of the line, spaces and
// all (SwitchLine).
// The line is read wide, so a Korean folder arrives intact on any system.
#include "Switches.h"
#include "SwitchLine.h"

#include "../common/SFXmisc.h"
#include "../common/WideText.h"
#include "../resources/resource.h"

const char SwitchHelpCaption[] = "명령행";
const char SwitchHelp[] =
    "[/S] [/O=all|never|ask] [/P=암호] [/R=0|1] [/W] [/D=해제폴더]\n\n"
    "/S\t창 없이 압축해제\n"
    "/O\t파일이 존재하면: 전체(all), 안함(never), 묻고(ask) 겹쳐쓰기\n"
    "/P\t암호\n"
    "/R\t압축해제 후 실행함(1), 안함(0)\n"
    "/W\t실행한 프로그램을 기다림\n"
    "/D\t마지막에, 공백이 있어도 따옴표 없이\n\n"
    "/S 종료코드: 0 성공, 1 일부 실패, 2 잘못된 명령행, 3 압축파일 에러";

static const wchar_t *Folder;
static int OverwriteButton;

// The value is word (lower-case ASCII) in any case.
static bool Is(const wchar_t *value, const char *word)
{
    for (; *value; value++, word++)
        if ((*value | 0x20) != *word)
            return false;
    return *word == 0;
}

bool ReadSwitches()
{
    wchar_t *p = SkipProgramName(GetCommandLineW());
    bool help = false, bad = false;
    wchar_t key;
    const wchar_t *value;
    while (NextSwitch(&p, &key, &value)) {
        bool ok = true;
        switch (key) {
        case 's':
            Silent = true;
            break;
        case 'w':
            WaitForRun = true;
            break;
        case '?':
            help = true;
            break;
        case 'r':
            NoRun = Is(value, "0");
            ok = NoRun || Is(value, "1");
            break;
        case 'o':
            OverwriteButton = Is(value, "all")     ? IDC_OVERWRITE_ALL
                              : Is(value, "never") ? IDC_OVERWRITE_NEVER
                              : Is(value, "ask")   ? IDC_OVERWRITE_ASK
                                                   : 0;
            ok = OverwriteButton != 0;
            break;
        case 'd': {
            // A folder the run would refuse is refused here, as a bad line;
            // so is a quote, which no folder holds: it is what is left of a
            // quoted folder whose last backslash escaped the closing quote.
            Folder = value;
            int n = 0;
            while (value[n] && value[n] != '"')
                n++;
            ok = n > 0 && !value[n] && n <= TargetFolderChars;
            break;
        }
        case 'p': {
            // The keys come from the password's code page 949 bytes, as
            // the password prompt's answer does.
            char bytes[PasswordBufferSize];
            int n = WideCharToMultiByte(949, 0, value, -1, bytes, PasswordBufferSize, NULL, NULL);
            ok = n > 0;
            if (ok)
                TextAssign(Password, bytes);
            break;
        }
        default:
            ok = false;
        }
        bad = bad || !ok;
    }
    if (bad)
        ExitCode = 2;
    return !bad && !help;
}

void ApplySwitches()
{
    if (Folder) {
        Utf8FromWide(Folder, DefaultFolder, TextBufferSize);
        HasDefaultFolder = true;
    }
    if (OverwriteButton)
        InitialOverwriteButton = OverwriteButton;
    // Nobody is there to ask: "ask" leaves existing files alone.
    if (Silent && InitialOverwriteButton == IDC_OVERWRITE_ASK)
        InitialOverwriteButton = IDC_OVERWRITE_NEVER;
}
