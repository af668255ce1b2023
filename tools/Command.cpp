// Command line and the build itself: check everything that can be checked,
// then write stub, settings block and archive to a temporary file beside
// the output and rename it into place only when it is complete.
#include "Command.h"

#include <stdlib.h>
#include <string.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>

#include "Builder.h"
#include "Inspect.h"
#include "Platform.h"
#include "SettingsRules.h"
#include "Workers.h"
#include "ZipInput.h"

namespace mksfx {

// The stub built with the builder (EmbeddedStub.cpp, generated).
extern const unsigned char EmbeddedStub[];
extern const unsigned int EmbeddedStubSize;
// The commit the builder was built from (BuildCommit.cpp, generated).
extern const char BuildCommit[];

// Whether the stub this builder is built with decodes AES entries
// (SFX_STUB_AES): only then are they the default.
#if MKSFX_AES_DEFAULT
const bool StubOpensAes = true;
#else
const bool StubOpensAes = false;
#endif

#ifdef MKSFX_LIBDEFLATE
#define LEVEL_HELP "10 to 12:\n                         libdeflate's, slower and smaller."
#else
#define LEVEL_HELP "(The Linux\n                         builder also has 10 to 12, from libdeflate.)"
#endif

const char HelpText[] =
    "Usage: mksfx -o OUTPUT [options] FILE|FOLDER...\n"
    "       mksfx -o OUTPUT [options] --zip ARCHIVE.zip [FILE|FOLDER...]\n"
    "       mksfx --info FILE\n"
    "       mksfx --verify [--password TEXT | --password-file F] [--stub FILE] FILE\n"
    "\n"
    "Makes a self-extracting file: the stub, a settings block and a ZIP archive.\n"
    "A folder contributes its contents (names relative to it), a file itself.\n"
    "Empty folders are left out: the stub creates only folders that hold files.\n"
    "Decomposed Hangul in names (as macOS writes them) is stored composed.\n"
    "Options may stand anywhere, as --name VALUE or --name=VALUE; after --\n"
    "everything is an input.\n"
    "\n"
    "Input and output:\n"
    "  -o, --output FILE      the self-extracting file to write (replaced only\n"
    "                         when the new one is complete; never a pipe,\n"
    "                         device or folder, and not - for standard output)\n"
    "  --zip ARCHIVE          take the entries of an existing ZIP (repeatable);\n"
    "                         a self-extracting file keeps its settings unless\n"
    "                         options replace them, and a ZIP its comment\n"
    "  --follow-symlinks      pack what symbolic links in input folders point\n"
    "                         to (without it they are refused)\n"
    "  --keep-macos-metadata  keep the __MACOSX/ and ._* entries of --zip inputs\n"
    "                         (macOS's AppleDouble files; without it they are\n"
    "                         left out, with a note)\n"
    "  --stub FILE            use this stub image (a Windows program of exactly\n"
    "                         38912 bytes) instead of the built-in one\n"
    "  -0 ... -9, --level N   deflate level; 0 stores (default 9); an entry that\n"
    "                         deflate does not shrink is stored.  " LEVEL_HELP "\n"
    "                         Without a level, deflated entries of a --zip\n"
    "                         are copied as they are (their CRC still checked)\n"
    "  -j, --jobs N           threads deflating entries side by side (default:\n"
    "                         one per core); the output is the same for any N\n"
    "Settings (texts at most 255 bytes in code page 949):\n"
    "  --caption TEXT         the window caption\n"
    "  --folder TEXT          the folder proposed as target, used as written:\n"
    "                         %VARIABLES% are not expanded\n"
    "  --temp-folder          propose the user's temporary folder instead\n"
    "                         (without either, the current folder: where a\n"
    "                         silent run without /D= extracts)\n"
    "  --run FILE             the extracted file to open afterwards (relative\n"
    "                         to the target folder; must be in the archive)\n"
    "  --open                 open the run file with its default action\n"
    "  --params TEXT          open the run file (or the target folder) with the\n"
    "                         verb \"open\" and these parameters\n"
    "  --show-run             show the run check box so the user can skip the run\n"
    "  --overwrite ask|all|never   initial choice for existing files (ask)\n"
    "  --fixed-overwrite      hide the choice: the initial one holds\n"
    "  --sorted               list the entries sorted by name\n"
    "  --current-time         extracted files get the time of extraction, not\n"
    "                         the archive's (its own time, or SOURCE_DATE_EPOCH)\n"
    "Encryption (the password is typed in code page 949, 1 to 79 bytes):\n"
    "  --password TEXT        encrypt every entry (visible in the shell history)\n"
    "  --password-file FILE   read the password from the first line of FILE\n"
    "                         (UTF-8; also: the MKSFX_PASSWORD variable)\n"
    "  --encryption aes|zipcrypto  AES-256 (WinZip AE-2), or the traditional\n"
    "                         scheme, which keeps out the casual, not the\n"
    "                         determined, but which Windows' own ZIP folder and\n"
    "                         Java can open.  The default is AES where this\n"
    "                         build's stub opens it (--version says)\n"
    "  --seed N               fixed salts and encryption headers, for\n"
    "                         reproducible tests\n"
    "Other:\n"
    "  --info FILE            show the settings and entries of a file\n"
    "  --verify FILE          check a finished file: its stub (against --stub or\n"
    "                         the built-in one), its settings, every entry\n"
    "                         decoded as the stub does, and the directory\n"
    "  --json                 with --info or --verify: one JSON object instead\n"
    "                         of lines (the README gives its fields)\n"
    "  -q, --quiet            no notes, no progress, no summary line; with\n"
    "                         --verify, nothing but the exit code\n"
    "  -h, --help             this text\n"
    "  --version              the builder's version\n"
    "Switches of the self-extracting file, for scripts and deployment tools\n"
    "(case does not matter; a value follows = or :; one with spaces is quoted\n"
    "whole, \"/P=a b\", or after the =, /P=\"a b\", as argument lists are):\n"
    "  /S                     silent: no window, prompt or message; the exit\n"
    "                         code tells the outcome\n"
    "  /D=FOLDER              the target folder; unquoted and last on the line,\n"
    "                         it takes the rest of it, spaces included\n"
    "  /O=all|never|ask       existing files (with /S, ask means never)\n"
    "  /P=PASSWORD            the password of encrypted entries\n"
    "  /R=0|1                 run the --run file afterwards or not\n"
    "  /W                     wait for that program and return its exit code\n"
    "  /?                     list the switches\n"
    "  Exit codes with /S: 0 every entry extracted, 1 some failed (name, CRC,\n"
    "  password, cannot create), 2 bad command line, 3 archive unreadable.\n"
    "\n"
    "Examples:\n"
    "  mksfx -o setup.exe --caption \"Tool 1.0\" --folder \"C:\\Tool\" \\\n"
    "        --run install.exe --open --show-run dist/\n"
    "  mksfx -o setup.exe --zip release.zip --password-file secret.txt\n"
    "  mksfx -o new.exe --zip old.exe --caption \"Tool 1.1\"   (other settings kept)\n"
    "  mksfx --info setup.exe\n"
    "  MKSFX_PASSWORD=secret mksfx --verify setup.exe\n"
    "\n"
    "SOURCE_DATE_EPOCH, when set, gives every entry that time (UTC).\n"
    "mksfx's exit codes: 0 success, 1 error, 2 wrong command line.\n";

namespace {

[[noreturn]] void Usage(const std::string &message)
{
    throw BuildError(message + " (mksfx --help shows the options)", ExitUsage);
}

std::string ReadPasswordFile(const std::string &path)
{
    FILE *f = OpenFile(path, "rb");
    if (!f)
        throw BuildError("cannot open the password file \"" + path + "\": " + SystemError());
    // The first line only, and never more of it than a password can be:
    // /dev/zero or a binary file named by mistake must not fill the
    // memory, and a zero byte would cut the password short in some readers
    // and not in others.
    const size_t limit = 1024;
    std::string s;
    int c;
    while (s.size() <= limit && (c = fgetc(f)) != EOF && c != '\n')
        s += (char)c;
    fclose(f);
    if (s.size() > limit)
        throw BuildError("the password file \"" + path + "\" has no line break in its first " +
                         std::to_string(limit) + " bytes: it holds no password", ExitUsage);
    if (s.find('\0') != std::string::npos)
        throw BuildError("the password file \"" + path + "\" holds a zero byte, which no password can", ExitUsage);
    if (!s.empty() && s.back() == '\r')
        s.pop_back();
    // Notepad may put a byte order mark in front.
    if (s.compare(0, 3, "\xEF\xBB\xBF") == 0)
        s.erase(0, 3);
    // The same bytes must give the same password on every system: the file
    // is UTF-8, never the code page of whoever wrote it.
    if (!ValidUtf8(s))
        throw BuildError("the password file \"" + path + "\" is not UTF-8 text; save it as UTF-8", ExitUsage);
    return s;
}

// What the parser fills besides Options.
struct Parsed {
    bool Help = false, Version = false, Info = false, Verify = false;
    std::string Overwrite, Password, PasswordFile, Level, Seed, Jobs, Encryption;
    std::vector<std::string> Positional;
};

void Define(CLI::App &app, Options &o, Parsed &p)
{
    app.set_help_flag();   // the help is ours: HelpText
    app.add_flag("-h,--help", p.Help);
    app.add_flag("--version", p.Version);
    app.add_flag("--info", p.Info);
    app.add_flag("--verify", p.Verify);
    app.add_option("-o,--output", o.Output);
    app.add_option("--zip", o.Zips)->allow_extra_args(false);
    app.add_flag("--follow-symlinks", o.FollowSymlinks);
    app.add_flag("--keep-macos-metadata", o.KeepMacMetadata);
    app.add_option("--stub", o.Stub);
    // Values are checked here, not by the parser, so that a wrong one is
    // named in words of ours (WholeNumber, ParseCommandLine).
    app.add_option("--level", p.Level);
    app.add_option("-j,--jobs", p.Jobs);
    app.add_option("--caption", o.Caption);
    app.add_option("--folder", o.Folder);
    app.add_flag("--temp-folder", o.TempFolder);
    app.add_option("--run", o.RunFile);
    app.add_flag("--open", o.OpenFile);
    app.add_option("--params", o.Parameters);
    app.add_flag("--show-run", o.ShowRun);
    app.add_option("--overwrite", p.Overwrite);
    app.add_flag("--fixed-overwrite", o.FixedOverwrite);
    app.add_flag("--sorted", o.Sorted);
    app.add_flag("--current-time", o.CurrentTime);
    CLI::Option *password = app.add_option("--password", p.Password);
    app.add_option("--password-file", p.PasswordFile)->excludes(password);
    app.add_option("--seed", p.Seed);
    app.add_option("--encryption", p.Encryption);
    app.add_flag("-q,--quiet", o.Quiet);
    app.add_flag("--json", o.Json);
    app.add_option("inputs", p.Positional);
}

bool Given(const CLI::App &app, const char *name)
{
    return app.get_option(name)->count() > 0;
}

// A value of digits only, at most `most`: "--seed -1" or "--level 1.5" are
// refused rather than wrapped or cut.
uint64_t WholeNumber(const std::string &option, const std::string &text, uint64_t most)
{
    uint64_t v = 0;
    bool ok = !text.empty() && text.size() <= 20;
    for (char c : text) {
        ok = ok && c >= '0' && c <= '9' && v <= (UINT64_MAX - (uint64_t)(c - '0')) / 10;
        if (ok)
            v = v * 10 + (uint64_t)(c - '0');
    }
    if (!ok || v > most)
        Usage(option + " takes a whole number from 0 to " + std::to_string(most) + ", not \"" + text + "\"");
    return v;
}

// The number of single-character edits between two names.
size_t Distance(const std::string &a, const std::string &b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); j++)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); i++) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); j++) {
            size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = up;
        }
    }
    return row[b.size()];
}

