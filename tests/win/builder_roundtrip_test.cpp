// The builder's files extracted by the real stub: the Windows build of the
// builder (tools\mksfx.exe beside the stub) packs a folder, the stub lists
// and extracts it through its main dialog, and every file comes back byte
// for byte, with and without a password.
#include "wintest_main.h"

#include "e2e_support.h"

#include <algorithm>

using namespace e2e;

namespace {

struct SourceFile {
    std::string name;   // relative, with backslashes
    std::string data;
};

std::vector<SourceFile> SourceFiles()
{
    std::string text, noise;
    for (int i = 0; i < 8000; i++)
        text += "line " + std::to_string(i) + " of the manual\r\n";
    uint32_t x = 7;
    for (int i = 0; i < 70000; i++)
        noise += (char)((x = x * 1103515245 + 12345) >> 23);
    return {
        {"readme.txt", "read me first"},
        {"docs\\manual.txt", text},
        {"data\\noise.bin", noise},
        {"한글\\문서.txt", "한글 문서"},
        {"empty.dat", ""},
    };
}

std::string CurrentFolder()
{
    char buf[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, buf);
    return buf;
}

// Makes dir\src, runs the builder on it; true when it made dir\setup.exe.
bool Pack(const std::string &dir, const std::string &options)
{
    std::string src = dir + "\\src";
    drv::MakeFolder(src);
    for (const SourceFile &f : SourceFiles()) {
        size_t slash = f.name.find('\\');
        if (slash != std::string::npos)
            drv::MakeFolder(src + "\\" + f.name.substr(0, slash));
        if (!drv::WriteFileBytes(src + "\\" + f.name, f.data))
            return false;
    }
    std::string builder = CurrentFolder() + "\\tools\\mksfx.exe";
    drv::Process p = drv::Start("\"" + builder + "\" -q -o \"" + dir + "\\setup.exe\" --folder \"" + dir +
                                "\\out\" --sorted --caption \"빌더 시험\" " + options + " \"" + src + "\"", dir);
    if (!p.handle) {
        printf("  cannot start %s\n", builder.c_str());
        return false;
    }
    int code = drv::WaitExit(p, 60000);
    if (code != 0)
        printf("  the builder exited with %d\n", code);
    return code == 0 && drv::FileExists(dir + "\\setup.exe");
}

void ExpectSameFiles(const std::string &out)
{
    for (const SourceFile &f : SourceFiles()) {
        bool same = drv::FileExists(out + "\\" + f.name) && Content(out + "\\" + f.name) == f.data;
        if (!same)
            printf("  %s differs\n", f.name.c_str());
        CHECK(same);
    }
}

// Starts the packed file, extracts with the proposed folder, answering the
// password prompt when a password is given.
void Extract(const std::string &dir, const char *password)
{
    Sfx sfx;
    sfx.process = drv::Start("\"" + dir + "\\setup.exe\"", dir);
    CHECK(sfx.process.handle != NULL);
    if (!sfx.process.handle || !sfx.WaitMain()) {
        CHECK(!"main dialog");
        return;
    }
    CHECK_TEXT(sfx.Text(IDC_FOLDER), dir + "\\out");
    CHECK_TEXT(TextOf(sfx.main), "빌더 시험");
    std::vector<std::string> items = sfx.Items(IDC_LIST_SORTED);
    CHECK(items.size() == SourceFiles().size());
    CHECK(!items.empty() && items[0] == "data/noise.bin");
    sfx.Press(IDOK);
    if (password) {
        HWND prompt = sfx.WaitOther("암호입력...");
        CHECK(prompt != NULL);
        if (!prompt)
            return;
        SendMessageW(GetDlgItem(prompt, IDC_PROMPT_TEXT), WM_SETTEXT, 0, (LPARAM)drv::Wide949(password).c_str());
        drv::Press(prompt, IDOK);
    }
    CHECK(sfx.Box(DoneCaption, DoneText, 30000));
    CHECK(sfx.Exit() == 0);
}

}  // namespace

TEST_CASE(FolderPackedByTheBuilderComesBackWhole)
{
    std::string dir = Scratch("builder_plain");
    CHECK(Pack(dir, ""));
    Extract(dir, NULL);
    ExpectSameFiles(dir + "\\out");
}

TEST_CASE(EncryptedWithAKoreanPassword)
{
    std::string dir = Scratch("builder_password");
    CHECK(Pack(dir, "--password 비밀번호"));
    Extract(dir, "비밀번호");
    ExpectSameFiles(dir + "\\out");
}

