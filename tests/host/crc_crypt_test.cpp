// CRC-32 and the traditional ZIP encryption, checked against zlib and
// against archives written by Info-ZIP's zip (a real peer, run at test time).
#include <gtest/gtest.h>

#include <stdlib.h>
#include <zlib.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "archive/ZipWalk.h"
#include "common/FileIO.h"
#include "common/SFXmisc.h"
#include "decode/CrcCrypt.h"
#include "decode/EntryData.h"
#include "support/SfxArchive.h"
#include "support/ZlibReference.h"

namespace {

uint32_t Reflect(uint32_t v, int bits)
{
    uint32_t r = 0;
    for (int i = 0; i < bits; i++)
        if (v & (1u << i))
            r |= 1u << (bits - 1 - i);
    return r;
}

Bytes RandomBytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto &c : b)
        c = (unsigned char)rng();
    return b;
}

uint32_t OurCrc(const Bytes &b)
{
    uint32_t crc = 0xFFFFFFFF;
    UpdateCrcOverBlock(b.data(), (int32_t)b.size(), crc);
    return crc ^ 0xFFFFFFFF;
}

// CheckEncryptionHeader's buffer: the encrypted header in its second half,
// the decrypted one written into its first.
const int HeaderBuffer = 2 * EncryptionHeaderSize;

Bytes Encrypt(const std::string &password, Bytes bytes)
{
    InitKeys(password.data(), (uint32_t)password.size());
    EncryptBlock(bytes.data(), (int32_t)bytes.size());
    return bytes;
}

Text TextOf(const std::string &s)
{
    Text t = {0, 0};
    if (!s.empty())
        FixedTextToString(t, s.data(), (uint32_t)s.size());
    return t;
}

bool Check(uint8_t *buffer, uint16_t flags, const std::string &password, uint32_t modTime, uint32_t crc)
{
    Text t = TextOf(password);
    bool ok = CheckEncryptionHeader(buffer, EncryptionHeaderSize, flags, t, modTime, crc);
    TextFree(t);
    return ok;
}

class CrcTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureCrcTable(); }
};

// --- The table and the register ------------------------------------------------

class CrcTableDefinition : public CrcTest {};
class CrcOverBlock : public CrcTest {};

TEST_F(CrcTableDefinition, RebuiltFromTheUnreflectedPolynomial)
{
    // The same remainder computed the textbook way: most significant bit
    // first with 0x04C11DB7 on the bit-reversed byte, reversed back.
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = Reflect(n, 8) << 24;
        for (int k = 0; k < 8; k++)
            c = c & 0x80000000u ? (c << 1) ^ 0x04C11DB7u : c << 1;
        ASSERT_EQ(CrcTable[n], Reflect(c, 32)) << n;
    }
    const z_crc_t *zlib = get_crc_table();
    for (int n = 0; n < 256; n++)
        ASSERT_EQ(CrcTable[n], (uint32_t)zlib[n]) << n;
}

TEST_F(CrcOverBlock, MatchesZlibOverRandomData)
{
    for (size_t n : {0u, 1u, 3u, 4u, 255u, 4096u, 100003u}) {
        Bytes b = RandomBytes(n, (uint32_t)n);
        EXPECT_EQ(OurCrc(b), Crc32Of(b)) << n;
    }
    EXPECT_EQ(OurCrc(ToBytes("123456789")), 0xCBF43926u);
}

TEST_F(CrcOverBlock, TwoPiecesGiveTheCrcOfTheWhole)
{
    Bytes b = RandomBytes(5000, 7);
    for (size_t split : {0u, 1u, 17u, 2500u, 4999u, 5000u}) {
        uint32_t crc = 0xFFFFFFFF;
        UpdateCrcOverBlock(b.data(), (int32_t)split, crc);
        UpdateCrcOverBlock(b.data() + split, (int32_t)(b.size() - split), crc);
        EXPECT_EQ(crc ^ 0xFFFFFFFF, Crc32Of(b)) << split;
    }
}

TEST_F(CrcOverBlock, CountOfZeroOrLessChangesNothing)
{
    Bytes b = RandomBytes(16, 1);
    for (int32_t n : {0, -1, -16, INT32_MIN}) {
        uint32_t crc = 0x12345678;
        UpdateCrcOverBlock(b.data(), n, crc);
        EXPECT_EQ(crc, 0x12345678u) << n;
    }
}