// An option the parser does not know, with the nearest one it does.
[[noreturn]] void UnknownOption(const std::string &given)
{
    std::string name = given.substr(0, given.find('=')), best;
    size_t bestDistance = 3;
    for (const std::string &known : OptionNames()) {
        size_t d = Distance(name, known);
        if (d < bestDistance || (known.compare(0, name.size(), name) == 0 && name.size() > 2 && d < 6)) {
            best = known;
            bestDistance = d;
        }
    }
    Usage("unknown option " + name + (best.empty() ? std::string() : "; did you mean " + best + "?"));
}

// CLI11's own wording ("Could not convert: --seed = abc") made ours, naming
// the option.
[[noreturn]] void ParseFailure(const CLI::ParseError &e, const std::vector<std::string> &given)
{
    std::string what = e.what();
    if (dynamic_cast<const CLI::ExtrasError *>(&e)) {
        for (const std::string &a : given)
            if (a.size() > 1 && a[0] == '-' && what.find(a.substr(0, a.find('='))) != std::string::npos)
                UnknownOption(a);
    }
    if (dynamic_cast<const CLI::ExcludesError *>(&e))
        Usage("--password and --password-file cannot be given together");
    if (dynamic_cast<const CLI::ArgumentMismatch *>(&e)) {
        std::string option = what.substr(0, what.find(':'));
        if (option.compare(0, 1, "-") == 0)
            Usage(what.find("At Most") != std::string::npos ? option + " is given more than once"
                                                             : option + " needs a value");
    }
    Usage(what);
}

}  // namespace

