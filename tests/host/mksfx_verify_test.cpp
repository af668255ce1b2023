// --verify against damage.  Every bit of a small finished file behind the
// stub's image is flipped in turn (each of the eight bits of each byte, one
// flip at a time), and one bit of every 97th byte inside the image; --verify
// must fail each flip, except those accepted below with the reason each
// cannot be told from a file the builder would have written.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <ctype.h>
#include <zlib.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "Builder.h"
#include "Inspect.h"
#include "Platform.h"
#include "common/SfxFormat.h"
#include "decode/CrcCrypt.h"
#include "mksfx_helpers.h"
#include "support/TempFile.h"
#include "support/ZlibReference.h"

using namespace mksfxtest;

namespace {

typedef std::vector<unsigned char> Bytes;

// A raw deflate stream inflated by zlib, as other ZIP readers inflate it;
// empty unless it ends exactly with its last byte.
Bytes Inflated(const Bytes &stream)
{
    ZlibInflated z = ZlibInflate(stream.data(), stream.size());
    return z.Complete && z.Used == stream.size() ? z.Out : Bytes();
}

// Verify's report on the bytes, which must fail.
std::string Report(const ScratchFolder &scratch, const Bytes &bytes, const Bytes &stub)
{
    std::string path = scratch.Write("damaged.exe", bytes);
    std::string report = scratch.Path() + "/report.txt";
    FILE *f = fopen(report.c_str(), "w");
    int code = mksfx::Verify(path, nullptr, stub, f);
    fclose(f);
    Bytes text = FileBytes(report);
    std::string shown(text.begin(), text.end());
    EXPECT_EQ(code, 1) << shown;
    return shown;
}

struct Region {
    size_t Begin, End;
    std::string Name;
};

TEST(VerifyFlips, EveryFlipThatChangesWhatAUserGetsFails)
{
    ScratchFolder scratch;
    mkdir((scratch.Path() + "/in").c_str(), 0755);
    std::string notes;
    for (int i = 0; i < 40; i++)
        notes += "line " + std::to_string(i) + " of the notes\n";
    scratch.Write("in/notes.txt", notes);                                      // deflated
    scratch.Write("in/data.bin", Bytes{7, 200, 13, 99, 250, 1, 2, 3});         // stored
    scratch.Write(u8"in/\ud55c\uae00.txt", std::string(u8"\uc548\ub155"));     // a Unicode Path field
    Bytes stub = FileBytes(MKSFX_STUB_PATH);
    ASSERT_GE(stub.size(), (size_t)ImageSize) << "no stub at " << MKSFX_STUB_PATH;
    stub.resize(ImageSize);

    struct Variant {
        std::vector<std::string> Options;
        std::string Password;
        // Flag bits whose flip gives another set of choices the builder
        // writes from its options (a check box shown or hidden, the
        // overwrite choice, fixed or not, the temporary folder where no
        // folder is given, sorted or not): the block carries no checksum,
        // so such a file is one its maker could have asked for.
        std::vector<uint8_t> Flags1, Flags2;
    } variants[] = {
        // Flags 1 0x11 (check box, never overwrite), flags 2 0x05 (open, sorted).
        {{"--caption", u8"\uc124\uce58 Setup", "--run", "notes.txt", "--open", "--show-run", "--overwrite", "never",
          "--sorted"},
         "", {0x01, 0x04, 0x10}, {0x02, 0x04}},
        // Flags 1 0 (no check box, ask), flags 2 0x01 (open): without bit 0
        // of flags 2 the run file would never be run.
        {{"--password", "pw", "--seed", "1", "--run", "notes.txt", "--open", "--encryption", "zipcrypto"}, "pw",
         {0x01, 0x04, 0x08, 0x10}, {0x02, 0x04}},
        // AES: no flip of salt, verifier, data, code or AES field passes,
        // not even in the padding of the last deflate byte.
        {{"--password", "pw", "--seed", "1", "--run", "notes.txt", "--open", "--encryption", "aes"}, "pw",
         {0x01, 0x04, 0x08, 0x10}, {0x02, 0x04}},
    };
    FILE *devnull = fopen("/dev/null", "w");
    ASSERT_TRUE(devnull);
    for (const Variant &v : variants) {
        std::string out = scratch.Path() + "/out.exe";
        std::vector<std::string> args = {"-q", "-o", out};
        args.insert(args.end(), v.Options.begin(), v.Options.end());
        args.push_back(scratch.Path() + "/in");
        ASSERT_EQ(Mksfx(args, "SOURCE_DATE_EPOCH=1700000000").Code, 0);
        const Bytes file = FileBytes(out);
        const std::string *password = v.Password.empty() ? nullptr : &v.Password;
        ASSERT_EQ(mksfx::Verify(out, password, stub, devnull), 0) << "the undamaged file passes";

        // Where the texts and the entries lie, for the accepted flips and
        // for naming a flip that passed.
        size_t block = 0x9800, length = Get16(file, block + 3);
        size_t caption = block + SettingsFixedSize, run = caption + file[block + 7] + file[block + 8] + file[block + 9];
        std::vector<Region> regions = {{0, block, "the stub's image"}, {block, block + length, "the settings block"}};
        std::map<size_t, Bytes> lastDeflated;   // last data byte -> the plain stream
        size_t at = block + length;
        while (Get32(file, at) == LocalHeaderSignature) {
            size_t data = at + LocalHeaderSize + Get16(file, at + 26) + Get16(file, at + 28);
            size_t end = data + Get32(file, at + 18);
            std::string name((const char *)&file[at + LocalHeaderSize], Get16(file, at + 26));
            regions.push_back({at, data, "the local header of " + name});
            regions.push_back({data, end, "the data of " + name});
            if (Get16(file, at + 8) == MethodDeflated) {
                Bytes plain(file.begin() + data, file.begin() + end);
                if (password) {
                    EnsureCrcTable();
                    InitKeys(password->data(), (uint32_t)password->size());
                    DecryptBlock(plain.data(), (int32_t)plain.size());
                    plain.erase(plain.begin(), plain.begin() + EncryptionHeaderSize);
                }
                ASSERT_FALSE(Inflated(plain).empty()) << name;
                lastDeflated[end - 1] = plain;
            }
            at = end;
        }
        regions.push_back({at, file.size(), "the central directory and end record"});
        bool aes = std::find(v.Options.begin(), v.Options.end(), "aes") != v.Options.end();
        ASSERT_EQ(lastDeflated.size(), aes ? 0u : 1u);

        auto accepted = [&](size_t i, uint8_t bit, std::string &why) {
            uint8_t flipped = file[i] ^ bit;
            const std::vector<uint8_t> &flags = i == block + 5 ? v.Flags1 : v.Flags2;
            if ((i == block + 5 || i == block + 6) && std::count(flags.begin(), flags.end(), bit)) {
                why = "another choice of the builder's options";
                return true;
            }
            // A caption that is still code page 949 text without a zero byte
            // is a caption someone could have chosen.
            if (i >= caption && i < caption + file[block + 7]) {
                std::string text((const char *)&file[caption], file[block + 7]), utf8;
                text[i - caption] = (char)flipped;
                why = "a caption that is still a caption";
                return text.find('\0') == std::string::npos && mksfx::Cp949ToUtf8(text, utf8);
            }
            // Windows finds the run file whatever the case of its name.
            if (i >= run && i < run + file[block + 10] && bit == 0x20 && isalpha(file[i]) && isalpha(flipped)) {
                why = "the run file's name in another case";
                return true;
            }
            // The last byte of a deflate stream ends with padding bits
            // that no reader looks at; the traditional encryption flips the
            // plain bit that the encrypted bit stands for, since each byte
            // is XORed with a key stream that only earlier bytes move.
            auto last = lastDeflated.find(i);
            if (last != lastDeflated.end()) {
                Bytes stream = last->second;
                stream.back() ^= bit;
                why = "a padding bit of the last deflate byte";
                return Inflated(stream) == Inflated(last->second);
            }
            return false;
        };

        std::string copy = scratch.Path() + "/flipped.exe";
        scratch.Write("flipped.exe", file);
        int fd = open(copy.c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        // A flip that leaves no entry makes Verify say so on stderr too.
        fflush(stderr);
        int savedStderr = dup(2);
        dup2(fileno(devnull), 2);
        int flips = 0;
        std::map<std::string, int> reasons;
        std::vector<std::string> passed;
        // Inside the image one bit of every 97th byte, a different bit each time.
        std::vector<std::pair<size_t, uint8_t>> all;
        for (size_t i = 0; i < ImageSize; i += 97)
            all.push_back({i, (uint8_t)(1 << i % 8)});
        for (size_t i = ImageSize; i < file.size(); i++)
            for (int b = 0; b < 8; b++)
                all.push_back({i, (uint8_t)(1 << b)});
        for (const auto &flip : all) {
            size_t i = flip.first;
            uint8_t bit = flip.second, flipped = file[i] ^ bit;
            ASSERT_EQ(pwrite(fd, &flipped, 1, (off_t)i), 1);
            int code = mksfx::Verify(copy, password, stub, devnull);
            ASSERT_EQ(pwrite(fd, &file[i], 1, (off_t)i), 1);
            flips++;
            std::string why;
            if (code == 0 && accepted(i, bit, why))
                reasons[why]++;
            else if (code == 0)
                for (const Region &r : regions)
                    if (i >= r.Begin && i < r.End) {
                        char where[96];
                        snprintf(where, sizeof where, "0x%zX bit 0x%02X (%zu bytes into ", i, bit, i - r.Begin);
                        passed.push_back(where + r.Name + ")");
                    }
        }
        fflush(stderr);
        dup2(savedStderr, 2);
        close(savedStderr);
        close(fd);
        EXPECT_TRUE(passed.empty()) << passed.size() << " flips passed --verify, the first " << passed[0];
        printf("%s: %d flips of %zu bytes\n", aes ? "AES" : password ? "encrypted" : "with settings", flips,
               file.size());
        for (const auto &r : reasons)
            printf("  accepted: %4d %s\n", r.second, r.first.c_str());
        // Every byte behind the image, eight times, and the sample inside it.
        EXPECT_EQ(flips, (int)(file.size() - ImageSize) * 8 + (int)((ImageSize + 96) / 97));
    }
    fclose(devnull);
}

// Damage that no single flip makes: the same change in an entry's local
// header and in its central directory record, which then agree again.  The
// rules on the local header alone must catch it.
TEST(VerifyFlips, TheSameDamageInBothCopiesFails)
{
    ScratchFolder scratch;
    mkdir((scratch.Path() + "/in").c_str(), 0755);
    scratch.Write("in/data.bin", std::string("12345678"));
    scratch.Write(u8"in/\ud55c\uae00.txt", std::string("x"));
    std::string out = scratch.Path() + "/out.exe";
    ASSERT_EQ(Mksfx({"-q", "-o", out, scratch.Path() + "/in"}).Code, 0);
    const Bytes file = FileBytes(out);
    Bytes stub(file.begin(), file.begin() + ImageSize);
    // Where each entry's local header and central directory record begin.
    std::map<std::string, std::pair<size_t, size_t>> at;
    for (size_t i = ImageSize; i + CentralHeaderSize < file.size(); i++) {
        uint32_t signature = Get32(file, i);
        if (signature == LocalHeaderSignature)
            at[std::string((const char *)&file[i + LocalHeaderSize], Get16(file, i + 26))].first = i;
        else if (signature == CentralHeaderSignature)
            at[std::string((const char *)&file[i + CentralHeaderSize], Get16(file, i + 28))].second = i;
    }
    const std::string korean = "\xC7\xD1\xB1\xDB.txt";   // as stored, in code page 949
    ASSERT_EQ(at.size(), 2u);
    ASSERT_TRUE(at.count(korean));
    enum Part { Header, Name, Extra };
    struct Case {
        std::string Entry;
        Part Where;
        size_t Offset;      // into the part; a header's field as in the local header
        Bytes With;         // XORed in
        const char *Message;
        bool Walks = true;  // the walk goes on past the entry
    } cases[] = {
        // The names the stub refuses, in place of "data.bin".
        {"data.bin", Name, 0, {'d' ^ '.', 'a' ^ '.', 't' ^ '/', 'a' ^ 'a'}, "refuses to write"},
        {"data.bin", Name, 0, {'d' ^ 'c', 'a' ^ 'o', 't' ^ 'n', 'a' ^ '.'}, "refuses to write"},
        {"data.bin", Name, 1, {'a' ^ ':'}, "refuses to write"},
        // Sizes in a data descriptor, which the stub never reads.
        {"data.bin", Header, 6, {DescriptorFlag}, "data descriptor"},
        {"data.bin", Header, 4, {1}, "version needed"},
        // Written to a pipe: flag bit 3 and a compressed size of 0 (8 before).
        {"data.bin", Header, 6, {DescriptorFlag, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8}, "written to a pipe", false},
        // A stale Unicode Path field, and one that names another file.
        {korean, Extra, 5, {1}, "CRC-32 does not match the stored name"},
        {korean, Extra, 9 + 6, {'t' ^ 'x'}, "is not the stored name's UTF-8"},
    };
    for (const Case &c : cases) {
        Bytes damaged = file;
        size_t local = at[c.Entry].first, central = at[c.Entry].second;
        size_t n = c.Entry.size();
        size_t l = c.Where == Header ? local + c.Offset
                   : c.Where == Name ? local + LocalHeaderSize + c.Offset
                                     : local + LocalHeaderSize + n + c.Offset;
        size_t r = c.Where == Header ? central + c.Offset + 2
                   : c.Where == Name ? central + CentralHeaderSize + c.Offset
                                     : central + CentralHeaderSize + n + c.Offset;
        for (size_t k = 0; k < c.With.size(); k++) {
            damaged[l + k] ^= c.With[k];
            damaged[r + k] ^= c.With[k];
        }
        std::string shown = Report(scratch, damaged, stub);
        EXPECT_NE(shown.find(c.Message), std::string::npos) << shown;
        if (c.Walks)
            EXPECT_EQ(shown.find("FAILED  central directory"), std::string::npos) << "the copies agree\n" << shown;
    }
    // Bytes hidden between the last entry and the directory, its offset
    // moved to match, and bytes behind the end record.
    Bytes hidden = file;
    size_t end = file.size() - EndRecordSize;
    hidden[end + 16] += 4;
    hidden.insert(hidden.begin() + Get32(file, end + 16), {'J', 'U', 'N', 'K'});
    EXPECT_NE(Report(scratch, hidden, stub).find("not where the last entry ends"), std::string::npos);
    Bytes behind = file;
    behind.insert(behind.end(), {'J', 'U', 'N', 'K'});
    EXPECT_NE(Report(scratch, behind, stub).find("the end record's comment (0 bytes) ends at"), std::string::npos);
    // Overwrite bits 0x18 read as "ask", as the 0 the builder writes does:
    // named for what they are, not only as bytes the builder would not write.
    Bytes both = file;
    ASSERT_EQ(both[ImageSize + 5] & OverwriteFlagsMask, 0);
    both[ImageSize + 5] |= OverwriteFlagsMask;
    EXPECT_NE(Report(scratch, both, stub).find("flags 1 holds the overwrite bits 0x18, which the builder writes as 0"),
              std::string::npos);
}

// The image is judged against the stub given: a file made with another
// stub is named by its image's SHA-256, which anyone can compute; without
// a stub to compare with, the image counts as unchecked, not as sound; a
// checksum that is not the file's says the file changed.
TEST(VerifyFlips, TheImageIsJudgedAgainstTheStubGiven)
{
    ScratchFolder scratch;
    scratch.Write("a.txt", std::string("a"));
    std::string out = scratch.Path() + "/out.exe";
    ASSERT_EQ(Mksfx({"-q", "-o", out, scratch.Path() + "/a.txt"}).Code, 0);
    Bytes other = FileBytes(MKSFX_STUB_PATH);
    ASSERT_GE(other.size(), (size_t)ImageSize);
    other.resize(ImageSize);
    other[ImageSize - 1] ^= 1;
    std::string otherStub = scratch.Write("other.exe", other);
    Outcome foreign = Mksfx({"--verify", out, "--stub", otherStub});
    EXPECT_EQ(foreign.Code, 1) << foreign.Output;
    std::string hash = Shell("head -c 38912 " + Quote(out) + " | sha256sum").Output.substr(0, 64);
    EXPECT_NE(foreign.Output.find("1 of its 38912 bytes differ"), std::string::npos) << foreign.Output;
    EXPECT_NE(foreign.Output.find("its SHA-256: " + hash), std::string::npos) << hash << "\n" << foreign.Output;
    EXPECT_EQ(Mksfx({"--verify", out, "--stub", out}).Code, 1) << "not a stub of 38912 bytes";
    // The builder writes the whole file's PE checksum: any later change
    // shows there, named as such.
    Bytes changed = FileBytes(out);
    changed.back() ^= 1;
    Outcome later = Mksfx({"--verify", scratch.Write("changed.exe", changed)});
    EXPECT_NE(later.Output.find("FAILED  stub: its PE checksum"), std::string::npos) << later.Output;
    EXPECT_NE(later.Output.find("the file was changed after it was built"), std::string::npos) << later.Output;
    FILE *devnull = fopen("/dev/null", "w");
    ASSERT_TRUE(devnull);
    EXPECT_EQ(mksfx::Verify(out, nullptr, Bytes(), devnull), 1);
    fclose(devnull);
}

}  // namespace