// ---------------------------------------------------------------------------
// The CRC over a block: parts run side by side and joined, or blocks folded
// with carry-less multiplies, must give the plain byte-by-byte register, for
// every length and split.

TEST_F(CrcOverBlock, EqualsZlibForEveryLengthAndStart)
{
    Bytes data = RandomBytes(70001, 21);
    uint32_t probe = 0;
    UpdateCrcOverBlock(data.data(), 1024, probe);   // asks the processor
    const bool folds = CrcFolds;
    // The tables, then the fold where the processor has one (from 32 bytes
    // on, the side-by-side parts from 1 KiB); lengths leave
    // 0 to 15 bytes after the 16-byte folds, and the block starts on and off
    // the loads' alignment.
    for (bool fold : {false, true}) {
        CrcFolds = fold && folds;
        for (size_t n : {0, 1, 7, 31, 32, 33, 47, 48, 100, 1000, 1023, 1024, 1025, 1031, 1039, 4096, 8191, 32767,
                         32768, 65536, 69999}) {
            for (uint32_t start : {0xFFFFFFFFu, 0u, 0x12345678u}) {
                for (size_t at : {0, 1}) {
                    uint32_t ours = start;
                    UpdateCrcOverBlock(data.data() + at, (int32_t)n, ours);
                    uint32_t plain = start;
                    for (size_t i = at; i < at + n; i++)
                        plain = CrcTable[(plain ^ data[i]) & 0xFF] ^ (plain >> 8);
                    EXPECT_EQ(ours, plain) << n << " from " << at << (CrcFolds ? ", folded" : "");
                }
            }
            uint32_t reg = 0xFFFFFFFF;
            UpdateCrcOverBlock(data.data(), (int32_t)n, reg);
            EXPECT_EQ(reg ^ 0xFFFFFFFF, Crc32Of(Bytes(data.begin(), data.begin() + n))) << n;
        }
    }
    CrcFolds = folds;
}

TEST_F(CrcOverBlock, PiecesEqualTheWholeAndNothingForNoBytes)
{
    Bytes data = RandomBytes(100000, 22);
    uint32_t whole = 0xFFFFFFFF;
    UpdateCrcOverBlock(data.data(), (int32_t)data.size(), whole);
    std::mt19937 rng(23);
    for (int round = 0; round < 20; round++) {
        uint32_t pieces = 0xFFFFFFFF;
        size_t pos = 0;
        while (pos < data.size()) {
            size_t n = std::min<size_t>(rng() % 40000, data.size() - pos);
            UpdateCrcOverBlock(data.data() + pos, (int32_t)n, pieces);
            pos += n;
        }
        EXPECT_EQ(pieces, whole);
    }
    uint32_t reg = 0xCAFEBABE;
    UpdateCrcOverBlock(data.data(), 0, reg);
    UpdateCrcOverBlock(data.data(), -5, reg);
    EXPECT_EQ(reg, 0xCAFEBABEu);
}

// --- The traditional encryption, on made-up headers ---------------------------------

class TraditionalCrypto : public CrcTest {};

TEST_F(TraditionalCrypto, DecryptingInPortionsEqualsDecryptingAtOnce)
{
    Bytes plain = RandomBytes(70000, 3);
    Bytes cipher = Encrypt("portions", plain);
    std::mt19937 rng(11);
    for (int round = 0; round < 5; round++) {
        Bytes b = cipher;
        InitKeys("portions", 8);
        size_t at = 0;
        while (at < b.size()) {
            size_t n = std::min<size_t>(b.size() - at, rng() % 9000);
            DecryptBlock(b.data() + at, (int32_t)n);
            at += n;
        }
        ASSERT_EQ(b, plain) << round;
    }
    InitKeys("portions", 8);
    uint32_t keys[3] = {EncryptionKeys[0], EncryptionKeys[1], EncryptionKeys[2]};
    // No bytes, or a negative count, touch neither the bytes nor the keys.
    DecryptBlock(cipher.data(), 0);
    DecryptBlock(cipher.data(), -5);
    EncryptBlock(cipher.data(), 0);
    EncryptBlock(cipher.data(), -5);
    EXPECT_TRUE(EncryptionKeys[0] == keys[0] && EncryptionKeys[1] == keys[1] && EncryptionKeys[2] == keys[2]);
    EXPECT_EQ(cipher, Encrypt("portions", plain));
    // Encrypting in portions gives the same bytes too.
    Bytes b = plain;
    InitKeys("portions", 8);
    for (size_t at = 0, step = 1; at < b.size(); at += step, step = step * 3 + 1) {
        step = std::min(step, b.size() - at);
        EncryptBlock(b.data() + at, (int32_t)step);
    }
    EXPECT_EQ(b, cipher);
}