TEST_CASE(WindowsBuilderVerifiesItsOwnFile)
{
    std::string dir = Scratch("builder_verify");
    // AES through the Windows builder's CNG, checked again by --verify.
    CHECK(Pack(dir, "--password secret --encryption aes"));
    std::string builder = CurrentFolder() + "\\tools\\mksfx.exe";
    drv::Process ok = drv::Start("\"" + builder + "\" --verify \"" + dir + "\\setup.exe\" --password secret", dir);
    CHECK(drv::WaitExit(ok, 60000) == 0);
    drv::Process wrong = drv::Start("\"" + builder + "\" --verify \"" + dir + "\\setup.exe\" --password guess", dir);
    CHECK(drv::WaitExit(wrong, 60000) == 1);
}

TEST_CASE(WindowsBuilderPacksNamesBeyondCodePage949)
{
    // French, Chinese and emoji names, made through the wide API: stored as
    // code page 949 approximations beside their Unicode Path fields, listed
    // and created by the stub under their own names.  A real name that
    // meets an approximation is refused.
    std::string dir = Scratch("builder_unicode");
    std::string src = dir + "\\src";
    drv::MakeFolder(src);
    std::wstring wsrc = drv::Wide949(src) + L"\\";
    const std::wstring names[] = {L"caf\x00E9.txt", L"\x7B80\x4F53\x4E2D\x6587.txt", L"smile\xD83D\xDE00.txt",
                                  L"\xD55C\xAE00.txt"};
    for (const std::wstring &n : names)
        CHECK(drv::WriteFileBytes(wsrc + n, drv::Narrow949(n) + " inside"));
    std::string builder = CurrentFolder() + "\\tools\\mksfx.exe";
    drv::Process p = drv::Start("\"" + builder + "\" -q -o \"" + dir + "\\setup.exe\" --folder \"" + dir +
                                "\\out\" --sorted \"" + src + "\"", dir);
    CHECK(drv::WaitExit(p, 60000) == 0);

    Sfx sfx;
    sfx.process = drv::Start("\"" + dir + "\\setup.exe\"", dir);
    if (!sfx.process.handle || !sfx.WaitMain()) {
        CHECK(!"main dialog");
        return;
    }
    std::vector<std::wstring> items = sfx.WideItems(IDC_LIST_SORTED);
    CHECK(items.size() == 4);
    for (const std::wstring &n : names)
        CHECK(std::find(items.begin(), items.end(), n) != items.end());
    sfx.Press(IDOK);
    CHECK(sfx.Box(DoneCaption, DoneText, 30000));
    CHECK(sfx.Exit() == 0);
    std::wstring out = drv::Wide949(dir) + L"\\out\\";
    for (const std::wstring &n : names)
        CHECK(drv::ReadFileText(out + n) == drv::Narrow949(n) + " inside");

    CHECK(drv::WriteFileBytes(src + "\\CAF_.TXT", "real"));
    drv::Process twin = drv::Start("\"" + builder + "\" -o \"" + dir + "\\twin.exe\" \"" + src + "\"", dir);
    CHECK(drv::WaitExit(twin, 60000) == 1);
    CHECK(!drv::FileExists(dir + "\\twin.exe"));
}

TEST_CASE(PasswordFromTheEnvironmentIsReadWide)
{
    // MKSFX_PASSWORD in Korean: the builder must read the wide environment,
    // as it reads the wide command line, or the password would differ from
    // the one typed after --password.
    std::string dir = Scratch("builder_environment");
    CHECK(Pack(dir, "--password 비밀번호"));
    std::string builder = CurrentFolder() + "\\tools\\mksfx.exe";
    SetEnvironmentVariableW(L"MKSFX_PASSWORD", L"\xBE44\xBC00\xBC88\xD638");
    drv::Process p = drv::Start("\"" + builder + "\" --verify \"" + dir + "\\setup.exe\"", dir);
    int code = drv::WaitExit(p, 60000);
    SetEnvironmentVariableW(L"MKSFX_PASSWORD", NULL);
    if (code != 0)
        printf("  --verify with the password from the environment exited with %d\n", code);
    CHECK(code == 0);
}