std::vector<std::string> OptionNames()
{
    CLI::App app;
    Options o;
    Parsed p;
    Define(app, o, p);
    std::vector<std::string> names;
    for (const CLI::Option *option : app.get_options())
        for (const std::string &n : option->get_lnames())
            names.push_back("--" + n);
    return names;
}

// The one mapping from the options to the settings block, texts still as
// given (UTF-8): ParseCommandLine judges the combination with it, Build
// converts the texts and writes it.
static BlockSettings OptionSettings(const Options &o)
{
    BlockSettings s;
    if (o.HasCaption)
        s.Caption = o.Caption;
    if (o.HasFolder)
        s.Folder = o.Folder;
    if (o.HasParameters)
        s.Parameters = o.Parameters;
    if (o.HasRun) {
        // The stub joins it to the target folder with a backslash and hands
        // the path to the shell: written the Windows way throughout.
        s.RunFile = o.RunFile;
        for (char &c : s.RunFile)
            if (c == '/')
                c = '\\';
    }
    s.ShowRunOption = o.ShowRun;
    s.FixedOverwrite = o.FixedOverwrite;
    s.Overwrite = o.Overwrite;
    s.RunOpensFile = o.OpenFile;
    s.DefaultToTemp = o.TempFolder;
    s.Sorted = o.Sorted;
    // Users expect the archive's times, as every extractor now gives them;
    // a file made before the bit, or with --current-time, keeps the old way.
    s.RestoreTimes = !o.CurrentTime;
    return s;
}

