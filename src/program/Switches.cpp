// The command-line switches, in the form installers have taught
// administrators: /S, /D=folder, /O=all|never|ask, /P=password, /R=0|1,
// /W and /?.  Case does not matter, a value follows '=' or ':' and may be
// quoted; /D= comes last and takes the rest of the line, spaces and all.
// The line is read wide, so a Korean folder arrives intact on any system.
#include "Switches.h"

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

static bool IsBlank(wchar_t c)
{
    return c == ' ' || c == '\t';
}

// The value [from, to) is word (lower-case ASCII) in any case.
static bool Is(const wchar_t *from, const wchar_t *to, const char *word)
{
    for (; from < to; from++, word++)
        if ((*from | 0x20) != *word)
            return false;
    return *word == 0;
}

bool ReadSwitches()
{
    const wchar_t *p = GetCommandLineW();
    // The program's own name, quoted or up to the first blank.
    if (*p == '"') {
        while (*++p && *p != '"')
            ;
        if (*p)
            p++;
    } else {
        while (*p && !IsBlank(*p))
            p++;
    }
    bool help = false, bad = false;
    for (;;) {
        while (IsBlank(*p))
            p++;
        if (!*p)
            break;
        wchar_t key = 0;
        if (*p == '/' && p[1])
            key = p[1] | 0x20;
        p += *p == '/' ? 1 + (p[1] != 0) : 0;
        const wchar_t *value = p, *end = p;
        bool ok = true;
        if (key == 'd' || key == 'o' || key == 'p' || key == 'r') {
            ok = *p == '=' || *p == ':';
            value = p += ok;
            if (ok && *p == '"') {
                value = ++p;
                while (*p && *p != '"')
                    p++;
                end = p;
                if (*p)
                    p++;
            } else {
                while (*p && (key == 'd' || !IsBlank(*p)))
                    p++;
                end = p;
                while (end > value && IsBlank(end[-1]))
                    end--;
            }
        }
        ok = ok && (!*p || IsBlank(*p));
        switch (ok ? key : 0) {
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
            NoRun = Is(value, end, "0");
            ok = NoRun || Is(value, end, "1");
            break;
        case 'o':
            OverwriteButton = Is(value, end, "all")     ? IDC_OVERWRITE_ALL
                              : Is(value, end, "never") ? IDC_OVERWRITE_NEVER
                              : Is(value, end, "ask")   ? IDC_OVERWRITE_ASK
                                                        : 0;
            ok = OverwriteButton != 0;
            break;
        case 'd':
            // A folder the run would refuse is refused here, as a bad line.
            // The line is the process's own copy and is read no further
            // back: the folder is ended in place, over its quote or blank.
            Folder = value;
            ok = end > value && end - value <= TargetFolderChars;
            *(wchar_t *)end = 0;
            break;
        case 'p': {
            // The keys come from the password's code page 949 bytes, as
            // the password prompt's answer does.
            char bytes[PasswordBufferSize];
            int n = WideCharToMultiByte(949, 0, value, (int)(end - value), bytes,
                                        PasswordBufferSize - 1, NULL, NULL);
            bytes[n] = 0;
            ok = n > 0 || end == value;
            TextAssign(Password, bytes);
            break;
        }
        default:
            ok = false;
        }
        if (!ok) {
            bad = true;
            while (*p && !IsBlank(*p))
                p++;
        }
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