TEST_CASE(WindowsBuilderTakesAnyFileName)
{
    // Korean, Thai and emoji in the names of the output, of --info's and
    // --verify's file and of a --zip input: the builder and the stub's file
    // layer share one convention (UTF-8 inside, wide calls outside), so
    // every name opens on every system.
    std::string dir = Scratch("builder_names");
    CHECK(Pack(dir, ""));
    std::wstring builder = L"\"" + drv::Wide949(CurrentFolder()) + L"\\tools\\mksfx.exe\" ";
    std::wstring wdir = drv::Wide949(dir), file = wdir + L"\\\xC124\xCE58 \x0E17\x0E14\xD83D\xDE00.exe";
    struct Run {
        std::wstring args;
        int code;
    } runs[] = {
        {L"-q -o \"" + file + L"\" \"" + wdir + L"\\src\"", 0},
        {L"--info \"" + file + L"\"", 0},
        {L"--verify \"" + file + L"\"", 0},
        {L"-q -o \"" + wdir + L"\\\xB2E4\xC2DC.exe\" --zip \"" + file + L"\"", 0},
        // A name that code page 949 holds whole went to the file layer in
        // that code page, which takes UTF-8: "cannot open".
        {L"--info \"" + wdir + L"\\\xB2E4\xC2DC.exe\"", 0},
        // A lone surrogate is no text: refused, never turned into an empty
        // caption or a shorter name.
        {L"-q -o \"" + wdir + L"\\lone.exe\" --caption \"a\xD800\" \"" + wdir + L"\\src\"", 2},
    };
    for (const Run &r : runs) {
        drv::Process p = drv::Start(builder + r.args, wdir);
        int code = drv::WaitExit(p, 60000);
        if (code != r.code)
            printf("  mksfx %s exited with %d\n", drv::Narrow949(r.args).c_str(), code);
        CHECK(code == r.code);
    }
    CHECK(drv::FileExists(file));
    CHECK(drv::FileExists(wdir + L"\\\xB2E4\xC2DC.exe"));
    CHECK(!drv::FileExists(wdir + L"\\lone.exe"));
    // The same for a password from the environment: without the refusal
    // the payload would be built unencrypted.
    SetEnvironmentVariableW(L"MKSFX_PASSWORD", L"pw\xDC00");
    drv::Process p = drv::Start(builder + L"-q -o \"" + wdir + L"\\plain.exe\" \"" + wdir + L"\\src\"", wdir);
    int code = drv::WaitExit(p, 60000);
    SetEnvironmentVariableW(L"MKSFX_PASSWORD", NULL);
    CHECK(code == 2);
    CHECK(!drv::FileExists(wdir + L"\\plain.exe"));
}

TEST_CASE(KoreanNamesShowOnTheConsole)
{
    // On a console the builder writes UTF-16, so a name shows whatever the
    // console's code page; the console is read back as a user sees it.
    std::string dir = Scratch("builder_console");
    CHECK(Pack(dir, ""));
    std::wstring wdir = drv::Wide949(dir), file = wdir + L"\\\xC124\xCE58.exe";
    CHECK(MoveFileW((wdir + L"\\setup.exe").c_str(), file.c_str()));
    FreeConsole();
    CHECK(AllocConsole());
    UINT codePage = GetConsoleOutputCP();
    std::wstring command = L"\"" + drv::Wide949(CurrentFolder()) + L"\\tools\\mksfx.exe\" --info \"" + file + L"\"";
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi;
    bool started = CreateProcessW(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, wdir.c_str(), &si, &pi);
    CHECK(started);
    if (!started)
        return;
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CHECK(code == 0);
    HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                OPEN_EXISTING, 0, NULL);
    CONSOLE_SCREEN_BUFFER_INFO info;
    CHECK(GetConsoleScreenBufferInfo(screen, &info));
    std::wstring shown;
    for (SHORT y = 0; y <= info.dwCursorPosition.Y; y++) {
        std::vector<wchar_t> line(info.dwSize.X);
        DWORD read = 0;
        ReadConsoleOutputCharacterW(screen, line.data(), (DWORD)line.size(), COORD{0, y}, &read);
        shown.append(line.data(), read);
    }
    CloseHandle(screen);
    bool named = shown.find(L"\xD55C\xAE00/\xBB38\xC11C.txt") != std::wstring::npos;
    if (!named)
        printf("  the console shows: %s\n", drv::Narrow949(shown.substr(0, 400)).c_str());
    CHECK(named);
    CHECK(GetConsoleOutputCP() == codePage);   // left as the user had it
    FreeConsole();
}
