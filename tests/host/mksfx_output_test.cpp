// The finished file as a whole: reproducible bytes, the choice between
// stored and deflated, limits checked before anything is written, an
// interrupted or failed build that leaves nothing behind, and a file that
// still extracts after Authenticode signing.
#include <gtest/gtest.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/SfxFormat.h"
#include "mksfx_helpers.h"
#include "support/TempFile.h"

using namespace mksfxtest;

namespace {

class BuilderOutput : public ::testing::Test {
protected:
    void SetUp() override
    {
        in = scratch.Path() + "/in";
        out = scratch.Path() + "/out.exe";
        mkdir(in.c_str(), 0755);
        std::string text;
        for (int i = 0; i < 5000; i++)
            text += "entry " + std::to_string(i) + " deflates\n";
        scratch.Write("in/text.txt", text);
        std::vector<unsigned char> noise(40000);
        uint32_t x = 99;
        for (unsigned char &b : noise)
            b = (unsigned char)((x = x * 1664525 + 1013904223) >> 24);
        scratch.Write("in/noise.bin", noise);
        scratch.Write("in/tiny.txt", std::string("ab"));
    }
    // Method and packed size of each entry, from Python's zipfile.
    std::string Methods(const std::string &file)
    {
        return Shell("python3 -c \"import zipfile,sys\nfor i in zipfile.ZipFile(sys.argv[1]).infolist(): "
                     "print(i.filename, i.compress_type, int(i.compress_size < i.file_size))\" " +
                     Quote(file))
            .Output;
    }
    std::vector<std::string> Leftovers()
    {
        glob_t g;
        std::vector<std::string> found;
        if (glob((scratch.Path() + "/*.tmp").c_str(), 0, nullptr, &g) == 0)
            found.assign(g.gl_pathv, g.gl_pathv + g.gl_pathc);
        globfree(&g);
        return found;
    }
    ScratchFolder scratch;
    std::string in, out;
};

TEST_F(BuilderOutput, SameInputsGiveTheSameBytes)
{
    const std::string epoch = "SOURCE_DATE_EPOCH=1700000000";
    std::string a = scratch.Path() + "/a.exe", b = scratch.Path() + "/b.exe", c = scratch.Path() + "/c.exe";
    ASSERT_EQ(Mksfx({"-q", "-o", a, "--password", "pw", "--seed", "7", in}, epoch).Code, 0);
    // Touched files, another day: the epoch stands for every time.
    ASSERT_EQ(Shell("touch -d 2001-02-03 " + Quote(in) + "/*").Code, 0);
    ASSERT_EQ(Mksfx({"-q", "-o", b, "--password", "pw", "--seed", "7", in}, epoch).Code, 0);
    EXPECT_EQ(FileBytes(a), FileBytes(b));
    ASSERT_EQ(Mksfx({"-q", "-o", c, "--password", "pw", "--seed", "8", in}, epoch).Code, 0);
    EXPECT_NE(FileBytes(a), FileBytes(c)) << "the seed picks the encryption headers";
    // 2023-11-14 22:13:20 UTC in MS-DOS form, in every local header.
    Outcome times = Shell("python3 -c \"import zipfile,sys\nprint(set(i.date_time for i in "
                          "zipfile.ZipFile(sys.argv[1]).infolist()))\" " + Quote(a));
    EXPECT_EQ(times.Output, "{(2023, 11, 14, 22, 13, 20)}\n");
    // Without the epoch, the file's own time (2001-02-03, local time).
    ASSERT_EQ(Mksfx({"-q", "-o", c, in}, "TZ=UTC").Code, 0);
    times = Shell("python3 -c \"import zipfile,sys\nprint(set(i.date_time for i in "
                  "zipfile.ZipFile(sys.argv[1]).infolist()))\" " + Quote(c));
    EXPECT_EQ(times.Output, "{(2001, 2, 3, 0, 0, 0)}\n");
    EXPECT_EQ(Mksfx({"-q", "-o", c, in}, "SOURCE_DATE_EPOCH=soon").Code, 2);
    // Outside the MS-DOS range the nearest end is stored, and said.
    Outcome early = Mksfx({"-o", c, in}, "SOURCE_DATE_EPOCH=0");
    EXPECT_EQ(early.Code, 0) << early.Output;
    EXPECT_NE(early.Output.find("every entry gets 1980-01-01 00:00:00"), std::string::npos) << early.Output;
    Outcome late = Mksfx({"-o", c, in}, "SOURCE_DATE_EPOCH=5000000000");
    EXPECT_NE(late.Output.find("every entry gets 2107-12-31 23:59:58"), std::string::npos) << late.Output;
}

TEST_F(BuilderOutput, AnyNumberOfThreadsGivesTheSameBytes)
{
    // Entries are made side by side and written in order; the encryption
    // headers follow the entry order.  An entry larger than the workers
    // hold (32 MiB) is made by the writer itself, between entries made ahead.
    std::string big = scratch.Path() + "/big";
    mkdir(big.c_str(), 0755);
    std::string lines;
    for (uint32_t i = 0; i < 3000000; i++)
        lines += std::to_string(i * 7919u % 100003) + " lines\n";
    scratch.Write("big/a.txt", std::string("before the large one"));
    scratch.Write("big/b.txt", lines);
    scratch.Write("big/c.txt", lines.substr(0, 100000));
    scratch.Write("big/d.bin", FileBytes(in + "/noise.bin"));
    std::string zip = scratch.Path() + "/in.zip";
    ASSERT_EQ(Shell("cd " + Quote(in) + " && zip -q -1 -X ../in.zip *").Code, 0);
    const std::vector<std::vector<std::string>> cases = {
        {"-1", big},
        {"-1", "--password", "pw", "--seed", "3", big},
        {in},
        {"--password", "pw", "--seed", "4", in},
#ifdef MKSFX_LIBDEFLATE
        {"--level", "12", "--password", "pw", "--seed", "5", in},
#endif
        {"--zip", zip},                            // copied
        {"--zip", zip, "--password", "pw", "--seed", "6"},
        {"--zip", zip, "-9"},                      // deflated again
    };
    for (const std::vector<std::string> &options : cases) {
        std::vector<std::vector<unsigned char>> made;
        for (const char *jobs : {"1", "2", "5"}) {
            std::vector<std::string> args = {"-q", "-j", jobs, "-o", out};
            args.insert(args.end(), options.begin(), options.end());
            Outcome r = Mksfx(args, "SOURCE_DATE_EPOCH=1700000000");
            ASSERT_EQ(r.Code, 0) << r.Output;
            made.push_back(FileBytes(out));
        }
        EXPECT_GT(made[0].size(), 0x9800u);
        EXPECT_TRUE(made[0] == made[1] && made[0] == made[2]) << options[0] << " " << options.back();
    }
}

TEST_F(BuilderOutput, StoredWhenDeflateDoesNotShrink)
{
    ASSERT_EQ(Mksfx({"-q", "-o", out, in}).Code, 0);
    EXPECT_EQ(Methods(out), "noise.bin 0 0\ntext.txt 8 1\ntiny.txt 0 0\n");
    ASSERT_EQ(Mksfx({"-q", "-o", out, "-0", in}).Code, 0);
    EXPECT_EQ(Methods(out), "noise.bin 0 0\ntext.txt 0 0\ntiny.txt 0 0\n");
    // Encrypted, the fallback starts again from the same keys.
    ASSERT_EQ(Mksfx({"-q", "-o", out, "--level", "1", "--password", "x", in}).Code, 0);
    EXPECT_EQ(Mksfx({"--verify", out, "--password", "x"}).Code, 0);
}

TEST_F(BuilderOutput, VerifyCatchesWhatTheStubWouldFailOn)
{
    ASSERT_EQ(Mksfx({"-q", "-o", out, "--password", "right", in}).Code, 0);
    Outcome none = Mksfx({"--verify", out});
    EXPECT_EQ(none.Code, 1);
    EXPECT_NE(none.Output.find("encrypted, and no password was given"), std::string::npos) << none.Output;
    Outcome wrong = Mksfx({"--verify", out, "--password", "wrong"});
    EXPECT_EQ(wrong.Code, 1) << wrong.Output;

    ASSERT_EQ(Mksfx({"-q", "-o", out, in}).Code, 0);
    Outcome needless = Mksfx({"--verify", out, "--password", "right"});
    EXPECT_EQ(needless.Code, 1);
    EXPECT_NE(needless.Output.find("no entry is encrypted"), std::string::npos) << needless.Output;

    // One flipped byte in the deflated data: a CRC failure, named.
    std::vector<unsigned char> bytes = FileBytes(out);
    std::string info = Mksfx({"--info", out}).Output;
    EXPECT_NE(info.find("deflated"), std::string::npos) << info;
    EXPECT_NE(info.find("switches: /S /D=FOLDER"), std::string::npos) << info;
    size_t at = std::string(bytes.begin(), bytes.end()).find("text.txt") + 8 + 100;
    bytes[at] ^= 0x10;
    std::string broken = scratch.Write("broken.exe", bytes);
    Outcome bad = Mksfx({"--verify", broken});
    EXPECT_EQ(bad.Code, 1);
    EXPECT_NE(bad.Output.find("FAILED  text.txt"), std::string::npos) << bad.Output;

    // The old by-hand recipe: zip stores the UTF-8 bytes of a Korean name.
    // Marked with flag bit 11 (zip in a UTF-8 locale) the stub reads them;
    // unmarked (older tools, other locales) it would show and create them
    // as code page 949 garbage.  Either way the file is not what the builder
    // writes (Unix attributes, zip's own extra fields), which fails too.
    std::string recipe = scratch.Path() + "/recipe";
    mkdir(recipe.c_str(), 0755);
    scratch.Write(u8"recipe/\ud55c\uae00.txt", std::string("x"));
    ASSERT_EQ(Shell("cd " + Quote(recipe) + " && zip -qr ../payload.zip . && cd .. && head -c " +
                    std::to_string(ImageSize) + " " + Quote(out) +
                    " > recipe.exe && cat payload.zip >> recipe.exe && zip -qA recipe.exe").Code, 0);
    std::string recipeExe = scratch.Path() + "/recipe.exe";
    // Flag bit 11 of the entry's local and central headers set or cleared,
    // whatever the zip at hand did.
    auto mark = [&](bool utf8) {
        return Shell(std::string("python3 -c \"import sys; p = sys.argv[1]; d = bytearray(open(p, 'rb').read())\n"
                                 "for sig, at in ((b'PK\\x03\\x04', 7), (b'PK\\x01\\x02', 9)):\n"
                                 "    i = d.find(sig, " + std::to_string(ImageSize) + ") + at; d[i] = ") +
                     (utf8 ? "d[i] | 8" : "d[i] & 0xF7") + "\nopen(p, 'wb').write(d)\" " + Quote(recipeExe)).Code;
    };
    ASSERT_EQ(mark(true), 0);
    bad = Mksfx({"--verify", recipeExe});
    EXPECT_EQ(bad.Code, 1);
    EXPECT_EQ(bad.Output.find("not in code page 949"), std::string::npos) << bad.Output;
    EXPECT_NE(bad.Output.find("version made by"), std::string::npos) << bad.Output;
    ASSERT_EQ(mark(false), 0);
    bad = Mksfx({"--verify", recipeExe});
    EXPECT_EQ(bad.Code, 1);
    EXPECT_NE(bad.Output.find("not in code page 949"), std::string::npos) << bad.Output;

    // A ZIP appended without moving its offsets: the stub walks it, other
    // readers would have to guess.
    ASSERT_EQ(Shell("cd " + Quote(in) + " && zip -q ../plain.zip text.txt").Code, 0);
    ASSERT_EQ(Shell("head -c " + std::to_string(ImageSize) + " " + Quote(out) + " > " + Quote(broken) + " && cat " +
                    Quote(scratch.Path() + "/plain.zip") + " >> " + Quote(broken)).Code, 0);
    bad = Mksfx({"--verify", broken});
    EXPECT_EQ(bad.Code, 1);
    EXPECT_NE(bad.Output.find("do not count from the start of the file"), std::string::npos) << bad.Output;
    EXPECT_NE(Mksfx({"--info", broken}).Output.find("settings block: none"), std::string::npos);
}

// --info lists what the walk finds; a file cut short anywhere, in an entry
// or only in its central directory, is not a whole archive and fails.
TEST_F(BuilderOutput, InfoOfACutFileSaysSo)
{
    ASSERT_EQ(Mksfx({"-q", "-o", out, in}).Code, 0);
    std::vector<unsigned char> bytes = FileBytes(out);
    EXPECT_EQ(Mksfx({"--info", out}).Code, 0);
    size_t second = std::string(bytes.begin(), bytes.end()).find("text.txt") - LocalHeaderSize;
    std::string cut = scratch.Path() + "/cut.exe";
    for (size_t keep : {bytes.size() - 1, bytes.size() - EndRecordSize, bytes.size() - EndRecordSize - 10, second + 20}) {
        SCOPED_TRACE(keep);
        scratch.Write("cut.exe", std::vector<unsigned char>(bytes.begin(), bytes.begin() + (long)keep));
        Outcome info = Mksfx({"--info", cut});
        EXPECT_EQ(info.Code, 1) << info.Output;
        EXPECT_NE(info.Output.find("is not whole"), std::string::npos) << info.Output;
        Outcome verify = Mksfx({"--verify", cut});
        EXPECT_EQ(verify.Code, 1) << verify.Output;
    }
}

TEST_F(BuilderOutput, LimitsAreCheckedBeforeWriting)
{
    // A sparse 2 GiB file costs nothing to make and is refused unread.
    std::string big = scratch.Path() + "/big/huge.bin";
    mkdir((scratch.Path() + "/big").c_str(), 0755);
    ASSERT_EQ(truncate(scratch.Write("big/huge.bin", std::string()).c_str(), 0x80000000LL), 0);
    Outcome r = Mksfx({"-o", out, scratch.Path() + "/big"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Output.find("2 GiB"), std::string::npos) << r.Output;
    EXPECT_TRUE(FileBytes(out).empty());
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(BuilderOutput, AFailedBuildLeavesTheOldOutputAlone)
{
    std::string old = "the previous build";
    scratch.Write("out.exe", old);
    // A ZIP whose stored entry was damaged after it was made: found out
    // while the new file is being written.
    ASSERT_EQ(Shell("cd " + Quote(in) + " && zip -q -X -0 ../damaged.zip text.txt").Code, 0);
    std::vector<unsigned char> zip = FileBytes(scratch.Path() + "/damaged.zip");
    zip[LocalHeaderSize + std::string("text.txt").size() + 10] ^= 1;   // a byte of the data
    std::string damaged = scratch.Write("damaged.zip", zip);
    Outcome r = Mksfx({"-o", out, "--zip", damaged, in + "/noise.bin"});
    EXPECT_EQ(r.Code, 1);
    EXPECT_NE(r.Output.find("\"text.txt\" is damaged"), std::string::npos) << r.Output;
    std::vector<unsigned char> now = FileBytes(out);
    EXPECT_TRUE(std::string(now.begin(), now.end()) == old) << "the old output was replaced";
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(BuilderOutput, OnlyARegularFileIsReplaced)
{
    // The rename would put a regular file where a pipe, a device or a
    // folder was (as root, in place of /dev/null).
    std::string fifo = scratch.Path() + "/fifo", folder = scratch.Path() + "/folder",
                device = scratch.Path() + "/null";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    mkdir(folder.c_str(), 0755);
    ASSERT_EQ(symlink("/dev/null", device.c_str()), 0);
    for (const std::string &target : {fifo, folder, device}) {
        Outcome r = Mksfx({"-o", target, in});
        EXPECT_EQ(r.Code, 1) << target;
        EXPECT_NE(r.Output.find("is not a regular file"), std::string::npos) << r.Output;
    }
    struct stat st;
    EXPECT_TRUE(stat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    EXPECT_TRUE(lstat(device.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(BuilderOutput, AnInterruptedBuildLeavesNothing)
{
    std::string old = "the previous build";
    scratch.Write("out.exe", old);
    ASSERT_EQ(Shell("head -c 48000000 /dev/urandom > " + Quote(in + "/random.bin")).Code, 0);
    // Started in the background and stopped once its temporary file exists.
    std::string script = "M=" + Quote(MKSFX_PATH) + "; cd " + Quote(scratch.Path()) +
                         "; $M -o out.exe -9 in & pid=$!; "
                         "for i in $(seq 2000); do ls *.tmp >/dev/null 2>&1 && break; sleep 0.005; done; "
                         "ls *.tmp >/dev/null 2>&1 || echo 'no temporary file seen'; "
                         "kill -TERM $pid; wait $pid; echo exit=$?";
    Outcome r = Shell("bash -c " + Quote(script));
    EXPECT_NE(r.Output.find("exit=143"), std::string::npos) << r.Output;
    EXPECT_EQ(r.Output.find("no temporary file seen"), std::string::npos) << r.Output;
    EXPECT_EQ(r.Output.find('%'), std::string::npos) << "no progress when not on a terminal";
    std::vector<unsigned char> now = FileBytes(out);
    EXPECT_TRUE(std::string(now.begin(), now.end()) == old) << "the old output was replaced";
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(BuilderOutput, ProgressOnlyOnATerminal)
{
    // 40 MB of zeros from a sparse file: large enough for progress, and
    // quick to read and deflate.
    ASSERT_EQ(truncate(scratch.Write("in/zeros.bin", std::string()).c_str(), 40000000), 0);
    Outcome quiet = Mksfx({"-o", out, "-1", "--temp-folder", in});
    EXPECT_EQ(quiet.Code, 0);
    EXPECT_EQ(quiet.Output.find('%'), std::string::npos) << quiet.Output;
    EXPECT_EQ(std::count(quiet.Output.begin(), quiet.Output.end(), '\n'), 1) << "the summary alone";
    // `script` gives the builder a terminal.
    Outcome shown = Shell("script -qec " + Quote(Quote(MKSFX_PATH) + " -o " + Quote(out) + " -1 " + Quote(in)) +
                          " /dev/null");
    EXPECT_EQ(shown.Code, 0) << shown.Output;
    EXPECT_NE(shown.Output.find("100% of 38 MiB"), std::string::npos) << shown.Output;
}

TEST_F(BuilderOutput, SignedFileStillExtracts)
{
    ASSERT_EQ(Mksfx({"-q", "-o", out, "--caption", "Signed!", in}).Code, 0);
    std::string p = Quote(scratch.Path());
    // Unsigned, the file already carries its own checksum, so the signer
    // finds nothing to warn about (it shows a calculated one beside a
    // wrong one).  osslsigncode leaves out the last byte of a file of odd
    // length, where Windows counts it; this one's length is even.
    ASSERT_EQ(FileBytes(out).size() % 2, 0u);
    Outcome unsignedFile = Shell("osslsigncode verify " + Quote(out));
    EXPECT_NE(unsignedFile.Output.find("PE checksum"), std::string::npos) << unsignedFile.Output;
    EXPECT_EQ(unsignedFile.Output.find("Calculated PE checksum"), std::string::npos) << unsignedFile.Output;
    Outcome key = Shell("cd " + p + " && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem "
                        "-out cert.pem -days 2 -subj /CN=mksfx-test");
    ASSERT_EQ(key.Code, 0) << key.Output;
    Outcome sign = Shell("cd " + p + " && osslsigncode sign -certs cert.pem -key key.pem -n Test "
                         "-in out.exe -out signed.exe");
    ASSERT_EQ(sign.Code, 0) << sign.Output;
    std::string signedFile = scratch.Path() + "/signed.exe";
    std::vector<unsigned char> before = FileBytes(out), after = FileBytes(signedFile);
    ASSERT_GT(after.size(), before.size());
    // The signature is appended behind the ZIP's end record, and the image
    // header changes; the block and archive stay where the stub reads them.
    EXPECT_TRUE(std::equal(before.begin() + ImageSize, before.end(), after.begin() + ImageSize));
    Outcome verify = Mksfx({"--verify", signedFile});
    EXPECT_EQ(verify.Code, 0) << verify.Output;
    EXPECT_NE(Mksfx({"--info", signedFile}).Output.find("caption: Signed!"), std::string::npos);
    EXPECT_EQ(Shell("unzip -tqq " + Quote(signedFile)).Code, 0);
    EXPECT_EQ(Shell("7z t -bd " + Quote(signedFile)).Code, 0);
    EXPECT_EQ(Shell("python3 -c \"import zipfile,sys; assert zipfile.ZipFile(sys.argv[1]).testzip() is None\" " +
                    Quote(signedFile)).Code, 0);
}

}  // namespace
