// Command line and the build itself: check everything that can be checked,
// then write stub, settings block and archive to a temporary file beside
// the output and rename it into place only when it is complete.
#include "Command.h"

#include <stdlib.h>
#include <string.h>

#include <chrono>

#include "Builder.h"
#include "Inspect.h"
#include "Platform.h"

namespace mksfx {

// The stub built with the builder (EmbeddedStub.cpp, generated).
extern const unsigned char EmbeddedStub[];
extern const unsigned int EmbeddedStubSize;

const char HelpText[] =
    "Usage: mksfx -o OUTPUT [options] FILE|FOLDER...\n"
    "       mksfx -o OUTPUT [options] --zip ARCHIVE.zip [FILE|FOLDER...]\n"
    "       mksfx --info FILE\n"
    "       mksfx --verify FILE [--password-file F]\n"
    "\n"
    "Makes a self-extracting file: the stub, a settings block and a ZIP archive.\n"
    "A folder contributes its contents (names relative to it), a file itself.\n"
    "Empty folders are left out: the stub creates only folders that hold files.\n"
    "\n"
    "Input and output:\n"
    "  -o, --output FILE      the self-extracting file to write (replaced only\n"
    "                         when the new one is complete)\n"
    "  --zip ARCHIVE          take the entries of an existing ZIP (repeatable)\n"
    "  --stub FILE            use this stub image (exactly 38912 bytes) instead\n"
    "                         of the built-in one\n"
    "  -0 ... -9, --level N   deflate level; 0 stores (default 9); an entry that\n"
    "                         deflate does not shrink is stored\n"
    "Settings (texts at most 255 bytes in code page 949):\n"
    "  --caption TEXT         the window caption\n"
    "  --folder TEXT          the folder proposed as target\n"
    "  --temp-folder          propose the user's temporary folder instead\n"
    "  --run FILE             the extracted file to open afterwards (relative\n"
    "                         to the target folder; must be in the archive)\n"
    "  --open                 open the run file with its default action\n"
    "  --params TEXT          open the run file (or the target folder) with the\n"
    "                         verb \"open\" and these parameters\n"
    "  --show-run             show the run check box so the user can skip the run\n"
    "  --overwrite ask|all|never   initial choice for existing files (ask)\n"
    "  --fixed-overwrite      hide the choice: the initial one holds\n"
    "  --sorted               list the entries sorted by name\n"
    "Encryption (traditional ZIP encryption: keeps out the casual, not the\n"
    "determined):\n"
    "  --password TEXT        encrypt every entry (visible in the shell history)\n"
    "  --password-file FILE   read the password from the first line of FILE\n"
    "                         (also: the MKSFX_PASSWORD environment variable)\n"
    "  --seed N               fixed encryption headers, for reproducible tests\n"
    "Other:\n"
    "  --info FILE            show the settings and entries of a file\n"
    "  --verify FILE          decode every entry as the stub does and check it\n"
    "  -q, --quiet            no notes, no progress\n"
    "  -h, --help             this text\n"
    "\n"
    "SOURCE_DATE_EPOCH, when set, gives every entry that time (UTC).\n"
    "Exit codes: 0 success, 1 error, 2 wrong command line.\n";

static void Usage(const std::string &message)
{
    throw BuildError(message + " (mksfx --help shows the options)", ExitUsage);
}

static std::string ReadPasswordFile(const std::string &path)
{
    FILE *f = OpenFile(path, "rb");
    if (!f)
        throw BuildError("cannot open the password file \"" + path + "\": " + SystemError());
    std::string s;
    int c;
    while ((c = fgetc(f)) != EOF && c != '\n')
        s += (char)c;
    fclose(f);
    if (!s.empty() && s.back() == '\r')
        s.pop_back();
    return s;
}

Options ParseCommandLine(const std::vector<std::string> &args)
{
    Options o;
    if (args.empty())
        throw BuildError(std::string("no arguments\n") + HelpText, ExitUsage);
    bool levelGiven = false, passwordGiven = false;
    for (size_t i = 0; i < args.size(); i++) {
        const std::string &a = args[i];
        auto value = [&]() -> const std::string & {
            if (i + 1 >= args.size())
                Usage(a + " needs a value");
            return args[++i];
        };
        auto once = [&](bool &has) {
            if (has)
                Usage(a + " is given twice");
            has = true;
        };
        if (a == "-h" || a == "--help") {
            o.Command = Options::Help;
        } else if (a == "--version") {
            o.Command = Options::Version;
        } else if (a == "-o" || a == "--output") {
            if (!o.Output.empty())
                Usage("-o is given twice");
            o.Output = value();
        } else if (a == "--zip") {
            o.Zips.push_back(value());
        } else if (a == "--stub") {
            o.Stub = value();
        } else if (a == "--info" || a == "--verify") {
            if (o.Command == Options::Info || o.Command == Options::Verify)
                Usage("give one of --info and --verify");
            o.Command = a == "--info" ? Options::Info : Options::Verify;
            o.Target = value();
        } else if (a == "--caption") {
            once(o.HasCaption);
            o.Caption = value();
        } else if (a == "--folder") {
            once(o.HasFolder);
            o.Folder = value();
        } else if (a == "--run") {
            once(o.HasRun);
            o.RunFile = value();
        } else if (a == "--params") {
            once(o.HasParameters);
            o.Parameters = value();
        } else if (a == "--temp-folder") {
            o.TempFolder = true;
        } else if (a == "--open") {
            o.OpenFile = true;
        } else if (a == "--show-run") {
            o.ShowRun = true;
        } else if (a == "--fixed-overwrite") {
            o.FixedOverwrite = true;
        } else if (a == "--sorted") {
            o.Sorted = true;
        } else if (a == "--overwrite") {
            const std::string &v = value();
            if (v == "ask")
                o.Overwrite = OverwriteChoiceAsk;
            else if (v == "all")
                o.Overwrite = OverwriteChoiceAll;
            else if (v == "never")
                o.Overwrite = OverwriteChoiceNever;
            else
                Usage("--overwrite takes ask, all or never, not \"" + v + "\"");
        } else if ((a.size() == 2 && a[0] == '-' && a[1] >= '0' && a[1] <= '9') || a == "--level") {
            std::string v = a == "--level" ? value() : a.substr(1);
            if (v.size() != 1 || v[0] < '0' || v[0] > '9')
                Usage("the level is a digit from 0 to 9, not \"" + v + "\"");
            if (levelGiven)
                Usage("the level is given twice");
            levelGiven = true;
            o.Level = v[0] - '0';
        } else if (a == "--password" || a == "--password-file") {
            if (passwordGiven)
                Usage("give the password once");
            passwordGiven = true;
            o.HasPassword = true;
            o.Password = a == "--password" ? value() : ReadPasswordFile(value());
        } else if (a == "--seed") {
            const std::string &v = value();
            char *end = nullptr;
            o.Seed = strtoull(v.c_str(), &end, 10);
            if (v.empty() || *end)
                Usage("--seed takes a number, not \"" + v + "\"");
            o.Seeded = true;
        } else if (a == "-q" || a == "--quiet") {
            o.Quiet = true;
        } else if (a == "--") {
            o.Inputs.insert(o.Inputs.end(), args.begin() + (long)i + 1, args.end());
            break;
        } else if (a.size() > 1 && a[0] == '-') {
            Usage("unknown option " + a);
        } else {
            o.Inputs.push_back(a);
        }
    }
    if (!passwordGiven) {
        const char *env = getenv("MKSFX_PASSWORD");
        if (env && *env) {
            o.HasPassword = true;
            o.Password = env;
        }
    }
    if (o.Command != Options::Build)
        return o;

    if (o.Output.empty())
        Usage("no output file: give -o FILE");
    if (o.Inputs.empty() && o.Zips.empty())
        Usage("no input: name files, folders or --zip archives");
    // Settings the stub would silently ignore are refused: they would ship
    // a file that does not do what its maker asked for.
    if (o.TempFolder && o.HasFolder)
        Usage("--folder and --temp-folder exclude each other");
    if (o.OpenFile && !o.HasRun)
        Usage("--open needs --run FILE");
    if (o.OpenFile && o.HasParameters)
        Usage("--open opens the file without parameters: drop --params or --open");
    if (o.HasRun && !o.OpenFile && !o.HasParameters)
        Usage("--run needs --open or --params, or nothing is ever run");
    if (o.ShowRun && !o.OpenFile && !o.HasParameters)
        Usage("--show-run needs a run (--run with --open, or --params)");
    if (o.Seeded && !o.HasPassword)
        Usage("--seed only matters with a password");
    return o;
}

namespace {

void Note(const Options &o, const std::string &text)
{
    if (!o.Quiet)
        fprintf(stderr, "mksfx: note: %s\n", text.c_str());
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
    if (stub.size() != StubImageSize || stub[0] != 'M' || stub[1] != 'Z')
        throw BuildError("the stub must be a Windows program of exactly " + std::to_string(StubImageSize) +
                         " bytes; \"" + o.Stub + "\" is " + std::to_string(stub.size()));
    return stub;
}

class Progress {
public:
    Progress(bool on) : on_(on) {}
    ~Progress()
    {
        if (shown_)
            fprintf(stderr, "\n");
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
        fprintf(stderr, "\rmksfx: %3d%% of %llu MiB", percent, (unsigned long long)(total >> 20));
        fflush(stderr);
    }

private:
    bool on_, shown_ = false;
    int last_ = -1;
    std::chrono::steady_clock::time_point when_;
};

int Build(const Options &o)
{
    BlockSettings s;
    if (o.HasCaption)
        s.Caption = SettingText(o.Caption, "--caption");
    if (o.HasFolder)
        s.Folder = SettingText(o.Folder, "--folder");
    if (o.HasParameters)
        s.Parameters = SettingText(o.Parameters, "--params");
    if (o.HasRun) {
        // The stub joins it to the target folder with a backslash and hands
        // the path to the shell: written the Windows way throughout.
        std::string run = o.RunFile;
        for (char &c : run)
            if (c == '/')
                c = '\\';
        s.RunFile = SettingText(run, "--run");
    }
    s.ShowRunOption = o.ShowRun;
    s.FixedOverwrite = o.FixedOverwrite;
    s.Overwrite = (OverwriteChoice)o.Overwrite;
    s.RunOpensFile = o.OpenFile;
    s.DefaultToTemp = o.TempFolder;
    s.Sorted = o.Sorted;
    std::vector<uint8_t> block = MakeSettingsBlock(s);

    std::string password;
    if (o.HasPassword) {
        if (!Utf8ToCp949(o.Password, password))
            throw BuildError("the password cannot be written in code page 949, so nobody could type it");
        // The stub never accepts an empty password, and its prompt takes 79
        // bytes at most: either would make the entries impossible to open.
        if (password.empty())
            throw BuildError("the password is empty; the self-extracting file never accepts an empty one");
        if (password.size() > 79)
            throw BuildError("the password is " + std::to_string(password.size()) +
                             " bytes in code page 949; the password prompt takes at most 79");
    }
    std::vector<uint8_t> stub = LoadStub(o);

    bool useEpoch = false;
    int64_t epoch = 0;
    if (const char *e = getenv("SOURCE_DATE_EPOCH")) {
        char *end = nullptr;
        epoch = strtoll(e, &end, 10);
        if (!*e || *end)
            throw BuildError("SOURCE_DATE_EPOCH is not a number: \"" + std::string(e) + "\"");
        useEpoch = true;
    }

    PathInfo existing = StatPath(o.Output);
    if (existing.Folder)
        throw BuildError("the output \"" + o.Output + "\" is a folder");
    auto note = [&](const std::string &t) { Note(o, t); };
    std::vector<Entry> entries;
    for (const std::string &z : o.Zips)
        CollectZip(z, entries, useEpoch, epoch, o.HasPassword ? &password : nullptr, note);
    for (const std::string &in : o.Inputs)
        CollectFiles(in, entries, useEpoch, epoch, existing.Exists ? existing.Id : 0, note);
    if (entries.empty())
        throw BuildError("nothing to pack: the inputs hold no files");
    CheckUniqueNames(entries);
    if (o.HasRun && !o.RunFile.empty()) {
        std::string key = NameKey(o.RunFile);
        while (!key.empty() && key[0] == '/')
            key.erase(0, 1);
        bool found = false;
        for (const Entry &e : entries)
            found = found || NameKey(e.Utf8Name) == key;
        if (!found)
            throw BuildError("the run file \"" + o.RunFile + "\" is not in the archive");
    }
    uint64_t total = StubImageSize + block.size();
    for (const Entry &e : entries) {
        if (e.Source->Size >= FileSizeLimit)
            throw BuildError("\"" + e.Utf8Name + "\" is 2 GiB or larger; the self-extracting file "
                             "must stay below 2 GiB");
        total += e.Source->Size;
    }
    if (o.Level == 0 && total >= FileSizeLimit)
        throw BuildError("the self-extracting file would be 2 GiB or larger");

    // Beside the output, so the final rename stays on one file system.
    std::string temp;
    FILE *out = nullptr;
    for (int attempt = 0; !out && attempt < 100; attempt++) {
        uint8_t r[4];
        RandomBytes(r, 4);
        char suffix[32];
        snprintf(suffix, sizeof suffix, ".mksfx-%02x%02x%02x%02x.tmp", r[0], r[1], r[2], r[3]);
        temp = o.Output + suffix;
        // Armed before the file exists, so that no moment is left in which
        // an interrupt would leave it behind.
        RemoveOnInterrupt(temp.c_str(), nullptr);
        out = CreateNewFile(temp);
        if (!out)
            RemoveOnInterrupt(nullptr, nullptr);
    }
    if (!out)
        throw BuildError("cannot create a file beside \"" + o.Output + "\": " + SystemError());
    RemoveOnInterrupt(temp.c_str(), out);
    try {
        if (fwrite(stub.data(), 1, stub.size(), out) != stub.size() ||
            fwrite(block.data(), 1, block.size(), out) != block.size())
            throw BuildError("cannot write the output: " + SystemError());
        WriteOptions w;
        w.Level = o.Level;
        w.Password = o.HasPassword ? &password : nullptr;
        w.Seeded = o.Seeded;
        w.Seed = o.Seed;
        Progress progress(!o.Quiet && IsTerminal(stderr));
        w.Progress = [&](uint64_t done, uint64_t all) { progress(done, all); };
        WriteArchive(out, entries, w);
        if (!SyncFile(out))
            throw BuildError("cannot write the output: " + SystemError());
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
    return ExitOk;
}

}  // namespace

int RunCommand(const Options &o)
{
    switch (o.Command) {
    case Options::Help:
        fputs(HelpText, stdout);
        return ExitOk;
    case Options::Version:
        puts("mksfx 1.0");
        return ExitOk;
    case Options::Info:
        return ShowInfo(o.Target, stdout);
    case Options::Verify: {
        std::string password;
        if (o.HasPassword && !Utf8ToCp949(o.Password, password))
            throw BuildError("the password cannot be written in code page 949");
        return Verify(o.Target, o.HasPassword ? &password : nullptr, stdout);
    }
    case Options::Build:
        break;
    }
    return Build(o);
}

}  // namespace mksfx