TEST_F(TraditionalCrypto, CheckByteFromTimeWhenBit3IsSet)
{
    const uint32_t modTime = 0x5A21A7C3;    // date high, time 0xA7C3: check byte 0xA7
    const uint32_t crc = 0x3C000000;        // CRC check byte 0x3C
    Bytes plain = RandomBytes(EncryptionHeaderSize, 5);
    for (uint8_t checkByte : {(uint8_t)0xA7, (uint8_t)0x3C}) {
        plain[EncryptionHeaderSize - 1] = checkByte;
        Bytes enc = Encrypt("pw", plain);
        uint8_t buffer[HeaderBuffer];
        memcpy(buffer + EncryptionHeaderSize, enc.data(), EncryptionHeaderSize);
        bool fromTime = checkByte == 0xA7;
        EXPECT_EQ(Check(buffer, EncryptedFlag | DescriptorFlag, "pw", modTime, crc), fromTime);
        EXPECT_EQ(Check(buffer, EncryptedFlag, "pw", modTime, crc), !fromTime);
        // Only bit 3 of the flags count, and the date never does.
        EXPECT_EQ(Check(buffer, 0xFFFF, "pw", modTime ^ 0xFFFF0000, crc), fromTime);
        EXPECT_EQ(Check(buffer, (uint16_t)~DescriptorFlag, "pw", modTime, crc ^ 0x00FFFFFF), !fromTime);
    }
}

TEST_F(TraditionalCrypto, EmptyPasswordNeverPassesAndLeavesTheKeys)
{
    Bytes plain = RandomBytes(EncryptionHeaderSize, 9);
    plain[EncryptionHeaderSize - 1] = 0x77;
    Bytes enc = Encrypt("", plain);     // a header that the empty password fits
    uint8_t buffer[HeaderBuffer];
    memset(buffer, 0xEE, EncryptionHeaderSize);
    memcpy(buffer + EncryptionHeaderSize, enc.data(), EncryptionHeaderSize);
    EncryptionKeys[0] = 1, EncryptionKeys[1] = 2, EncryptionKeys[2] = 3;
    EXPECT_FALSE(Check(buffer, EncryptedFlag, "", 0, 0x77000000));
    EXPECT_FALSE(Check(buffer, EncryptedFlag | DescriptorFlag, "", 0x7700, 0));
    EXPECT_EQ(EncryptionKeys[0], 1u);
    EXPECT_EQ(EncryptionKeys[1], 2u);
    EXPECT_EQ(EncryptionKeys[2], 3u);
    EXPECT_EQ(buffer[0], 0xEE);
}

// --- Archives written by Info-ZIP zip -----------------------------------------------

