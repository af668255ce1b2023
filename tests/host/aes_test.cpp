// The AES entries: the primitives against published vectors, then entries
// written by 7-Zip (a real peer, run at test time), decoded the way every
// reader of the archive decodes them, whole and tampered with.
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "archive/ZipWalk.h"
#include "common/FileIO.h"
#include "decode/Crypto.h"
#include "decode/EntryData.h"
#include "decode/WinZipAes.h"
#include "support/SfxArchive.h"

namespace {

Bytes Hex(const std::string &h)
{
    Bytes b;
    for (size_t i = 0; i + 1 < h.size(); i += 2)
        b.push_back((unsigned char)strtoul(h.substr(i, 2).c_str(), nullptr, 16));
    return b;
}

// --- The primitives ----------------------------------------------------------------

TEST(AesPrimitives, Pbkdf2HmacSha1GivesTheVectorsOfRfc6070)
{
    struct Vector {
        std::string password, salt;
        uint32_t iterations;
        const char *key;
    } vectors[] = {
        {"password", "salt", 1, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
        {"password", "salt", 2, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
        {"password", "salt", 4096, "4b007901b765489abead49d926f721d065a429c1"},
        {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
         "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
        {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, "56fa6aa75548099dcc37d7f03425e0c3"},
    };
    for (const Vector &v : vectors) {
        Bytes want = Hex(v.key), got(want.size());
        ASSERT_TRUE(DeriveKey((const uint8_t *)v.password.data(), (uint32_t)v.password.size(),
                              (const uint8_t *)v.salt.data(), (uint32_t)v.salt.size(), v.iterations, got.data(),
                              (uint32_t)got.size()));
        EXPECT_EQ(got, want) << v.password << " " << v.iterations;
    }
}

TEST(AesPrimitives, Aes256GivesFips197AndTheCounterBlocksOfSp800_38a)
{
    ASSERT_TRUE(CryptoReady());
    CryptoState s = {nullptr, nullptr};
    // FIPS-197 appendix C.3.
    Bytes key = Hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    Bytes block = Hex("00112233445566778899aabbccddeeff");
    ASSERT_TRUE(CipherStart(s, key.data()));
    ASSERT_TRUE(CipherBlocks(s, block.data(), block.data(), 16));
    EXPECT_EQ(block, Hex("8ea2b7ca516745bfeafc49904b496089"));
    CipherEnd(s);
    // SP 800-38A F.5.5 (CTR-AES256.Encrypt): the four counter blocks
    // enciphered in one call, then XORed with the plain text.
    key = Hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    Bytes counters = Hex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff" "f0f1f2f3f4f5f6f7f8f9fafbfcfdff00"
                         "f0f1f2f3f4f5f6f7f8f9fafbfcfdff01" "f0f1f2f3f4f5f6f7f8f9fafbfcfdff02");
    Bytes plain = Hex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                      "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    ASSERT_TRUE(CipherStart(s, key.data()));
    Bytes stream(64);
    ASSERT_TRUE(CipherBlocks(s, counters.data(), stream.data(), 64));
    CipherEnd(s);
    for (size_t i = 0; i < plain.size(); i++)
        plain[i] ^= stream[i];
    EXPECT_EQ(plain, Hex("601ec313775789a5b7a7f504bbf3d228f443e3ca4d62b59aca84e990cacaf5c5"
                         "2b0930daa23de94ce87017ba2d84988ddfc9c58db67aada613c2dd08457941a6"));
    EXPECT_FALSE(CipherBlocks(s, stream.data(), stream.data(), 16)) << "no key after CipherEnd";
}

TEST(AesPrimitives, HmacSha1GivesRfc2202InAnyPortions)
{
    Bytes key(20, 0x0b), want = Hex("b617318655057264e28bc0b6fb378c8ef146be00");
    std::string text = "Hi There";
    for (size_t split : {0u, 1u, 5u, 8u}) {
        CryptoState s = {nullptr, nullptr};
        ASSERT_TRUE(MacStart(s, key.data(), 20));
        MacUpdate(s, (const uint8_t *)text.data(), (uint32_t)split);
        MacUpdate(s, (const uint8_t *)text.data() + split, (uint32_t)(text.size() - split));
        Bytes got(20);
        ASSERT_TRUE(MacFinish(s, got.data()));
        EXPECT_EQ(got, want) << split;
        EXPECT_FALSE(MacFinish(s, got.data())) << "a finished MAC finishes once";
    }
}

// The format's counter mode: block n of the key stream is AES of the
// little-endian number n, from 1; in any portions (past the 256th block,
// where the counter's low byte carries).
TEST(AesPrimitives, CounterStreamIsLittleEndianFromOneInAnyPortions)
{
    Bytes key(32), salt(AesSaltSize, 0x5a);
    uint8_t verifier[2];
    Bytes derived(AesKeyBytes);
    std::string pw = "stream";
    ASSERT_TRUE(DeriveKey((const uint8_t *)pw.data(), (uint32_t)pw.size(), salt.data(), AesSaltSize, AesIterations,
                          derived.data(), AesKeyBytes));
    const size_t n = 257 * 16 + 5;
    Bytes want(n);
    EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(c, EVP_aes_256_ecb(), nullptr, derived.data(), nullptr);
    EVP_CIPHER_CTX_set_padding(c, 0);
    for (size_t b = 0; b * 16 < n; b++) {
        uint8_t counter[16] = {0}, out[16];
        uint32_t v = (uint32_t)b + 1;
        for (int i = 0; i < 4; i++)
            counter[i] = (uint8_t)(v >> 8 * i);
        int got = 0;
        EVP_EncryptUpdate(c, out, &got, counter, 16);
        for (size_t i = 0; i < 16 && b * 16 + i < n; i++)
            want[b * 16 + i] = out[i];
    }
    EVP_CIPHER_CTX_free(c);
    for (size_t step : {(size_t)1, (size_t)7, (size_t)16, (size_t)300, n}) {
        AesStream s = {};
        ASSERT_TRUE(AesBegin(s, (const uint8_t *)pw.data(), (uint32_t)pw.size(), salt.data(), verifier));
        EXPECT_EQ(verifier[0], derived[64]);
        EXPECT_EQ(verifier[1], derived[65]);
        Bytes stream(n, 0);
        for (size_t at = 0; at < n; at += step)
            AesEncrypt(s, stream.data() + at, (uint32_t)std::min(step, n - at));
        EXPECT_EQ(stream, want) << step;
        uint8_t code[Sha1Size];
        EXPECT_TRUE(AesFinish(s, code));
    }
}

TEST(AesField, OnlyAes256OverStoredOrDeflatedIsUsable)
{
    struct Case {
        const char *extra;
        uint8_t version;
        uint16_t method;
    } cases[] = {
        {"0199070002004145030800", 2, 8},
        {"0199070001004145030000", 1, 0},
        {"75700500012345678901990700020041450308000000", 2, 8},   // after a Unicode Path field
        {"0199070002004145010800", 0, 8},                          // AES-128
        {"0199070002004145030c00", 0, 12},                         // bzip2 inside
        {"0199070003004145030800", 0, 8},                          // vendor version 3
        {"0199070002004146030800", 0, 8},                          // vendor "AF"
        {"01990600020041450308", 0, 0},                            // cut short
        {"019908000200414503080000", 2, 8},                        // longer is fine
        {"0199", 0, 0},
    };
    for (const Case &c : cases) {
        Bytes x = Hex(c.extra);
        uint16_t method = 0;
        EXPECT_EQ(FindAesField(x.data(), (uint32_t)x.size(), method), c.version) << c.extra;
        if (c.version)
            EXPECT_EQ(method, c.method) << c.extra;
    }
}

// --- Entries written by 7-Zip --------------------------------------------------------

class SevenZipAes : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureCrcTable();
        if (system("7zz i >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "7-Zip (7zz) is not installed";
        files_ = {{"a.txt", ToBytes("hello, world\n")}, {"empty", Bytes()}, {"random.bin", Bytes(70000)}};
        std::string text;
        for (int i = 0; i < 20000; i++)
            text += "line " + std::to_string(i * 37 % 1001) + "\n";
        files_.push_back({"text.txt", ToBytes(text)});
        for (size_t i = 0; i < files_[2].second.size(); i++)
            files_[2].second[i] = (unsigned char)(i * 2654435761u >> 13);
        std::string names;
        for (auto &f : files_) {
            scratch_.Write(f.first, f.second);
            names += " " + f.first;
        }
        // -mx=0 would store the text too: the default deflates it, and
        // stores the random bytes, which do not shrink.
        std::string cmd = "cd '" + scratch_.Path() + "' && 7zz a -tzip -mem=AES256 '-p" + Password +
                          "' out.zip" + names + " >/dev/null 2>&1";
        ASSERT_EQ(system(cmd.c_str()), 0);
        zip_ = ReadAll(scratch_.Path() + "/out.zip");
    }
    // Every entry decoded as the stub decodes it: true when the password
    // opens it and its data is sound; the content goes to *content.
    struct Outcome {
        std::string name;
        bool opens = false, sound = false;
        Bytes content;
    };
    std::vector<Outcome> Decode(const Bytes &zip, const std::string &password, uint8_t version = 2)
    {
        std::string sfx = WriteSelfExtractor(scratch_, "sfx.exe", zip);
        std::vector<Outcome> outcomes;
        WalkSelfExtractor(sfx, [&](const WalkedEntry &e) {
            Outcome o;
            o.name = e.name;
            EXPECT_EQ(EntryAesVersion, version) << e.name;
            EXPECT_FALSE(IsUndecodableEntry(LastSeekPosition)) << e.name;
            uint8_t header[EncryptionHeaderSize * 2];
            Text pw = {0, 0};
            TextAssign(pw, password.c_str());
            o.opens = ReadEncryptionHeader(header) && PasswordOpens(header, pw);
            TextFree(pw);
            if (o.opens) {
                std::string out = scratch_.Path() + "/extracted";
                OutputFile = FileCreate(out.c_str());
                o.sound = DecodeEntryData();
                FileClose(OutputFile);
                o.content = ReadAll(out);
            }
            outcomes.push_back(o);
        });
        return outcomes;
    }
    // The local headers' positions in a ZIP that has no descriptors.
    std::vector<size_t> Headers(const Bytes &zip)
    {
        std::vector<size_t> at;
        for (size_t i = 0; i + 30 <= zip.size() && zip[i] == 'P' && zip[i + 1] == 'K' && zip[i + 2] == 3;) {
            at.push_back(i);
            i += 30 + (zip[i + 26] | zip[i + 27] << 8) + (zip[i + 28] | zip[i + 29] << 8) +
                 (zip[i + 18] | zip[i + 19] << 8 | zip[i + 20] << 16 | (size_t)zip[i + 21] << 24);
        }
        return at;
    }
    static size_t DataAt(const Bytes &zip, size_t header)
    {
        return header + 30 + (zip[header + 26] | zip[header + 27] << 8) + (zip[header + 28] | zip[header + 29] << 8);
    }
    static uint32_t Packed(const Bytes &zip, size_t header)
    {
        return zip[header + 18] | zip[header + 19] << 8 | zip[header + 20] << 16 | (uint32_t)zip[header + 21] << 24;
    }
    const Bytes &Content(const std::string &name)
    {
        for (auto &f : files_)
            if (f.first == name)
                return f.second;
        static Bytes none;
        return none;
    }
    // 7-Zip refuses passwords beyond ASCII in ZIP files; the Korean ones
    // are the builder's and libarchive's (tests/win).
    const std::string Password = "se cret";
    ScratchFolder scratch_;
    std::vector<std::pair<std::string, Bytes>> files_;
    Bytes zip_;
};

TEST_F(SevenZipAes, EveryEntryOpensAndDecodesToItsFile)
{
    std::vector<Outcome> got = Decode(zip_, Password);
    ASSERT_EQ(got.size(), files_.size());
    for (const Outcome &o : got) {
        EXPECT_TRUE(o.opens) << o.name;
        EXPECT_TRUE(o.sound) << o.name;
        EXPECT_EQ(o.content, Content(o.name)) << o.name;
    }
}

TEST_F(SevenZipAes, OurEncryptionWithItsSaltGivesItsBytesExactly)
{
    for (size_t h : Headers(zip_)) {
        size_t data = DataAt(zip_, h);
        uint32_t packed = Packed(zip_, h);
        Bytes body(zip_.begin() + (long)data + AesHeaderSize, zip_.begin() + (long)(data + packed - AesCodeSize));
        // Decrypted with the stream, then encrypted again from the start.
        AesStream s = {};
        uint8_t v[2], code[Sha1Size];
        ASSERT_TRUE(AesBegin(s, (const uint8_t *)Password.data(), (uint32_t)Password.size(), &zip_[data], v));
        EXPECT_EQ(v[0], zip_[data + AesSaltSize]);
        EXPECT_EQ(v[1], zip_[data + AesSaltSize + 1]);
        Bytes plain = body;
        AesDecrypt(s, plain.data(), (uint32_t)plain.size());
        ASSERT_TRUE(AesFinish(s, code));
        ASSERT_TRUE(AesBegin(s, (const uint8_t *)Password.data(), (uint32_t)Password.size(), &zip_[data], v));
        Bytes again = plain;
        AesEncrypt(s, again.data(), (uint32_t)again.size());
        ASSERT_TRUE(AesFinish(s, code));
        EXPECT_EQ(again, body);
        EXPECT_TRUE(std::equal(code, code + AesCodeSize, zip_.begin() + (long)(data + packed - AesCodeSize)));
    }
}

TEST_F(SevenZipAes, WrongPasswordsNeverDecode)
{
    for (const char *pw : {"", "secret", "se cret ", "Se cret"})
        for (const Outcome &o : Decode(zip_, pw))
            EXPECT_FALSE(o.opens && o.sound) << pw << " " << o.name;
}

// One changed byte anywhere in an entry's salt, verifier, data or code
// (and in its size) never gives a sound entry, the empty one included.
TEST_F(SevenZipAes, TamperedEntriesNeverPass)
{
    std::vector<size_t> headers = Headers(zip_);
    ASSERT_EQ(headers.size(), files_.size());
    for (size_t e = 0; e < headers.size(); e++) {
        size_t data = DataAt(zip_, headers[e]);
        uint32_t packed = Packed(zip_, headers[e]);
        struct Spot {
            const char *part;
            size_t at;
        } spots[] = {{"salt", data}, {"salt's end", data + AesSaltSize - 1},
                     {"verifier", data + AesSaltSize}, {"verifier's end", data + AesHeaderSize - 1},
                     {"data", data + AesHeaderSize}, {"data's end", data + packed - AesCodeSize - 1},
                     {"code", data + packed - AesCodeSize}, {"code's end", data + packed - 1},
                     {"size", headers[e] + 22}};
        for (const Spot &s : spots) {
            Bytes z = zip_;
            z[s.at] ^= 0x01;
            std::vector<Outcome> got = Decode(z, Password);
            ASSERT_EQ(got.size(), files_.size());
            EXPECT_FALSE(got[e].opens && got[e].sound) << got[e].name << ": " << s.part;
        }
    }
}

TEST_F(SevenZipAes, Ae1ChecksTheCrcAsWell)
{
    std::vector<size_t> headers = Headers(zip_);
    for (bool rightCrc : {true, false}) {
        Bytes z = zip_;
        for (size_t h : headers) {
            size_t name = h + 30, extra = name + (z[h + 26] | z[h + 27] << 8);
            std::string n(z.begin() + (long)name, z.begin() + (long)extra);
            uint32_t crc = Crc32Of(Content(n)) ^ (rightCrc ? 0 : 1);
            for (int i = 0; i < 4; i++)
                z[h + 14 + i] = (uint8_t)(crc >> 8 * i);
            ASSERT_EQ(z[extra + 4], 2);
            z[extra + 4] = 1;
        }
        for (const Outcome &o : Decode(z, Password, 1)) {
            EXPECT_TRUE(o.opens) << o.name;
            EXPECT_EQ(o.sound, rightCrc) << o.name;
        }
    }
}

}  // namespace