Options ParseCommandLine(const std::vector<std::string> &given)
{
    Options o;
    if (given.empty()) {
        // The program's own text, shown as it is; the message itself goes
        // through the escaping every message does.
        WriteText(stderr, HelpText);
        throw BuildError("no arguments: the options are above", ExitUsage);
    }
    CLI::App app;
    Parsed p;
    Define(app, o, p);
    // The parser takes its arguments last first; -0 ... -9 are spelled as
    // the --level they stand for, unless one is the value of an option
    // before it (--params -5).
    std::vector<std::string> args;
    bool rest = false, value = false;
    for (const std::string &a : given) {
        rest = rest || a == "--";
        bool digit = !rest && !value && a.size() == 2 && a[0] == '-' && a[1] >= '0' && a[1] <= '9';
        args.push_back(digit ? "--level=" + a.substr(1) : a);
        const CLI::Option *option = rest || a.find('=') != std::string::npos ? nullptr : app.get_option_no_throw(a);
        value = !value && option && option->get_expected_min() > 0;
    }
    std::reverse(args.begin(), args.end());
    try {
        app.parse(args);
    } catch (const CLI::ParseError &e) {
        ParseFailure(e, given);
    }
    if (Given(app, "--level"))
        o.Level = (int)WholeNumber("--level", p.Level, MaxLevel);
    if (Given(app, "--jobs")) {
        o.Jobs = (unsigned)WholeNumber("--jobs", p.Jobs, 256);
        if (o.Jobs == 0)
            Usage("--jobs takes a whole number from 1 to 256, not \"0\"");
    }
    if (Given(app, "--overwrite") && p.Overwrite != "ask" && p.Overwrite != "all" && p.Overwrite != "never")
        Usage("--overwrite takes ask, all or never, not \"" + p.Overwrite + "\"");
    if (Given(app, "--seed"))
        o.Seed = WholeNumber("--seed", p.Seed, UINT64_MAX);
    if (Given(app, "--encryption") && p.Encryption != "aes" && p.Encryption != "zipcrypto")
        Usage("--encryption takes aes or zipcrypto, not \"" + p.Encryption + "\"");
    o.ZipCrypto = Given(app, "--encryption") ? p.Encryption == "zipcrypto" : !StubOpensAes;
    if (p.Help) {
        o.Command = Options::Help;
        return o;
    }
    if (p.Version) {
        o.Command = Options::Version;
        return o;
    }
    o.HasCaption = Given(app, "--caption");
    o.HasFolder = Given(app, "--folder");
    o.HasRun = Given(app, "--run");
    o.HasParameters = Given(app, "--params");
    o.HasOverwrite = Given(app, "--overwrite") || o.FixedOverwrite;
    o.Overwrite = p.Overwrite == "all" ? OverwriteAll : p.Overwrite == "never" ? OverwriteNever
                                                                                      : OverwriteAsk;
    o.Seeded = Given(app, "--seed");
    o.HasLevel = Given(app, "--level");
    if (Given(app, "--password")) {
        o.HasPassword = true;
        o.Password = p.Password;
    } else if (Given(app, "--password-file")) {
        o.HasPassword = true;
        o.Password = ReadPasswordFile(p.PasswordFile);
    } else if (GetEnvironment("MKSFX_PASSWORD", o.Password) && !o.Password.empty()) {
        o.HasPassword = true;
    }

    if (p.Info || p.Verify) {
        if (p.Info && p.Verify)
            Usage("give one of --info and --verify");
        const char *command = p.Info ? "--info" : "--verify";
        // Anything else would be silently ignored: refused instead.
        for (const CLI::Option *option : app.get_options()) {
            std::string name = option->get_name();
            bool allowed = name == command || name == "inputs" || name == "--json" ||
                           (p.Verify && (name == "--password" || name == "--password-file" || name == "--stub" ||
                                         name == "--quiet"));
            if (option->count() > 0 && !allowed)
                Usage(std::string(command) + " takes no " + (name == "inputs" ? "input" : option->get_name()));
        }
        if (p.Positional.size() != 1)
            Usage(std::string(command) + " takes one file");
        if (o.Json && o.Quiet)
            Usage("give one of --json and --quiet");
        o.Command = p.Info ? Options::Info : Options::Verify;
        o.Target = p.Positional[0];
        return o;
    }
    o.Inputs = p.Positional;

    if (o.Json)
        Usage("--json goes with --info or --verify");
    if (o.Output.empty())
        Usage("no output file: give -o FILE");
    if (o.Output == "-")
        Usage("-o - : standard output is not supported; the file is written beside its final name and "
              "renamed into place, so name a file");
    if (o.Inputs.empty() && o.Zips.empty())
        Usage("no input: name files, folders or --zip archives");
    // Settings the stub would silently ignore are refused: they would ship
    // a file that does not do what its maker asked for.  The block is judged
    // again once settings kept from an input have joined it.
    std::string combination = CombinationProblem(OptionSettings(o));
    if (!combination.empty())
        Usage(combination);
    if (o.Seeded && !o.HasPassword)
        Usage("--seed only matters with a password");
    if (Given(app, "--encryption") && !o.HasPassword)
        Usage("--encryption only matters with a password");
    return o;
}