class ZipPeer : public CrcTest {
protected:
    void SetUp() override
    {
        CrcTest::SetUp();
        if (system("zip -v >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "Info-ZIP zip is not installed";
    }
    void Put(const std::string &name, const Bytes &content) { files_[name] = content; scratch_.Write(name, content); }
    // Runs zip in the scratch folder and returns the self-extracting file
    // made from its output.
    std::string Zip(const std::string &command)
    {
        std::string cmd = "cd '" + scratch_.Path() + "' && (" + command + ") >/dev/null 2>&1";
        EXPECT_EQ(system(cmd.c_str()), 0) << command;
        return WriteSelfExtractor(scratch_, "sfx.exe", ReadAll(scratch_.Path() + "/out.zip"));
    }
    // Reads the entry's encryption header into both halves of a buffer, as
    // the driver does; the file then stands at the entry's data.
    static void ReadHeader(const WalkedEntry &e, uint8_t buffer[HeaderBuffer])
    {
        SeekEntryData(e.headerPosition);
        ASSERT_EQ(FileRead(ArchiveFile, buffer + EncryptionHeaderSize, EncryptionHeaderSize), EncryptionHeaderSize);
        memcpy(buffer, buffer + EncryptionHeaderSize, EncryptionHeaderSize);
    }
    static uint32_t ModTime() { return LocalHeader.ModTime | (uint32_t)LocalHeader.ModDate << 16; }
    // The extraction run's steps: the header, the password, the data into a
    // file; whether the password opened it and the CRC held.
    bool ExtractStored(const WalkedEntry &e, const std::string &password, Bytes *content = nullptr)
    {
        uint8_t buffer[HeaderBuffer];
        SeekEntryData(e.headerPosition);
        Text pw = {0, 0};
        TextAssign(pw, password.c_str());
        bool opens = ReadEncryptionHeader(buffer) && PasswordOpens(buffer, pw);
        TextFree(pw);
        if (!opens)
            return false;
        std::string out = scratch_.Path() + "/extracted";
        OutputFile = FileCreate(out.c_str());
        bool crcMatches = DecodeEntryData();
        FileClose(OutputFile);
        if (content)
            *content = ReadAll(out);
        return crcMatches;
    }
    ScratchFolder scratch_;
    std::map<std::string, Bytes> files_;
};

TEST_F(ZipPeer, StoredEntriesDecryptOverSeveralPortionsAndPassTheirCrc)
{
    Put("small.txt", ToBytes("a few words of text\n"));
    Put("big.bin", RandomBytes(100000, 42));        // four portions of the copy
    Put("empty", Bytes());
    std::string sfx = Zip("zip -q -0 -P secret out.zip small.txt big.bin empty");
    int extracted = 0;
    std::vector<WalkedEntry> w = WalkSelfExtractor(sfx, [&](const WalkedEntry &e) {
        SCOPED_TRACE(e.name);
        ASSERT_EQ(LocalHeader.Flags & EncryptedFlag, EncryptedFlag);
        Bytes content;
        EXPECT_TRUE(ExtractStored(e, "secret", &content));
        EXPECT_EQ(content, files_[e.name]);
        // The encryption run over the plain header and content gives zip's
        // bytes exactly.
        Bytes stored(LocalHeader.CompressedSize);
        SeekEntryData(e.headerPosition);
        ASSERT_EQ(FileRead(ArchiveFile, stored.data(), (uint32_t)stored.size()), (int32_t)stored.size());
        Bytes plain = stored;
        InitKeys("secret", 6);
        DecryptBlock(plain.data(), (int32_t)plain.size());
        ASSERT_TRUE(std::equal(content.begin(), content.end(), plain.begin() + EncryptionHeaderSize));
        EXPECT_EQ(Encrypt("secret", plain), stored);
        extracted++;
    });
    EXPECT_EQ(w.size(), 3u);
    EXPECT_EQ(extracted, 3);
}

TEST_F(ZipPeer, DeflatedEntryDecryptsInPortionsToWhatZlibInflates)
{
    std::string text;
    for (int i = 0; i < 20000; i++)
        text += "line " + std::to_string(i * 37 % 1001) + " of a text that deflates well\n";
    Put("text.txt", ToBytes(text));
    std::string sfx = Zip("zip -q -P 'pass word' out.zip text.txt");
    int checked = 0;
    WalkSelfExtractor(sfx, [&](const WalkedEntry &e) {
        ASSERT_EQ(LocalHeader.Method, MethodDeflated);
        uint8_t buffer[HeaderBuffer];
        ReadHeader(e, buffer);
        ASSERT_TRUE(Check(buffer, LocalHeader.Flags, "pass word", ModTime(), LocalHeader.Crc32));
        Bytes data(LocalHeader.CompressedSize - EncryptionHeaderSize);
        ASSERT_EQ(FileRead(ArchiveFile, data.data(), (uint32_t)data.size()), (int32_t)data.size());
        for (size_t at = 0, step = 1; at < data.size(); at += step, step = step * 5 + 3) {
            step = std::min(step, data.size() - at);
            DecryptBlock(data.data() + at, (int32_t)step);
        }
        ZlibInflated z = ZlibInflate(data.data(), data.size());
        EXPECT_TRUE(z.Complete);
        Bytes out(z.Out.begin(), z.Out.end());
        EXPECT_EQ(out, ToBytes(text));
        EXPECT_EQ(OurCrc(out), LocalHeader.Crc32);
        checked++;
    });
    EXPECT_EQ(checked, 1);
}

TEST_F(ZipPeer, WrongPasswordsFailTheCheckOrTheCrc)
{
    Put("data.bin", RandomBytes(3000, 8));
    std::string sfx = Zip("zip -q -0 -P secret out.zip data.bin");
    int passedCheck = 0, tried = 0;
    WalkSelfExtractor(sfx, [&](const WalkedEntry &e) {
        for (const char *wrong : {"Secret", "secret ", "secre", "secrets", "s", "SECRET", "terces", "x",
                                  "secret\x01", "password", "12345678", "secret secret"}) {
            SCOPED_TRACE(wrong);
            uint8_t buffer[HeaderBuffer];
            ReadHeader(e, buffer);
            if (Check(buffer, LocalHeader.Flags, wrong, ModTime(), LocalHeader.Crc32))
                passedCheck++;
            EXPECT_FALSE(ExtractStored(e, wrong));
            tried++;
        }
        EXPECT_TRUE(ExtractStored(e, "secret"));
    });
    EXPECT_EQ(tried, 12);
    // One wrong password in 256 passes the one-byte check; twelve all
    // passing would mean the check compares nothing.
    EXPECT_LT(passedCheck, 3);
}

TEST_F(ZipPeer, RepeatedChecksOnOneBufferEqualAFirstCheck)
{
    Put("f.txt", ToBytes("repeated checks\n"));
    std::string sfx = Zip("zip -q -0 -P right out.zip f.txt");
    WalkSelfExtractor(sfx, [&](const WalkedEntry &e) {
        uint8_t fresh[HeaderBuffer], reused[HeaderBuffer];
        ReadHeader(e, fresh);
        memcpy(reused, fresh, HeaderBuffer);
        ASSERT_TRUE(Check(fresh, LocalHeader.Flags, "right", ModTime(), LocalHeader.Crc32));
        uint32_t keys[3] = {EncryptionKeys[0], EncryptionKeys[1], EncryptionKeys[2]};
        for (const char *wrong : {"wrong", "", "righ", "right!"})
            Check(reused, LocalHeader.Flags, wrong, ModTime(), LocalHeader.Crc32);
        EXPECT_EQ(memcmp(reused + EncryptionHeaderSize, fresh + EncryptionHeaderSize, EncryptionHeaderSize), 0);
        ASSERT_TRUE(Check(reused, LocalHeader.Flags, "right", ModTime(), LocalHeader.Crc32));
        EXPECT_EQ(memcmp(reused, fresh, HeaderBuffer), 0);
        EXPECT_TRUE(EncryptionKeys[0] == keys[0] && EncryptionKeys[1] == keys[1] && EncryptionKeys[2] == keys[2]);
    });
}

TEST_F(ZipPeer, StreamedEntryChecksAgainstTheTime)
{
    // Read from a pipe and written to one, zip cannot go back to fill in the
    // header: it sets flag bit 3, writes a data descriptor and leaves the
    // sizes unknown (0xFFFFFFFF, which also ends the walk after the entry).
    std::string sfx = Zip("echo streamed | zip -q -P pw - - | cat > out.zip");
    int checked = 0;
    std::vector<WalkedEntry> w = WalkSelfExtractor(sfx, [&](const WalkedEntry &e) {
        ASSERT_EQ(LocalHeader.Flags & (EncryptedFlag | DescriptorFlag), EncryptedFlag | DescriptorFlag);
        uint8_t buffer[HeaderBuffer];
        ReadHeader(e, buffer);
        uint8_t timeByte = (uint8_t)(LocalHeader.ModTime >> 8);
        // A CRC argument whose high byte differs from the time's: only the
        // time can make the check pass.
        uint32_t otherCrc = (uint32_t)(timeByte ^ 0xFF) << 24;
        EXPECT_TRUE(Check(buffer, LocalHeader.Flags, "pw", ModTime(), otherCrc));
        EXPECT_FALSE(Check(buffer, LocalHeader.Flags & ~DescriptorFlag, "pw", ModTime(), otherCrc));
        EXPECT_FALSE(Check(buffer, LocalHeader.Flags, "pw", ModTime() ^ 0x100, otherCrc));
        EXPECT_FALSE(Check(buffer, LocalHeader.Flags, "", ModTime(), otherCrc));
        checked++;
    });
    EXPECT_EQ(w.size(), 1u);
    EXPECT_EQ(checked, 1);
}

} // namespace
