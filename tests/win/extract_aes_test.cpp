// The AES road of the extraction driver, over Wine's CNG (bcrypt.dll from
// the system folder): the same prompt, the same three tries and the same
// outcomes as the traditional encryption, and an entry done only when its
// authentication code matches over all of its data.  The stub's own code,
// built with the AES entries decoded whatever its image holds (sfxwin_aes).
#include "wintest_main.h"

#include "extract_fixture.h"

#include "decode/WinZipAes.h"

using namespace fx;

static zm::Entry Aes(const std::string &name, const std::string &data, const std::string &password,
                     uint16_t method = MethodDeflated, uint8_t version = 2)
{
    zm::Entry e = Encrypted(name, data, password, method);
    e.aes = version;
    return e;
}

TEST_CASE(RightPasswordsOpenEveryKindOfAesEntry)
{
    Init();
    OverwritePolicy = OverwriteAll;
    struct Case {
        const char *password;
    } cases[] = {{"secret"}, {"비밀 번호"}};
    std::string text;
    for (int i = 0; i < 3000; i++)
        text += "line " + std::to_string(i) + " of a text\r\n";
    for (const Case &c : cases) {
        TextFree(Password);
        std::string dir = Target("aes");
        // Stored, deflated (several refills of the input), empty, AE-1, and
        // a traditional entry with the same password beside them.
        UseArchive({Aes("stored.txt", "stored bytes", c.password, MethodStored),
                    Aes("text.txt", text, c.password), Aes("empty.txt", "", c.password, MethodStored),
                    Aes("ae1.txt", "version one", c.password, MethodDeflated, 1),
                    Encrypted("old.txt", "traditional", c.password)});
        for (int id : Lists) {
            ListRun(id);
            S.passwords = {{c.password, false, false}};
            // Asked once; the second run takes the remembered password.
            std::vector<std::string> want = {AllDone};
            if (id == Lists[0])
                want.insert(want.begin(), Passwd);
            CHECK_TEXT(Joined(ExtractRun(id)), Joined(want));
            CHECK(SelectedCount(id) == 0);
            CHECK_TEXT(drv::ReadFileText(dir + "\\stored.txt"), "stored bytes");
            CHECK(drv::ReadFileText(dir + "\\text.txt") == text);
            CHECK(drv::FileExists(dir + "\\empty.txt"));
            CHECK_TEXT(drv::ReadFileText(dir + "\\ae1.txt"), "version one");
            CHECK_TEXT(drv::ReadFileText(dir + "\\old.txt"), "traditional");
        }
    }
}

TEST_CASE(WrongPasswordsPromptThreeTimesThenEndTheWalk)
{
    Init();
    OverwritePolicy = OverwriteAll;
    TextFree(Password);
    std::string dir = Target("aes_wrong");
    UseArchive({Stored("before.txt", "b"), Aes("locked.txt", "L", "right"), Stored("after.txt", "a")});
    ListRun(IDC_LIST_UNSORTED);
    ExtractSucceeded = 1;
    S.passwords = {{"wrong", false, false}, {"Right", false, false}, {"right ", false, false}};
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), Passwd, Passwd, Passwd);
    CHECK(ExtractSucceeded == 0);
    CHECK(!drv::FileExists(dir + "\\locked.txt"));
    CHECK_TEXT(Selection(IDC_LIST_UNSORTED, "before.txt") + Selection(IDC_LIST_UNSORTED, "locked.txt") +
                   Selection(IDC_LIST_UNSORTED, "after.txt"),
               "011");
    // A wrong answer, then the right one: the entry is extracted.
    TextFree(Password);
    S.passwords = {{"wrong", false, false}, {"right", true, false}};
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), Passwd, Passwd, AllDone);
    CHECK_TEXT(drv::ReadFileText(dir + "\\locked.txt"), "L");
}

// One changed byte of an entry's salt or verifier keeps the password from
// opening it; one of its data or code (or an AE-1 entry's CRC) fails it as a
// CRC mismatch fails: reported, its item left selected, no file of it left.
TEST_CASE(TamperedEntriesNeverPass)
{
    Init();
    OverwritePolicy = OverwriteAll;
    std::string data(5000, 'x');
    struct Case {
        const char *part;
        std::string content;
        int flip;          // into salt, verifier, data and code
        bool badCrc;
        uint8_t version;
        bool opens;
    } cases[] = {
        {"salt", data, 3, false, 2, false},
        {"verifier", data, AesSaltSize + 1, false, 2, false},
        {"data", data, AesHeaderSize + 100, false, 2, true},
        {"last data byte", data, AesHeaderSize + 4999, false, 2, true},
        {"code", data, AesHeaderSize + 5000 + 9, false, 2, true},
        {"code of an empty entry", "", AesHeaderSize, false, 2, true},
        {"CRC of AE-1", data, -1, true, 1, true},
    };
    for (const Case &c : cases) {
        TextFree(Password);
        std::string dir = Target("aes_tamper");
        zm::Entry bad = Aes("bad.txt", c.content, "key", MethodStored, c.version);
        bad.flip = c.flip;
        bad.badCrc = c.badCrc;
        UseArchive({bad, Stored("next.txt", "n")});
        ListRun(IDC_LIST_UNSORTED);
        ExtractSucceeded = 1;
        if (c.opens) {
            S.passwords = {{"key", false, false}};
            CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), Passwd, ItemsLeft);
            CHECK_TEXT(drv::ReadFileText(dir + "\\next.txt"), "n");
        } else {
            S.passwords = {{"key", false, false}, {"key", false, false}, {"key", false, false}};
            CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), Passwd, Passwd, Passwd);
        }
        CHECK(ExtractSucceeded == 0);
        CHECK(!drv::FileExists(dir + "\\bad.txt"));
        if (drv::FileExists(dir + "\\bad.txt"))
            printf("  %s: the file stayed\n", c.part);
        CHECK_TEXT(Selection(IDC_LIST_UNSORTED, "bad.txt"), "1");
    }
}

// AES other than AES-256 over stored or deflated data fails as an unknown
// method does, before its file is created and without asking a password.
TEST_CASE(UnsupportedAesIsAnUnknownMethod)
{
    Init();
    OverwritePolicy = OverwriteAll;
    TextFree(Password);
    std::string dir = Target("aes_odd");
    zm::Entry weak = Aes("weak.txt", "w", "key", MethodStored);
    // Strength 1 (AES-128) in the field the maker wrote.
    std::string file = zm::SelfExtractor(Stub(), zm::Settings(), {weak});
    size_t field = file.find(std::string("\x01\x99\x07\x00\x02\x00" "AE\x03", 9));
    CHECK(field != std::string::npos);
    file[field + 8] = 1;
    UseFile(file);
    ListRun(IDC_LIST_UNSORTED);
    CHECK_EVENTS(ExtractRun(IDC_LIST_UNSORTED), UnknownMethod);
    CHECK(!drv::FileExists(dir + "\\weak.txt"));
}
