// The builder's settings block, byte for byte, for each option, and the
// command lines it refuses.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include <string>
#include <vector>

#include "Builder.h"
#include "Command.h"
#include "RecordBytes.h"
#include "mksfx_helpers.h"
#include "support/TempFile.h"

using namespace mksfxtest;

namespace {

typedef std::vector<unsigned char> Bytes;

// The block the builder writes for these settings, the archive's file times
// asked for as they are unless --current-time is given.
Bytes Block(uint8_t f1, uint8_t f2, const std::string &caption, const std::string &folder,
            const std::string &params, const std::string &run)
{
    return mksfx::SettingsBlockBytes(f1, f2 | RestoreTimesFlag, caption, folder, params, run);
}

// Flag bytes by name.
const uint8_t ShowRun = ShowRunOptionFlag, Fixed = FixedOverwriteFlag, Opens = RunOpensFileFlag,
              Temp = DefaultToTempFlag, Sorted = SortEntriesFlag;
const uint8_t All = OverwriteFlags(OverwriteAll), Never = OverwriteFlags(OverwriteNever);

class BuilderSettings : public ::testing::Test {
protected:
    void SetUp() override
    {
        input = scratch.Path() + "/in";
        mkdir(input.c_str(), 0755);
        scratch.Write("in/setup.exe", std::string("MZ program"));
        scratch.Write("in/readme.txt", std::string("read me"));
        output = scratch.Path() + "/out.exe";
    }
    // Builds with the options and returns the block (empty on failure).
    Bytes Build(std::vector<std::string> options)
    {
        options.insert(options.begin(), {"-q", "-o", output});
        options.push_back(input);
        last = Mksfx(options);
        return last.Code == 0 ? SettingsBlock(output) : Bytes();
    }
    ScratchFolder scratch;
    std::string input, output;
    Outcome last;
};

TEST_F(BuilderSettings, EachOptionSetsItsBits)
{
    struct Case {
        std::vector<std::string> options;
        Bytes block;
    } cases[] = {
        {{}, Block(0, 0, "", "", "", "")},
        {{"--caption", u8"데모"}, Block(0, 0, "\xB5\xA5\xB8\xF0", "", "", "")},
        {{"--folder", "C:\\Apps"}, Block(0, 0, "", "C:\\Apps", "", "")},
        {{"--temp-folder"}, Block(0, Temp, "", "", "", "")},
        {{"--run", "setup.exe", "--open"}, Block(0, Opens, "", "", "", "setup.exe")},
        {{"--run", "setup.exe", "--params", "/S"}, Block(0, 0, "", "", "/S", "setup.exe")},
        {{"--params", "/x"}, Block(0, 0, "", "", "/x", "")},
        {{"-3", "--params", "-5"}, Block(0, 0, "", "", "-5", "")},   // a value, not a level
        {{"--run", "setup.exe", "--open", "--show-run"}, Block(ShowRun, Opens, "", "", "", "setup.exe")},
        {{"--overwrite", "all"}, Block(All, 0, "", "", "", "")},
        {{"--overwrite", "never"}, Block(Never, 0, "", "", "", "")},
        {{"--overwrite", "ask"}, Block(0, 0, "", "", "", "")},
        {{"--fixed-overwrite", "--overwrite", "never"}, Block(Fixed | Never, 0, "", "", "", "")},
        {{"--sorted"}, Block(0, Sorted, "", "", "", "")},
        {{"--current-time"}, mksfx::SettingsBlockBytes(0, 0, "", "", "", "")},
        // All at once: the texts stand in the order caption, folder,
        // parameters, run file, whatever the order of the options.  The
        // bytes are spelled out here, so that a changed number in the
        // format's constants fails.
        {{"--run", "setup.exe", "--params", "-q", "--folder", "D:\\", "--caption", "Cap", "--sorted",
          "--show-run", "--overwrite", "all", "--fixed-overwrite"},
         {'Q', 'B', 'W', 28, 0, 0x0D, 0x0C, 3, 3, 2, 9, 'C', 'a', 'p', 'D', ':', '\\', '-', 'q',
          's', 'e', 't', 'u', 'p', '.', 'e', 'x', 'e'}},
    };
    for (const Case &c : cases) {
        std::string shown;
        for (const std::string &o : c.options)
            shown += o + " ";
        EXPECT_EQ(Build(c.options), c.block) << shown << "\n" << last.Output;
    }
}

TEST_F(BuilderSettings, TextsUpTo255BytesInCodePage949)
{
    // 127 Hangul syllables are 254 bytes in code page 949 (and 381 in UTF-8).
    std::string longest;
    for (int i = 0; i < 127; i++)
        longest += u8"가";
    Bytes b = Build({"--caption", longest + "a"});
    ASSERT_EQ(b.size(), 11u + 255) << last.Output;
    EXPECT_EQ(b[7], 255);
    EXPECT_EQ(b[11], 0xB0);
    EXPECT_EQ(b[12], 0xA1);

    Bytes before = FileBytes(output);
    for (const char *option : {"--caption", "--folder", "--params"}) {
        EXPECT_TRUE(Build({option, longest + u8"가"}).empty());
        EXPECT_EQ(last.Code, 2);
        EXPECT_NE(last.Output.find(std::string(option) + " is 256 bytes"), std::string::npos) << last.Output;
        EXPECT_NE(last.Output.find("at most 255"), std::string::npos);
    }
    EXPECT_EQ(FileBytes(output), before) << "a refusal leaves the existing output alone";

    // The block writer itself refuses a text its one-byte length cannot hold.
    mksfx::BlockSettings s;
    s.Caption = std::string(SettingsTextMax, 'c');
    EXPECT_EQ(mksfx::MakeSettingsBlock(s).size(), (size_t)SettingsFixedSize + SettingsTextMax);
    s.RunFile = std::string(SettingsTextMax + 1, 'r');
    EXPECT_THROW(mksfx::MakeSettingsBlock(s), mksfx::BuildError);
}

TEST_F(BuilderSettings, TextOutsideCodePage949IsRefused)
{
    EXPECT_TRUE(Build({"--caption", u8"caf\u00e9"}).empty());
    EXPECT_EQ(last.Code, 2);
    EXPECT_NE(last.Output.find("--caption"), std::string::npos) << last.Output;
    EXPECT_NE(last.Output.find("code page 949"), std::string::npos);
    EXPECT_TRUE(Build({"--folder", u8"C:\\\u00fc"}).empty());
    EXPECT_EQ(last.Code, 2);
}

TEST_F(BuilderSettings, RunFileMustBeInTheArchive)
{
    EXPECT_TRUE(Build({"--run", "install.exe", "--open"}).empty());
    EXPECT_EQ(last.Code, 2);
    EXPECT_NE(last.Output.find("\"install.exe\" is not in the archive"), std::string::npos) << last.Output;
    // Windows compares without case, and takes either separator.
    mkdir((input + "/bin").c_str(), 0755);
    scratch.Write("in/bin/Tool.exe", std::string("MZ"));
    EXPECT_FALSE(Build({"--run", "BIN\\tool.EXE", "--open"}).empty()) << last.Output;
    // Stored with backslashes: the stub hands the joined path to the shell.
    EXPECT_EQ(Build({"--run", "bin/Tool.exe", "--open"}), Block(0, Opens, "", "", "", "bin\\Tool.exe"));
}

TEST_F(BuilderSettings, SettingsTheStubWouldIgnoreAreUsageErrors)
{
    const std::vector<std::vector<std::string>> refused = {
        {"--open"},                                       // nothing to open
        {"--run", "setup.exe"},                           // neither --open nor --params: never runs
        {"--run", "setup.exe", "--open", "--params", "x"},  // parameters dropped by --open
        {"--folder", "C:\\x", "--temp-folder"},           // folder text replaced
        {"--show-run"},                                   // a check box for no run
        {"--overwrite", "sometimes"},
        {"--level", "13"},                                // beyond libdeflate's 12
        {"--jobs", "0"},
        {"--frobnicate"},
        {"--caption"},                                    // value missing
        {"--caption", "a", "--caption", "b"},
        {"--seed", "1"},                                  // nothing to seed
    };
    for (const auto &options : refused) {
        Build(options);
        EXPECT_EQ(last.Code, 2) << options[0] << "\n" << last.Output;
        EXPECT_NE(last.Output.find("mksfx --help"), std::string::npos) << last.Output;
    }
    EXPECT_EQ(Mksfx({input}).Code, 2) << "no -o";
    EXPECT_EQ(Mksfx({"-o", output}).Code, 2) << "no input";
    Outcome help = Mksfx({"--help"});
    EXPECT_EQ(help.Code, 0);
    // Every option the parser knows is explained, and examples follow.
    for (const std::string &option : mksfx::OptionNames())
        EXPECT_NE(help.Output.find(option), std::string::npos) << option;
    EXPECT_GT(mksfx::OptionNames().size(), 20u);
    EXPECT_NE(help.Output.find("Examples:"), std::string::npos);
    // So do the switches the self-extracting file takes.
    for (const char *option : {"/S ", "/D=", "/O=", "/P=", "/R=", "/W ", "/? ", "Exit codes with /S"})
        EXPECT_NE(help.Output.find(option), std::string::npos) << option;
    // --version names the commit and the stub --verify compares with, as
    // git and sha256sum name them.
    Outcome version = Mksfx({"--version"});
    EXPECT_EQ(version.Code, 0);
    std::string commit = Shell("git -C " + Quote(SFX_SOURCE_DIR) + " rev-parse --short=12 HEAD").Output;
    std::string stub = Shell("sha256sum < " + Quote(MKSFX_STUB_PATH)).Output;
    EXPECT_NE(version.Output.find("(commit " + commit.substr(0, 12)), std::string::npos) << version.Output;
    EXPECT_NE(version.Output.find("stub: 38912 bytes, SHA-256 " + stub.substr(0, 64) + "\n"), std::string::npos)
        << version.Output;
}

TEST_F(BuilderSettings, TheCommandLinePeopleExpect)
{
    std::string secret = scratch.Path() + "/secret.exe";
    ASSERT_EQ(Mksfx({"-q", "-o", secret, "--password", "pw", input}).Code, 0);
    struct Case {
        std::vector<std::string> args;
        int code;
        const char *message;
    } cases[] = {
        {{"--level=5", "--output=" + output, "--caption=x", input}, 0, "2 entries"},
        {{"--verify", "--password", "pw", secret}, 0, "0 failed"},
        {{"--verify", "--password=pw", "--", secret}, 0, "0 failed"},
        {{"--info", secret, "--caption", "x"}, 2, "--caption"},
        {{"--verify", secret, "--password", "pw", "--level", "3"}, 2, "--level"},
        {{"--info", secret, "-o", output}, 2, "--output"},
        {{"--info", secret, input}, 2, "one file"},
        {{"--info", "--verify", secret}, 2, "--verify"},
        {{"-o", "-", input}, 2, "standard output"},
        {{"--level", "1", "-3", "-o", output, input}, 2, "--level"},
        // A build says what it did, in one line, unless -q.
        {{"-o", output, input}, 0, "2 entries, 17 bytes in,"},
        // Every wrong command line is 2, in words that name the option: a
        // value the self-extracting file could never take as much as one
        // the parser cannot read.  What fails while the work is done is 1.
        {{"-o", output, "--levle", "5", input}, 2, "unknown option --levle; did you mean --level?"},
        {{"-o", output, "--seed", "abc", "--password", "pw", input}, 2, "--seed takes a whole number"},
        {{"-o", output, "--seed", "-1", "--password", "pw", input}, 2, "not \"-1\""},
        {{"-o", output, "--level", "1.5", input}, 2, "--level takes a whole number from 0 to "},
        {{"-o", output, "--overwrite", "some", input}, 2, "--overwrite takes ask, all or never"},
        {{"-o", output, input, "--caption"}, 2, "--caption needs a value"},
        {{"-o", output, "--folder", "C:\\a?b", input}, 2, "--folder"},
        {{"-o", output, "--caption", std::string(256, 'c'), input}, 2, "at most 255"},
        {{"-o", output, "--password", "", input}, 2, "password is empty"},
        {{"-o", output, "--run", "missing.exe", "--open", input}, 2, "missing.exe"},
        {{"-o", output, input + "/nothing-here"}, 1, "does not exist"},
        {{"--info", input + "/readme.txt"}, 1, "is not a self-extracting file"},
    };
    for (const Case &c : cases) {
        Outcome r = Mksfx(c.args);
        EXPECT_EQ(r.Code, c.code) << c.args[0] << " " << c.args[1] << "\n" << r.Output;
        EXPECT_NE(r.Output.find(c.message), std::string::npos) << c.args[0] << " " << c.args[1] << "\n" << r.Output;
    }
    // Without a folder, a note says where a silent run would extract.
    Outcome unplaced = Mksfx({"-o", output, input});
    EXPECT_NE(unplaced.Output.find("no --folder: a silent run (/S) without /D= extracts into the folder it is "
                                   "started from"), std::string::npos) << unplaced.Output;
    Outcome built = Mksfx({"-o", output, "--folder", "C:\\Tool", input});
    EXPECT_EQ(std::count(built.Output.begin(), built.Output.end(), '\n'), 1) << built.Output;
    EXPECT_NE(built.Output.find(output), std::string::npos) << built.Output;
    EXPECT_EQ(Mksfx({"-q", "-o", output, input}).Output, "");
}

TEST_F(BuilderSettings, InfoAndStubSayWhatIsWrong)
{
    std::string zip = scratch.Path() + "/plain.zip";
    ASSERT_EQ(Shell("head -c 60000 /dev/urandom > " + Quote(input + "/noise.bin") + " && cd " + Quote(input) +
                    " && zip -q -0 ../plain.zip noise.bin readme.txt").Code, 0);
    std::string zeros = scratch.Write("zeros.exe", std::string(ImageSize, '\0'));
    struct Case {
        std::vector<std::string> args;
        const char *message;
    } cases[] = {
        {{"--info", zip}, "is not a self-extracting file"},
        {{"--verify", zip}, "is not a self-extracting file"},
        {{"--info", input + "/readme.txt"}, "is not a self-extracting file"},
        {{"-o", output, "--stub", zeros, input}, "is not a Windows program"},
        {{"-o", output, "--stub", zip, input}, "is 60"},
    };
    for (const Case &c : cases) {
        Outcome r = Mksfx(c.args);
        EXPECT_EQ(r.Code, 1) << c.args[1];
        EXPECT_NE(r.Output.find(c.message), std::string::npos) << c.args[1] << "\n" << r.Output;
    }
}

// --info and --verify as scripts read them: one JSON object that the
// schema in docs/ describes, the same facts as the lines, and --verify -q
// with its exit code alone.  Another program's installer is named as such
// before anything that looks like a report.
TEST_F(BuilderSettings, ReportsForScripts)
{
    std::string good = scratch.Path() + "/good.exe", damaged = scratch.Path() + "/damaged.exe";
    scratch.Write(u8"in/photo\u202egpj.txt", std::string("x"));
    ASSERT_EQ(Mksfx({"-q", "-o", good, "--caption", u8"\uc124\uce58 \"1\"", "--run", "readme.txt", "--open",
                     "--password", "pw", "--encryption", "aes", input}).Code, 0);
    Bytes bytes = FileBytes(good);
    // The first byte of the first entry's data, behind its salt and
    // verifier.
    size_t local = ImageSize + Get16(bytes, ImageSize + 3);
    bytes[local + LocalHeaderSize + Get16(bytes, local + 26) + Get16(bytes, local + 28) + 18] ^= 0x40;
    scratch.Write("damaged.exe", bytes);
    std::string check = scratch.Write("check.py", std::string(R"PY(
import json, sys, jsonschema
schema = json.load(open(sys.argv[1]))
report = json.loads(sys.stdin.read())
jsonschema.validate(report, schema)
print(json.dumps(report, ensure_ascii=False, sort_keys=True))
)PY"));
    std::string schema = Quote(std::string(SFX_SOURCE_DIR) + "/docs/mksfx-report.schema.json");
    auto json = [&](const std::vector<std::string> &args, int code) {
        std::string command = "MKSFX_PASSWORD=pw " + Quote(MKSFX_PATH);
        for (const std::string &a : args)
            command += " " + Quote(a);
        std::string report = Quote(scratch.Path() + "/report.json");
        Outcome r = Shell(command + " > " + report + " 2>/dev/null; echo \" exit=$?\"; /usr/bin/python3 " +
                          Quote(check) + " " + schema + " < " + report);
        EXPECT_NE(r.Output.find(" exit=" + std::to_string(code)), std::string::npos) << args[0] << "\n" << r.Output;
        return r.Output;
    };
    std::string info = json({"--info", "--json", good}, 0);
    EXPECT_NE(info.find(u8"\"caption\": \"\uc124\uce58 \\\"1\\\"\""), std::string::npos) << info;
    EXPECT_NE(info.find("\"run\": {\"file\": \"readme.txt\", \"parameters\": null}"), std::string::npos) << info;
    EXPECT_NE(info.find("\"encryption\": \"aes-256\", \"method\": \"stored\", \"method_number\": 0"),
              std::string::npos) << info;
    EXPECT_NE(info.find("\"totals\": {\"entries\": 3, \"packed\": "), std::string::npos) << info;
    EXPECT_NE(info.find(", \"size\": 18}"), std::string::npos) << "the unpacked size, for a disk check\n" << info;
    std::string verified = json({"--verify", "--json", good}, 0);
    EXPECT_NE(verified.find("\"ok\": true"), std::string::npos) << verified;
    std::string failed = json({"--verify", "--json", damaged}, 1);
    EXPECT_NE(failed.find("\"failed\": 2"), std::string::npos) << "the entry and the checksum\n" << failed;
    EXPECT_NE(failed.find("\"findings\": [\"AES authentication code mismatch (or its data is cut short or damaged)\"], "
                          "\"ok\": false"),
              std::string::npos) << failed;
    // Bidirectional controls never reach the raw text of a report.
    Outcome raw = Mksfx({"--info", "--json", good});
    EXPECT_EQ(raw.Output.find("\xE2\x80\xAE"), std::string::npos) << raw.Output;
    EXPECT_NE(raw.Output.find("\\u202e"), std::string::npos) << raw.Output;

    Outcome quiet = Mksfx({"--verify", "-q", damaged}, "MKSFX_PASSWORD=pw");
    EXPECT_EQ(quiet.Code, 1);
    EXPECT_EQ(quiet.Output, "");
    EXPECT_EQ(Mksfx({"--verify", "-q", good}, "MKSFX_PASSWORD=pw").Code, 0);
    EXPECT_EQ(Mksfx({"-o", good, "--json", input}).Code, 2) << "--json without --info or --verify";

    Bytes installer(60000, 0x5A);
    installer[0] = 'M';
    std::string other = scratch.Write("installer.exe", installer);
    Outcome foreign = Mksfx({"--info", other});
    EXPECT_EQ(foreign.Code, 1);
    EXPECT_NE(foreign.Output.find("is not a self-extracting file"), std::string::npos) << foreign.Output;
    EXPECT_EQ(foreign.Output.find("settings block"), std::string::npos) << foreign.Output;
}

TEST_F(BuilderSettings, RepackedFileKeepsItsSettings)
{
    std::string old = scratch.Path() + "/old.exe";
    ASSERT_EQ(Mksfx({"-q", "-o", old, "--caption", "Old", "--folder", "C:\\Old", "--run", "setup.exe", "--open",
                     "--show-run", "--overwrite", "never", "--sorted", input}).Code, 0);
    const Bytes kept = Block(ShowRun | Never, Opens | Sorted, "Old", "C:\\Old", "", "setup.exe");
    ASSERT_EQ(SettingsBlock(old), kept);
    struct Case {
        std::vector<std::string> options;
        Bytes block;
        const char *note;
    } cases[] = {
        {{}, kept, "kept from"},
        {{"--caption", "New"}, Block(ShowRun | Never, Opens | Sorted, "New", "C:\\Old", "", "setup.exe"), "folder"},
        {{"--temp-folder"}, Block(ShowRun | Never, Opens | Temp | Sorted, "Old", "", "", "setup.exe"), "caption"},
        {{"--run", "readme.txt", "--params", "/q"}, Block(Never, Sorted, "Old", "C:\\Old", "/q", "readme.txt"), "sorted"},
        {{"--overwrite", "all"}, Block(ShowRun | All, Opens | Sorted, "Old", "C:\\Old", "", "setup.exe"), "run"},
    };
    for (const Case &c : cases) {
        std::vector<std::string> args = {"-o", output, "--zip", old};
        args.insert(args.end(), c.options.begin(), c.options.end());
        Outcome r = Mksfx(args);
        ASSERT_EQ(r.Code, 0) << r.Output;
        EXPECT_EQ(SettingsBlock(output), c.block) << (c.options.empty() ? "" : c.options[0]);
        EXPECT_NE(r.Output.find(c.note), std::string::npos) << r.Output;
    }
    // A kept run the stub would ignore (the run file without "open") is
    // refused as the options that would make it are; so is an empty --params
    // that was to make the run happen.
    Bytes damaged = FileBytes(old);
    damaged[0x9806] &= (uint8_t)~0x01;
    Outcome r = Mksfx({"-o", output, "--zip", scratch.Write("ignored.exe", damaged)});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Output.find("never be run (settings kept from"), std::string::npos) << r.Output;
    EXPECT_EQ(Mksfx({"-o", output, "--run", "setup.exe", "--params", "", input}).Code, 2);
}

TEST_F(BuilderSettings, FolderIsAWindowsPathAsWritten)
{
    for (const char *bad : {"C:\\a?b", "C:\\a*", "C:\\<x>", "C:\\a|b", "C:\\\"x\"", "C:\\a:b", "C:\\tab\there"}) {
        EXPECT_TRUE(Build({"--folder", bad}).empty()) << bad;
        EXPECT_EQ(last.Code, 2) << bad;
        EXPECT_NE(last.Output.find("--folder"), std::string::npos) << last.Output;
    }
    Outcome r = Mksfx({"-o", output, "--folder", "%ProgramFiles%\\Tool", input});
    EXPECT_EQ(r.Code, 0) << r.Output;
    EXPECT_NE(r.Output.find("not expanded"), std::string::npos) << r.Output;
    EXPECT_FALSE(Build({"--folder", "D:\\Apps\\Tool"}).empty()) << last.Output;
    EXPECT_FALSE(Build({"--folder", "\\\\server\\share\\x"}).empty()) << last.Output;
}

TEST_F(BuilderSettings, PasswordsTheStubCannotTakeAreRefused)
{
    Build({"--password", ""});
    EXPECT_EQ(last.Code, 2);
    EXPECT_NE(last.Output.find("empty"), std::string::npos) << last.Output;
    Build({"--password", std::string(80, 'p')});
    EXPECT_EQ(last.Code, 2);
    EXPECT_NE(last.Output.find("at most 79"), std::string::npos) << last.Output;
    Build({"--password", std::string(79, 'p')});
    EXPECT_EQ(last.Code, 0) << last.Output;
    Build({"--password", u8"\u00e9t\u00e9"});
    EXPECT_EQ(last.Code, 2);
    EXPECT_NE(last.Output.find("code page 949"), std::string::npos) << last.Output;
    // A password file is UTF-8, as Notepad saves it (with a byte order mark)
    // or not; bytes of another code page are named as such.
    std::string korean = u8"\ube44\ubc00";
    Build({"--password-file", scratch.Write("bom.txt", "\xEF\xBB\xBF" + korean + "\r\n")});
    EXPECT_EQ(last.Code, 0) << last.Output;
    EXPECT_EQ(Mksfx({"--verify", output}, "MKSFX_PASSWORD=" + Quote(korean)).Code, 0);
    Build({"--password-file", scratch.Write("cp949.txt", std::string("\xBA\xF1\xB9\xD0\n"))});
    EXPECT_EQ(last.Code, 2);
    EXPECT_NE(last.Output.find("not UTF-8"), std::string::npos) << last.Output;
    // A zero byte would be cut off by one reader and not another; an endless
    // file holds no password and must not be read to its end.
    Build({"--password-file", scratch.Write("nul.txt", std::string("pw\0rest\n", 8))});
    EXPECT_EQ(last.Code, 2);
    EXPECT_NE(last.Output.find("zero byte"), std::string::npos) << last.Output;
    Build({"--password-file", "/dev/zero"});
    EXPECT_EQ(last.Code, 2);
    EXPECT_NE(last.Output.find("no line break in its first 1024 bytes"), std::string::npos) << last.Output;
}

}  // namespace
