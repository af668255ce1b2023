// The builder's settings block, byte for byte, for each option, and the
// command lines it refuses.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include <string>
#include <vector>

#include "mksfx_helpers.h"
#include "support/TempFile.h"

using namespace mksfxtest;

namespace {

typedef std::vector<unsigned char> Bytes;

Bytes Block(uint8_t f1, uint8_t f2, const std::string &caption, const std::string &folder,
            const std::string &params, const std::string &run)
{
    Bytes b = {'Q', 'B', 'W', 0, 0, f1, f2, (uint8_t)caption.size(), (uint8_t)folder.size(),
               (uint8_t)params.size(), (uint8_t)run.size()};
    for (const std::string *s : {&caption, &folder, &params, &run})
        b.insert(b.end(), s->begin(), s->end());
    b[3] = (uint8_t)b.size();
    b[4] = (uint8_t)(b.size() >> 8);
    return b;
}

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
        {{"--temp-folder"}, Block(0, 0x02, "", "", "", "")},
        {{"--run", "setup.exe", "--open"}, Block(0, 0x01, "", "", "", "setup.exe")},
        {{"--run", "setup.exe", "--params", "/S"}, Block(0, 0, "", "", "/S", "setup.exe")},
        {{"--params", "/x"}, Block(0, 0, "", "", "/x", "")},
        {{"--run", "setup.exe", "--open", "--show-run"}, Block(0x01, 0x01, "", "", "", "setup.exe")},
        {{"--overwrite", "all"}, Block(0x08, 0, "", "", "", "")},
        {{"--overwrite", "never"}, Block(0x10, 0, "", "", "", "")},
        {{"--overwrite", "ask"}, Block(0, 0, "", "", "", "")},
        {{"--fixed-overwrite", "--overwrite", "never"}, Block(0x14, 0, "", "", "", "")},
        {{"--sorted"}, Block(0, 0x04, "", "", "", "")},
        // All at once: the texts stand in the order caption, folder,
        // parameters, run file, whatever the order of the options.
        {{"--run", "setup.exe", "--params", "-q", "--folder", "D:\\", "--caption", "Cap", "--sorted",
          "--show-run", "--overwrite", "all", "--fixed-overwrite"},
         Block(0x0D, 0x04, "Cap", "D:\\", "-q", "setup.exe")},
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
        EXPECT_EQ(last.Code, 1);
        EXPECT_NE(last.Output.find(std::string(option) + " is 256 bytes"), std::string::npos) << last.Output;
        EXPECT_NE(last.Output.find("at most 255"), std::string::npos);
    }
    EXPECT_EQ(FileBytes(output), before) << "a refusal leaves the existing output alone";
}

TEST_F(BuilderSettings, TextOutsideCodePage949IsRefused)
{
    EXPECT_TRUE(Build({"--caption", u8"caf\u00e9"}).empty());
    EXPECT_EQ(last.Code, 1);
    EXPECT_NE(last.Output.find("--caption"), std::string::npos) << last.Output;
    EXPECT_NE(last.Output.find("code page 949"), std::string::npos);
    EXPECT_TRUE(Build({"--folder", u8"C:\\\u00fc"}).empty());
    EXPECT_EQ(last.Code, 1);
}

TEST_F(BuilderSettings, RunFileMustBeInTheArchive)
{
    EXPECT_TRUE(Build({"--run", "install.exe", "--open"}).empty());
    EXPECT_EQ(last.Code, 1);
    EXPECT_NE(last.Output.find("\"install.exe\" is not in the archive"), std::string::npos) << last.Output;
    // Windows compares without case, and takes either separator.
    mkdir((input + "/bin").c_str(), 0755);
    scratch.Write("in/bin/Tool.exe", std::string("MZ"));
    EXPECT_FALSE(Build({"--run", "BIN\\tool.EXE", "--open"}).empty()) << last.Output;
    // Stored with backslashes: the stub hands the joined path to the shell.
    EXPECT_EQ(Build({"--run", "bin/Tool.exe", "--open"}), Block(0, 0x01, "", "", "", "bin\\Tool.exe"));
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
        {"--level", "10"},
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
    EXPECT_NE(help.Output.find("--password-file"), std::string::npos);
}

TEST_F(BuilderSettings, PasswordsTheStubCannotTakeAreRefused)
{
    Build({"--password", ""});
    EXPECT_EQ(last.Code, 1);
    EXPECT_NE(last.Output.find("empty"), std::string::npos) << last.Output;
    Build({"--password", std::string(80, 'p')});
    EXPECT_EQ(last.Code, 1);
    EXPECT_NE(last.Output.find("at most 79"), std::string::npos) << last.Output;
    Build({"--password", std::string(79, 'p')});
    EXPECT_EQ(last.Code, 0) << last.Output;
    Build({"--password", u8"\u00e9t\u00e9"});
    EXPECT_EQ(last.Code, 1);
    EXPECT_NE(last.Output.find("code page 949"), std::string::npos) << last.Output;
}

}  // namespace
