// The settings reader over made-up self-extracting files.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archive/Settings.h"
#include "common/FileIO.h"
#include "resources/resource.h"
#include "RecordBytes.h"
#include "support/TempFile.h"

namespace {

typedef std::vector<unsigned char> Bytes;

// The block as the builder writes it, then `extra` bytes that only the
// block length accounts for.
Bytes Block(uint8_t f1, uint8_t f2, const std::string &caption, const std::string &folder,
            const std::string &params, const std::string &run, size_t extra = 0)
{
    Bytes b = mksfx::SettingsBlockBytes(f1, f2, caption, folder, params, run);
    b.insert(b.end(), extra, 0xEE);
    b[3] = (uint8_t)(b.size() & 0xFF);
    b[4] = (uint8_t)(b.size() >> 8);
    return b;
}

class SettingsBlock : public ::testing::Test {
protected:
    void SetUp() override { InitGlobals(); }
    void TearDown() override
    {
        if (ArchiveFile != NoFile)
            FileClose(ArchiveFile);
        DoneGlobals();
    }
    // Stub image, then the given tail.
    void Read(const Bytes &tail)
    {
        Bytes file(ImageSize + tail.size(), 0x90);
        std::copy(tail.begin(), tail.end(), file.begin() + ImageSize);
        ArchiveFile = FileOpenRead(scratch_.Write("sfx.exe", file).c_str());
        ASSERT_NE(ArchiveFile, NoFile);
        // Every setting starts from a state the reader must overwrite.
        ShowRunOption = FixedOverwrite = RunOpensFile = DefaultToTemp = SortEntries = false;
        HasCaption = HasDefaultFolder = RunWithParameters = HasRunFile = false;
        ReadSettings();
    }
    ScratchFolder scratch_;
};

TEST_F(SettingsBlock, NoBlockKeepsEveryDefault)
{
    Read({'P', 'K', 3, 4});
    EXPECT_EQ(ArchiveStart, ImageSize);
    EXPECT_EQ(InitialOverwriteButton, IDC_OVERWRITE_ASK);
    EXPECT_FALSE(HasCaption || HasDefaultFolder || RunWithParameters || HasRunFile);
    EXPECT_FALSE(ShowRunOption || FixedOverwrite || RunOpensFile || SortEntries);
}

TEST_F(SettingsBlock, FileEndingInsideTheMagicOrLowerCaseMagicIsNoBlock)
{
    Read({'Q', 'B'});
    EXPECT_EQ(ArchiveStart, ImageSize);
    Bytes b = Block(OverwriteFlags(OverwriteAll), 0, "c", "", "", "");
    b[0] = 'q', b[1] = 'b', b[2] = 'w';
    Read(b);
    EXPECT_EQ(ArchiveStart, ImageSize);
    EXPECT_EQ(InitialOverwriteButton, IDC_OVERWRITE_ASK);
    EXPECT_FALSE(HasCaption);
}

TEST_F(SettingsBlock, ElevenBytesWithZeroLengthsSetOnlyFlags)
{
    Read(Block(ShowRunOptionFlag | FixedOverwriteFlag | OverwriteFlags(OverwriteNever), SortEntriesFlag, "", "", "", ""));
    EXPECT_EQ(ArchiveStart, ImageSize + SettingsFixedSize);
    EXPECT_TRUE(ShowRunOption);
    EXPECT_TRUE(FixedOverwrite);
    EXPECT_TRUE(SortEntries);
    EXPECT_EQ(InitialOverwriteButton, IDC_OVERWRITE_NEVER);
    EXPECT_FALSE(HasCaption || HasDefaultFolder || RunWithParameters || HasRunFile);
    EXPECT_STREQ(CaptionText, "");
}

TEST_F(SettingsBlock, OverwriteChoiceFromFlagBits)
{
    // The bits spelled out, so that a changed number in the format's
    // constants fails here.
    Read(Block(0x08, 0, "", "", "", ""));
    EXPECT_EQ(InitialOverwriteButton, IDC_OVERWRITE_ALL);
    Read(Block(0x18, 0, "", "", "", ""));
    EXPECT_EQ(InitialOverwriteButton, IDC_OVERWRITE_ASK);
    Read(Block(0x00, 0, "", "", "", ""));
    EXPECT_EQ(InitialOverwriteButton, IDC_OVERWRITE_ASK);
}

TEST_F(SettingsBlock, TextsInBlockOrderAndRunFlags)
{
    Read(Block(0, 0, "My caption", "C:\\Out", "/s", "setup.exe"));
    EXPECT_STREQ(CaptionText, "My caption");
    EXPECT_STREQ(DefaultFolder, "C:\\Out");
    EXPECT_STREQ(RunParameters, "/s");
    EXPECT_STREQ(RunFile, "setup.exe");
    EXPECT_TRUE(HasCaption && HasDefaultFolder && RunWithParameters && HasRunFile);

    // Parameters with RunOpensFile: no parameters are used.
    Read(Block(0, RunOpensFileFlag, "", "", "/s", "readme.txt"));
    EXPECT_FALSE(RunWithParameters);
    EXPECT_TRUE(HasRunFile);
    // A run file alone, without RunOpensFile or parameters: nothing runs.
    Read(Block(0, 0, "", "", "", "setup.exe"));
    EXPECT_FALSE(HasRunFile);
}

TEST_F(SettingsBlock, TempFolderReplacesTheFolderTextWhichIsStillRead)
{
    setenv("TMPDIR", "/tmp/sfx-temp", 1);
    Read(Block(0, DefaultToTempFlag, "", "D:\\ignored", "", "run.bat"));
    unsetenv("TMPDIR");
    EXPECT_TRUE(HasDefaultFolder);
    EXPECT_STREQ(DefaultFolder, "/tmp/sfx-temp/");
    // The texts after the folder text are found at the right place.
    EXPECT_STREQ(RunFile, "run.bat");
}

TEST_F(SettingsBlock, BlockLengthBeyondItsFieldsPlacesTheArchive)
{
    Bytes b = Block(0, 0, "cap", "", "", "", 100);
    Read(b);
    EXPECT_EQ(ArchiveStart, ImageSize + (int32_t)b.size());
    EXPECT_STREQ(CaptionText, "cap");
}

TEST_F(SettingsBlock, TruncatedBlockReadsMissingFieldsAsZeroAndCutsTexts)
{
    // Cut after flags 1: the lengths read as zero.
    Bytes b = Block(ShowRunOptionFlag | FixedOverwriteFlag, SortEntriesFlag, "caption", "folder", "", "");
    Read(Bytes(b.begin(), b.begin() + 6));
    EXPECT_TRUE(ShowRunOption);
    EXPECT_FALSE(SortEntries);
    EXPECT_FALSE(HasCaption);
    EXPECT_EQ(ArchiveStart, ImageSize + (int32_t)b.size());

    // Cut inside the caption: the text ends where the file ends.
    Read(Bytes(b.begin(), b.begin() + SettingsFixedSize + 3));
    EXPECT_TRUE(HasCaption);
    EXPECT_STREQ(CaptionText, "cap");
    EXPECT_STREQ(DefaultFolder, "");

    // Cut inside the block length itself.
    Read(Bytes(b.begin(), b.begin() + 4));
    EXPECT_EQ(ArchiveStart, ImageSize + (b[3]));
}

TEST_F(SettingsBlock, LongestTextsFitTheirBuffers)
{
    std::string t(SettingsTextMax, 'x');
    Read(Block(0, 0, t, t, t, t));
    EXPECT_EQ(std::string(CaptionText), t);
    EXPECT_EQ(std::string(RunFile), t);
}

} // namespace