namespace {

void Note(const Options &o, const std::string &text)
{
    if (!o.Quiet)
        PrintText(stderr, "mksfx: note: %s\n", Printable(text).c_str());
}

std::vector<uint8_t> LoadStub(const Options &o)
{
    std::vector<uint8_t> stub;
    if (o.Stub.empty()) {
        stub.assign(EmbeddedStub, EmbeddedStub + EmbeddedStubSize);
        if (stub.empty())
            throw BuildError("this builder was built without a stub: give --stub FILE");
    } else {
        FILE *f = OpenFile(o.Stub, "rb");
        if (!f)
            throw BuildError("cannot open the stub \"" + o.Stub + "\": " + SystemError());
        uint8_t buffer[65536];
        while (size_t n = fread(buffer, 1, sizeof buffer, f))
            stub.insert(stub.end(), buffer, buffer + n);
        fclose(f);
    }
    // The stub looks for its settings at this fixed offset: an image of any
    // other length would read its own bytes as settings.
    const std::string name = o.Stub.empty() ? std::string("the built-in stub") : "the stub \"" + o.Stub + "\"";
    if (stub.size() != ImageSize)
        throw BuildError(name + " is " + std::to_string(stub.size()) + " bytes; the stub's image is exactly " +
                         std::to_string(ImageSize));
    if (stub[0] != 'M' || stub[1] != 'Z')
        throw BuildError(name + " has the right size but is not a Windows program (it does not begin with MZ)");
    return stub;
}

// The proposed folder goes to the stub's folder field as written: a
// character Windows forbids in paths would only fail there.
std::string FolderText(const Options &o)
{
    const std::string &f = o.Folder;
    std::string problem = FolderProblem(f);
    if (!problem.empty())
        throw BuildError("--folder \"" + f + "\" " + problem, ExitUsage);
    if (f.find('%') != std::string::npos)
        Note(o, "--folder is used as written: %VARIABLES% are not expanded by the self-extracting file");
    return SettingText(f, "--folder");
}

// A self-extracting input keeps its settings where no option replaces
// them.  Groups that only work together (the run, the overwrite choice,
// folder and temporary folder) are taken or replaced whole.
void KeepSettings(const Options &o, const std::string &from, const BlockSettings &old, BlockSettings &s)
{
    std::vector<std::string> kept;
    if (!o.HasCaption && !old.Caption.empty()) {
        s.Caption = old.Caption;
        kept.push_back("caption");
    }
    if (!o.HasFolder && !o.TempFolder && (old.DefaultToTemp || !old.Folder.empty())) {
        s.Folder = old.Folder;
        s.DefaultToTemp = old.DefaultToTemp;
        kept.push_back(old.DefaultToTemp ? "temporary folder" : "folder");
    }
    if (!o.HasRun && !o.OpenFile && !o.HasParameters && !o.ShowRun &&
        (!old.RunFile.empty() || !old.Parameters.empty() || old.RunOpensFile || old.ShowRunOption)) {
        s.RunFile = old.RunFile;
        s.Parameters = old.Parameters;
        s.RunOpensFile = old.RunOpensFile;
        s.ShowRunOption = old.ShowRunOption;
        kept.push_back("run");
    }
    if (!o.HasOverwrite && (old.Overwrite != OverwriteAsk || old.FixedOverwrite)) {
        s.Overwrite = old.Overwrite;
        s.FixedOverwrite = old.FixedOverwrite;
        kept.push_back("existing files");
    }
    if (old.Sorted && !s.Sorted) {
        s.Sorted = true;
        kept.push_back("sorted list");
    }
    std::string list;
    for (const std::string &k : kept)
        list += (list.empty() ? "" : ", ") + k;
    if (!list.empty())
        Note(o, "settings kept from \"" + from + "\": " + list + " (options given replace them)");
}

class Progress {
public:
    Progress(bool on) : on_(on) {}
    ~Progress()
    {
        if (shown_)
            PrintText(stderr, "\n");
    }
    void operator()(uint64_t done, uint64_t total)
    {
        // Only worth a line for inputs that take a while.
        if (!on_ || total < (32u << 20))
            return;
        int percent = (int)(done * 100 / total);
        auto now = std::chrono::steady_clock::now();
        if (percent == last_ || (shown_ && now - when_ < std::chrono::milliseconds(200) && percent != 100))
            return;
        last_ = percent;
        when_ = now;
        shown_ = true;
        PrintText(stderr, "\rmksfx: %3d%% of %llu MiB", percent, (unsigned long long)(total >> 20));
        fflush(stderr);
    }

private:
    bool on_, shown_ = false;
    int last_ = -1;
    std::chrono::steady_clock::time_point when_;
};

// The password as the stub will compare it: code page 949, not empty, and
// no longer than its prompt takes.  Empty without --password.
std::string PasswordBytes(const Options &o)
{
    std::string password;
    if (!o.HasPassword)
        return password;
    if (!Utf8ToCp949(o.Password, password))
        throw BuildError("the password cannot be written in code page 949, so nobody could type it", ExitUsage);
    // The stub never accepts an empty password, and its prompt takes 79
    // bytes at most: either would make the entries impossible to open.
    if (password.empty())
        throw BuildError("the password is empty; the self-extracting file never accepts an empty one", ExitUsage);
    if (password.size() > PasswordMax)
        throw BuildError("the password is " + std::to_string(password.size()) +
                         " bytes in code page 949; the password prompt takes at most " +
                         std::to_string(PasswordMax), ExitUsage);
    return password;
}

// What goes into the file: the settings block, the entries and the comment,
// as the options and the inputs give them, before anything is written.
struct BuildPlan {
    BlockSettings Settings;
    std::string SettingsFrom;   // the input whose settings were kept, if any
    std::string Password;       // code page 949; empty without --password
    bool UseEpoch = false;      // SOURCE_DATE_EPOCH is set: every entry gets that time
    int64_t Epoch = 0;
    std::vector<Entry> Entries;
    std::string Comment;
    std::vector<uint8_t> Block;
};

// SOURCE_DATE_EPOCH, when set.
void ReadEpoch(const Options &o, BuildPlan &plan)
{
    const char *e = getenv("SOURCE_DATE_EPOCH");
    if (!e)
        return;
    char *end = nullptr;
    plan.Epoch = strtoll(e, &end, 10);
    if (!*e || *end)
        throw BuildError("SOURCE_DATE_EPOCH is not a number: \"" + std::string(e) + "\"", ExitUsage);
    plan.UseEpoch = true;
    // An MS-DOS date runs from 1980 to 2107: outside, the nearest end is
    // stored, which the maker should know of.
    const int64_t first = 315532800, last = 4354819198;
    if (plan.Epoch < first)
        Note(o, "SOURCE_DATE_EPOCH " + std::string(e) + " lies before 1980, where ZIP times begin: every "
                "entry gets 1980-01-01 00:00:00");
    else if (plan.Epoch > last)
        Note(o, "SOURCE_DATE_EPOCH " + std::string(e) + " lies after 2107, where ZIP times end: every "
                "entry gets 2107-12-31 23:59:58");
}

// The entries of the --zip inputs, with the settings and the comment the
// first of them that has one brings.
void CollectZips(const Options &o, BuildPlan &plan)
{
    auto note = [&](const std::string &t) { Note(o, t); };
    std::string commentFrom;
    for (const std::string &z : o.Zips) {
        ZipKept kept;
        CollectZip(z, plan.Entries, plan.UseEpoch, plan.Epoch, o.HasPassword ? &plan.Password : nullptr,
                   o.KeepMacMetadata, note, kept);
        if (kept.HasSettings && plan.SettingsFrom.empty()) {
            plan.SettingsFrom = z;
            KeepSettings(o, z, kept.Settings, plan.Settings);
        } else if (kept.HasSettings) {
            note("the settings of \"" + z + "\" dropped: those of \"" + plan.SettingsFrom + "\" are kept");
        }
        // A comment holding an end record's signature would make readers
        // that search from the end take it for the record.
        if (!kept.Comment.empty() && (!commentFrom.empty() || kept.Comment.find("PK\x05\x06") != std::string::npos)) {
            note("the comment of \"" + z + "\" dropped" +
                 (commentFrom.empty() ? std::string(": it looks like a ZIP record")
                                      : ": the comment of \"" + commentFrom + "\" is kept"));
        } else if (!kept.Comment.empty()) {
            plan.Comment = kept.Comment;
            commentFrom = z;
        }
    }
}

// The block and the entries, judged whole: a kept combination the stub
// would ignore, or a kept run file that is not among the entries, is
// refused like one given as options, and so is a file that would reach
// 2 GiB.
void CheckPlan(const Options &o, const BuildPlan &plan)
{
    std::vector<std::string> names;
    for (const Entry &e : plan.Entries)
        names.push_back(e.Utf8Name);
    std::vector<std::string> problems = SettingsProblems(plan.Settings, names);
    const std::string &from = plan.SettingsFrom;
    if (!problems.empty())
        throw BuildError(problems[0] + (from.empty() ? std::string() : " (settings kept from \"" + from + "\")"),
                         from.empty() ? ExitUsage : ExitError);
    uint64_t total = ImageSize + plan.Block.size();
    for (const Entry &e : plan.Entries) {
        if (e.Source->Size >= FileSizeLimit)
            throw BuildError("\"" + e.Utf8Name + "\" is 2 GiB or larger; the self-extracting file "
                             "must stay below 2 GiB");
        total += e.Source->Size;
    }
    if (o.Level == 0 && total >= FileSizeLimit)
        throw BuildError("the self-extracting file would be 2 GiB or larger");
}

// The settings block the options ask for, its texts in code page 949.
BlockSettings ConvertedSettings(const Options &o)
{
    BlockSettings s = OptionSettings(o);
    s.Caption = SettingText(s.Caption, "--caption");
    if (o.HasFolder)
        s.Folder = FolderText(o);
    s.Parameters = SettingText(s.Parameters, "--params");
    s.RunFile = SettingText(s.RunFile, "--run");
    return s;
}

// The entries of the inputs, and the block with what was kept from them.
// existing is the output as it stands, never taken as an input.
void Collect(const Options &o, const PathInfo &existing, BuildPlan &plan)
{
    CollectZips(o, plan);
    // Started silently without /D=, the file extracts where it is started
    // from: a deployment tool's working folder, System32 for a service.
    if (plan.Settings.Folder.empty() && !plan.Settings.DefaultToTemp)
        Note(o, "no --folder: a silent run (/S) without /D= extracts into the folder it is started from; "
                "--folder or --temp-folder names one (mksfx --help)");
    plan.Block = MakeSettingsBlock(plan.Settings);
    auto note = [&](const std::string &t) { Note(o, t); };
    for (const std::string &in : o.Inputs)
        CollectFiles(in, plan.Entries, plan.UseEpoch, plan.Epoch, existing.Exists ? existing.Id : 0,
                     o.FollowSymlinks, note);
    if (plan.Entries.empty())
        throw BuildError("nothing to pack: the inputs hold no files");
    CheckUniqueNames(plan.Entries);
    CheckPlan(o, plan);
}

// A new file beside the output, so the final rename stays on one file
// system; temp receives its name.  Armed for removal on an interrupt.
FILE *CreateBeside(const std::string &output, std::string &temp)
{
    FILE *out = nullptr;
    for (int attempt = 0; !out && attempt < 100; attempt++) {
        uint8_t r[4];
        RandomBytes(r, 4);
        char suffix[32];
        snprintf(suffix, sizeof suffix, ".mksfx-%02x%02x%02x%02x.tmp", r[0], r[1], r[2], r[3]);
        temp = output + suffix;
        // Armed before the file exists, so that no moment is left in which
        // an interrupt would leave it behind.
        RemoveOnInterrupt(temp.c_str(), nullptr);
        out = CreateNewFile(temp);
        if (!out)
            RemoveOnInterrupt(nullptr, nullptr);
    }
    if (!out)
        throw BuildError("cannot create a file beside \"" + output + "\": " + SystemError());
    RemoveOnInterrupt(temp.c_str(), out);
    return out;
}

// The stub, the block and the archive into out, its checksum stamped and
// its bytes on the disk.
void WriteFile(const Options &o, const std::vector<uint8_t> &stub, BuildPlan &plan, FILE *out)
{
    if (fwrite(stub.data(), 1, stub.size(), out) != stub.size() ||
        fwrite(plan.Block.data(), 1, plan.Block.size(), out) != plan.Block.size())
        throw BuildError("cannot write the output: " + SystemError());
    WriteOptions w;
    w.Comment = plan.Comment;
    w.Level = o.Level;
    w.Recompress = o.HasLevel;
    w.Jobs = o.Jobs ? o.Jobs : std::min(CoreCount(), 16u);
    w.Password = o.HasPassword ? &plan.Password : nullptr;
    w.Aes = !o.ZipCrypto;
    if (w.Password && w.Aes && !StubOpensAes)
        Note(o, "this build's stub cannot open AES entries (7-Zip and libarchive can); "
                "--encryption zipcrypto makes a file it opens");
    w.Seeded = o.Seeded;
    w.Seed = o.Seed;
    Progress progress(!o.Quiet && IsTerminal(stderr));
    w.Progress = [&](uint64_t done, uint64_t all) { progress(done, all); };
    WriteArchive(out, plan.Entries, w);
    if (!StampPeChecksum(out, TellFile(out)) || !SyncFile(out))
        throw BuildError("cannot write the output: " + SystemError());
}

// Whole or not at all: the file is written under a temporary name beside
// the output and renamed over it only when complete, so a failed or
// interrupted build leaves no file behind and the old output untouched.
void WriteAtomically(const Options &o, const std::vector<uint8_t> &stub, BuildPlan &plan)
{
    std::string temp;
    FILE *out = CreateBeside(o.Output, temp);
    try {
        WriteFile(o, stub, plan, out);
        FILE *f = out;
        out = nullptr;
        RemoveOnInterrupt(temp.c_str(), nullptr);
        if (fclose(f) != 0)
            throw BuildError("cannot write the output: " + SystemError());
        std::string error;
        if (!MoveIntoPlace(temp, o.Output, error))
            throw BuildError("cannot rename the finished file to \"" + o.Output + "\": " + error);
    } catch (...) {
        RemoveOnInterrupt(temp.c_str(), nullptr);
        if (out)
            fclose(out);
        RemoveFile(temp);
        RemoveOnInterrupt(nullptr, nullptr);
        throw;
    }
    RemoveOnInterrupt(nullptr, nullptr);
}

// Planning (the settings, the password, the stub, the time), collecting
// the entries, and the write that replaces the output whole or not at all.
int Build(const Options &o)
{
    BuildPlan plan;
    plan.Settings = ConvertedSettings(o);
    plan.Password = PasswordBytes(o);
    std::vector<uint8_t> stub = LoadStub(o);
    ReadEpoch(o, plan);
    // The finished file is renamed over the output: a pipe, a device (as
    // root, /dev/null) or a folder would be replaced by a regular file.
    PathInfo existing = StatPath(o.Output);
    if (existing.Exists && !existing.Regular)
        throw BuildError("the output \"" + o.Output + "\" is not a regular file (a folder, pipe or device); "
                         "refused");
    Collect(o, existing, plan);
    WriteAtomically(o, stub, plan);
    if (!o.Quiet) {
        uint64_t in = 0;
        for (const Entry &e : plan.Entries)
            in += e.Source->Size;
        PrintText(stdout, "%s: %zu entr%s, %llu bytes in, %llu bytes out\n", Printable(o.Output).c_str(),
                  plan.Entries.size(), plan.Entries.size() == 1 ? "y" : "ies", (unsigned long long)in,
                  (unsigned long long)StatPath(o.Output).Size);
    }
    return ExitOk;
}

}  // namespace

int RunCommand(const Options &o)
{
    switch (o.Command) {
    case Options::Help:
        WriteText(stdout, HelpText);
        return ExitOk;
    case Options::Version:
        // The stub's hash is what --verify compares images with, and what a
        // build of the same commit gives again.
        PrintText(stdout, "mksfx 1.0 (commit %s)\n", BuildCommit);
        if (EmbeddedStubSize > 0)
            PrintText(stdout, "stub: %u bytes, SHA-256 %s\n", EmbeddedStubSize, Sha256Hex(EmbeddedStub, EmbeddedStubSize).c_str());
        PrintText(stdout, "encryption: %s by default; the stub %s AES entries\n", StubOpensAes ? "AES-256" : "traditional",
                  StubOpensAes ? "opens" : "does not open");
        if (EmbeddedStubSize == 0)
            WriteText(stdout, "stub: none carried (files are made and verified with --stub FILE)\n");
        return ExitOk;
    case Options::Info:
        return ShowInfo(o.Target, stdout, o.Json ? ReportJson : ReportText);
    case Options::Verify: {
        std::string password;
        if (o.HasPassword && !Utf8ToCp949(o.Password, password))
            throw BuildError("the password cannot be written in code page 949");
        // Without a stub to compare with, the image cannot be judged; Verify
        // says so and fails rather than pass a file it has not checked.
        std::vector<uint8_t> stub;
        if (!o.Stub.empty() || EmbeddedStubSize > 0)
            stub = LoadStub(o);
        return Verify(o.Target, o.HasPassword ? &password : nullptr, stub, stdout,
                      o.Json ? ReportJson : o.Quiet ? ReportSilent : ReportText);
    }
    case Options::Build:
        break;
    }
    return Build(o);
}

}  // namespace mksfx
