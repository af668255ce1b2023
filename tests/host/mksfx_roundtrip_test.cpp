// Round trips through the builder: from folders and from the ZIPs of real
// peers (Info-ZIP zip, 7-Zip, Python's zipfile, jar) to a self-extracting
// file that unzip, 7-Zip, Python and the stub's own walk (--verify) all
// read back byte for byte, with and without a password; and the input
// ZIPs the builder must refuse.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "mksfx_helpers.h"
#include "support/TempFile.h"

using namespace mksfxtest;

namespace {

// Compares every file under a folder with the entries of a ZIP, through
// Python's zipfile, and checks what the stub relies on: every local header
// carries the CRC-32 and sizes of the central directory, flag bit 3 clear,
// methods 0 and 8 only, offsets counted from the start of the file.
const char CheckScript[] = R"PY(
import os, struct, sys, zipfile
path, folder = sys.argv[1], sys.argv[2]
password = sys.argv[3].encode('cp949') if len(sys.argv) > 3 else None
z = zipfile.ZipFile(path)
if password:
    z.setpassword(password)
raw = open(path, 'rb').read()
names = {}
for info in z.infolist():
    sig, ver, flags, method, t, d, crc, csize, usize, nlen, xlen = struct.unpack_from('<IHHHHHIIIHH', raw, info.header_offset)
    assert sig == 0x04034B50, info.filename
    assert flags & 8 == 0, 'data descriptor flag on ' + info.filename
    assert method in (0, 8), info.filename
    assert (crc, csize, usize) == (info.CRC, info.compress_size, info.file_size), info.filename
    assert bool(flags & 1) == bool(password), 'encryption of ' + info.filename
    name = raw[info.header_offset + 30:info.header_offset + 30 + nlen].decode('cp949')
    names[name] = z.read(info)
expected = {}
for root, dirs, files in os.walk(folder):
    for f in files:
        full = os.path.join(root, f)
        expected[os.path.relpath(full, folder)] = open(full, 'rb').read()
missing = set(expected) - set(names)
assert not missing, 'missing: %r' % missing
for name, data in expected.items():
    assert names[name] == data, 'content of ' + name
print('checked', len(expected))
)PY";

class BuilderRoundTrip : public ::testing::Test {
protected:
    void SetUp() override
    {
        source = scratch.Path() + "/source";
        Folder("source");
        Folder("source/docs");
        Folder("source/docs/deep");
        Folder(u8"source/\ud55c\uae00 \ud3f4\ub354");
        scratch.Write("source/readme.txt", std::string("hello, world\r\n"));
        scratch.Write("source/empty.dat", std::string());
        std::string text;
        for (int i = 0; i < 20000; i++)
            text += "line " + std::to_string(i) + " of a text that deflates well\n";
        scratch.Write("source/docs/deep/long.txt", text);
        std::vector<unsigned char> noise(150000);
        uint32_t x = 12345;
        for (unsigned char &b : noise)
            b = (unsigned char)((x = x * 1103515245 + 12345) >> 23);
        scratch.Write("source/docs/noise.bin", noise);
        scratch.Write(u8"source/\ud55c\uae00 \ud3f4\ub354/\ubb38\uc11c.txt", std::string(u8"\ud55c\uae00"));
        script = scratch.Write("check.py", std::string(CheckScript));
    }
    void Folder(const std::string &name) { mkdir((scratch.Path() + "/" + name).c_str(), 0755); }

    // Every reader in turn; the password (UTF-8) when the file is encrypted.
    // Python's zipfile and Info-ZIP unzip cannot read AES entries (the
    // builder's default): libarchive extracts those, and the files are
    // compared with the source.  7-Zip reads both, with an ASCII password.
    enum Scheme { ZipCrypto, Aes };
    void ExpectReadersAgree(const std::string &file, const std::string &password = "", Scheme scheme = ZipCrypto)
    {
        std::string pw = password.empty() ? "" : " " + Quote(password);
        if (scheme == ZipCrypto || password.empty()) {
            Outcome python = Shell("python3 " + Quote(script) + " " + Quote(file) + " " + Quote(source) + pw);
            EXPECT_EQ(python.Code, 0) << python.Output;
            Outcome unzip = Shell("unzip -tqq " + (password.empty() ? "" : "-P " + Quote(Cp949(password)) + " ") +
                                  Quote(file));
            EXPECT_EQ(unzip.Code, 0) << unzip.Output;
        } else {
            std::string into = file + ".bsdtar";
            Outcome bsdtar = Shell("rm -rf " + Quote(into) + " && mkdir " + Quote(into) + " && bsdtar -xf " +
                                   Quote(file) + " --passphrase " + Quote(Cp949(password)) + " -C " + Quote(into) +
                                   " && diff -r -x META-INF " + Quote(source) + " " + Quote(into));
            EXPECT_EQ(bsdtar.Code, 0) << bsdtar.Output;
        }
        bool ascii = std::all_of(password.begin(), password.end(), [](char c) { return (unsigned char)c < 0x80; });
        if (ascii) {
            Outcome sevenZip = Shell("7z t -bd " + (password.empty() ? "" : "-p" + Quote(password) + " ") + Quote(file));
            EXPECT_EQ(sevenZip.Code, 0) << sevenZip.Output;
        }
        std::vector<std::string> verify = {"--verify", file};
        Outcome stub = Mksfx(verify, password.empty() ? "" : "MKSFX_PASSWORD=" + Quote(password));
        EXPECT_EQ(stub.Code, 0) << stub.Output;
        EXPECT_NE(stub.Output.find(" 0 failed"), std::string::npos) << stub.Output;
    }
    static std::string Cp949(const std::string &utf8)
    {
        return Shell("printf %s " + Quote(utf8) + " | iconv -t CP949").Output;
    }
    std::string Build(const std::vector<std::string> &inputs, const std::string &name,
                      const std::vector<std::string> &extra = {})
    {
        std::string out = scratch.Path() + "/" + name;
        std::vector<std::string> args = {"-q", "-o", out};
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), inputs.begin(), inputs.end());
        Outcome r = Mksfx(args);
        EXPECT_EQ(r.Code, 0) << r.Output;
        return out;
    }

    ScratchFolder scratch;
    std::string source, script;
};

TEST_F(BuilderRoundTrip, FromAFolder)
{
    ExpectReadersAgree(Build({source}, "plain.exe"));
    ExpectReadersAgree(Build({source}, "stored.exe", {"-0"}));
}

TEST_F(BuilderRoundTrip, FromAFolderWithAPassword)
{
    ExpectReadersAgree(Build({source}, "secret.exe", {"--password", "open sesame", "--encryption", "aes"}), "open sesame", Aes);
    ExpectReadersAgree(Build({source}, "zipcrypto.exe", {"--password", "open sesame", "--encryption", "zipcrypto"}),
                       "open sesame");
    // Without --encryption: the scheme this build's stub opens.
    std::string chosen = Build({source}, "default.exe", {"--password", "open sesame"});
    bool aes = Mksfx({"--version"}).Output.find("AES-256 by default") != std::string::npos;
    EXPECT_EQ(Mksfx({"--info", chosen}).Output.find("AES-256, AE-2") != std::string::npos, aes);
    // A Korean password, as typed into the stub's prompt in code page 949,
    // for either scheme.
    std::string korean = u8"\ube44\ubc00\ubc88\ud638";
    std::string file = scratch.Write("pw.txt", korean + "\n");
    std::string out = Build({source}, "korean.exe", {"--password-file", file, "--encryption", "zipcrypto"});
    Outcome python = Shell("python3 " + Quote(script) + " " + Quote(out) + " " + Quote(source) + " " + Quote(korean));
    EXPECT_EQ(python.Code, 0) << python.Output;
    EXPECT_EQ(Mksfx({"--verify", out}, "MKSFX_PASSWORD=" + Quote(korean)).Code, 0);
    ExpectReadersAgree(Build({source}, "korean-aes.exe", {"--password-file", file, "--encryption", "aes"}), korean, Aes);
}

TEST_F(BuilderRoundTrip, FromPeerZips)
{
    // Each command runs in the source folder and writes OUT, which comes
    // between the two halves as a quoted path: nothing is searched for in
    // the text, so no folder name can be mistaken for a place to fill in.
    // The peers write into a folder whose name holds quotes' and shells'
    // troubles.
    std::string out = scratch.Path() + "/P/ S && P'";
    ASSERT_EQ(Shell("mkdir -p " + Quote(out)).Code, 0);
    struct Peer {
        const char *name, *before, *after;
    } peers[] = {
        {"infozip.zip", "zip -qr ", " ."},
        // Written to a pipe, zip puts CRC and sizes into data descriptors.
        {"streamed.zip", "zip -qr - . | cat > ", ""},
        {"7zip.zip", "7z a -bd -tzip ", " . >/dev/null"},
        // Python writes to a pipe with data descriptors and UTF-8 flags.
        {"python.zip", "python3 -c \"import os,zipfile,sys\n"
                       "w=zipfile.ZipFile(sys.stdout.buffer,'w',zipfile.ZIP_DEFLATED)\n"
                       "[w.write(os.path.join(r,f),os.path.relpath(os.path.join(r,f),'.')) for r,d,fs in os.walk('.') for f in fs]\n"
                       "w.close()\" | cat > ", ""},
        {"java.jar", "jar cf ", " ."},
    };
    for (const Peer &peer : peers) {
        std::string zip = out + "/" + peer.name;
        Outcome made = Shell("cd " + Quote(source) + " && " + peer.before + Quote(zip) + peer.after);
        ASSERT_EQ(made.Code, 0) << peer.name << ": " << made.Output;
        SCOPED_TRACE(peer.name);
        ExpectReadersAgree(Build({}, std::string(peer.name) + ".exe", {"--zip", zip}));
        ExpectReadersAgree(Build({}, std::string(peer.name) + "-pw.exe", {"--zip", zip, "--password", "pw", "--encryption", "aes"}), "pw", Aes);
    }
}

// The deflated data of each entry of two ZIPs: "same" when every entry
// the first deflates smaller than its size carries the same bytes in the
// second (decrypted with the password when it is encrypted), else the names
// of those that differ.
const char SameDataScript[] = R"PY(
import struct, sys, zipfile
def data(path):
    raw = open(path, 'rb').read()
    out = {}
    for i in zipfile.ZipFile(path).infolist():
        n, x = struct.unpack_from('<HH', raw, i.header_offset + 26)
        start = i.header_offset + 30 + n + x
        data = raw[start:start + i.compress_size]
        if i.flag_bits & 1:
            data = zipfile._ZipDecrypter(sys.argv[3].encode())(data)[12:]
        out[i.filename] = (i.compress_type, i.compress_size < i.file_size, data)
    return out
a, b = data(sys.argv[1]), data(sys.argv[2])
differ = [k for k, v in a.items() if v[0] == 8 and v[1] and b[k][2] != v[2]]
print('same' if not differ else ' '.join(sorted(differ)))
)PY";

TEST_F(BuilderRoundTrip, DeflatedEntriesAreCopiedUnlessALevelIsGiven)
{
    // zip -1 deflates otherwise than zlib -9: a copy keeps its bytes.
    std::string zip = scratch.Path() + "/fast.zip", same = scratch.Write("same.py", std::string(SameDataScript));
    ASSERT_EQ(Shell("cd " + Quote(source) + " && zip -q -1 -r ../fast.zip .").Code, 0);
    auto compare = [&](const std::string &file) {
        return Shell("python3 " + Quote(same) + " " + Quote(zip) + " " + Quote(file)).Output;
    };
    std::string copied = Build({}, "copied.exe", {"--zip", zip});
    ExpectReadersAgree(copied);
    EXPECT_EQ(compare(copied), "same\n");
    // Encrypted afresh: the same deflated bytes behind a new header.
    std::string encrypted = Build({}, "encrypted.exe", {"--zip", zip, "--password", "pw", "--encryption", "zipcrypto"});
    ExpectReadersAgree(encrypted, "pw");
    EXPECT_EQ(Shell("python3 " + Quote(same) + " " + Quote(zip) + " " + Quote(encrypted) + " pw").Output, "same\n");
    // A level asks for deflating again, at that level.
    std::string again = Build({}, "again.exe", {"--zip", zip, "-9"});
    ExpectReadersAgree(again);
    EXPECT_EQ(compare(again), "docs/deep/long.txt\n");
    EXPECT_LT(FileBytes(again).size(), FileBytes(copied).size());
}

TEST_F(BuilderRoundTrip, EncryptedPeerZipNeedsItsPassword)
{
    ASSERT_EQ(Shell("cd " + Quote(source) + " && zip -qr -P secret ../enc.zip .").Code, 0);
    std::string zip = scratch.Path() + "/enc.zip", out = scratch.Path() + "/enc.exe";
    Outcome none = Mksfx({"-o", out, "--zip", zip});
    EXPECT_EQ(none.Code, 1);
    EXPECT_NE(none.Output.find("is encrypted: give its password"), std::string::npos) << none.Output;
    Outcome wrong = Mksfx({"-o", out, "--zip", zip, "--password", "guess"});
    EXPECT_EQ(wrong.Code, 1);
    EXPECT_NE(wrong.Output.find("the password does not open it"), std::string::npos) << wrong.Output;
    ExpectReadersAgree(Build({}, "enc.exe", {"--zip", zip, "--password", "secret", "--encryption", "aes"}), "secret", Aes);
}

// AES entries of 7-Zip and libarchive (libarchive's with data descriptors)
// need their password too, and are written again as the options ask: AES
// by default, the traditional scheme when asked.  One changed byte of an
// entry's data, salt, verifier or code is refused naming the entry.
TEST_F(BuilderRoundTrip, AesPeerZipsAreReadWithTheirPassword)
{
    struct Peer {
        const char *name, *command;
    } peers[] = {
        {"7zip-aes.zip", "7zz a -bd -tzip -mem=AES256 -psecret "},
        {"bsdtar-aes.zip", "bsdtar --format zip --options zip:encryption=aes256 --passphrase secret -cf "},
    };
    for (const Peer &peer : peers) {
        SCOPED_TRACE(peer.name);
        std::string zip = scratch.Path() + "/" + peer.name, out = scratch.Path() + "/aes.exe";
        Outcome made = Shell("cd " + Quote(source) + " && " + peer.command + Quote(zip) + " . >/dev/null");
        ASSERT_EQ(made.Code, 0) << made.Output;
        Outcome none = Mksfx({"-o", out, "--zip", zip});
        EXPECT_EQ(none.Code, 1);
        EXPECT_NE(none.Output.find("is encrypted: give its password"), std::string::npos) << none.Output;
        Outcome wrong = Mksfx({"-o", out, "--zip", zip, "--password", "guess"});
        EXPECT_EQ(wrong.Code, 1);
        EXPECT_NE(wrong.Output.find("the password does not open it"), std::string::npos) << wrong.Output;
        ExpectReadersAgree(Build({}, "aes.exe", {"--zip", zip, "--password", "secret", "--encryption", "aes"}), "secret", Aes);
        ExpectReadersAgree(Build({}, "zc.exe", {"--zip", zip, "--password", "secret", "--encryption", "zipcrypto"}),
                           "secret");
        // The long text's entry, changed in its salt, verifier, data and
        // code; Python's zipfile finds it (libarchive's sizes are in the
        // central directory only).
        std::vector<unsigned char> raw = FileBytes(zip);
        Outcome where = Shell("python3 -c \"import sys,zipfile\n"
                              "i=[i for i in zipfile.ZipFile(sys.argv[1]).infolist() if i.filename.endswith('long.txt')][0]\n"
                              "print(i.header_offset, i.compress_size)\" " + Quote(zip));
        ASSERT_EQ(where.Code, 0) << where.Output;
        size_t header = 0, packed = 0;
        ASSERT_EQ(sscanf(where.Output.c_str(), "%zu %zu", &header, &packed), 2) << where.Output;
        size_t data = header + 30 + Get16(raw, header + 26) + Get16(raw, header + 28);
        ASSERT_GT(packed, 28u);
        std::string name = "docs/deep/long.txt";
        for (size_t spot : {data, data + 16, data + 18, data + packed - 11, data + packed - 1}) {
            std::vector<unsigned char> changed = raw;
            changed[spot] ^= 0x20;
            std::string bad = scratch.Write("bad.zip", changed);
            Outcome refused = Mksfx({"-o", out, "--zip", bad, "--password", "secret"});
            EXPECT_EQ(refused.Code, 1) << spot - data;
            EXPECT_NE(refused.Output.find(name), std::string::npos) << refused.Output;
        }
    }
}

TEST_F(BuilderRoundTrip, RefusedPeerZipsNameTheEntry)
{
    std::string maker = scratch.Write("make.py", std::string(R"PY(
import sys, zipfile
d = sys.argv[1]
with zipfile.ZipFile(d + '/zip64.zip', 'w') as z:
    with z.open('big.txt', 'w', force_zip64=True) as f:
        f.write(b'x')
with zipfile.ZipFile(d + '/bzip2.zip', 'w', zipfile.ZIP_BZIP2) as z:
    z.writestr('packed.txt', 'hello' * 100)
with zipfile.ZipFile(d + '/lzma.zip', 'w', zipfile.ZIP_LZMA) as z:
    z.writestr('squeezed.txt', 'hello' * 100)
with zipfile.ZipFile(d + '/dotdot.zip', 'w') as z:
    z.writestr('ok.txt', 'x')
    z.writestr('sub/../../evil.txt', 'x')
with zipfile.ZipFile(d + '/absolute.zip', 'w') as z:
    z.writestr(zipfile.ZipInfo('/etc/evil'), 'x')
with zipfile.ZipFile(d + '/drive.zip', 'w') as z:
    z.writestr(zipfile.ZipInfo('C:/evil.txt'), 'x')
with zipfile.ZipFile(d + '/device.zip', 'w') as z:
    z.writestr(zipfile.ZipInfo('docs/con.txt'), 'x')
with zipfile.ZipFile(d + '/folders.zip', 'w') as z:
    z.writestr('empty/', '')
    z.writestr('full/', '')
    z.writestr('full/x.txt', 'x')
with zipfile.ZipFile(d + '/twice.zip', 'w') as z:
    z.writestr('Read.me', 'x')
    z.writestr('READ.ME', 'y')
with zipfile.ZipFile(d + '/symlink.zip', 'w') as z:
    link = zipfile.ZipInfo('docs/shadow')
    link.create_system = 3
    link.external_attr = 0o120777 << 16
    z.writestr(link, '/etc/shadow')
# 2 MB of noise declared as 100 bytes: the builder must stop at byte 101,
# not after filling its temporary file.
noise = bytes((i * 7919 + (i >> 8) * 104729) & 0xFF for i in range(2000000))
with zipfile.ZipFile(d + '/liar.zip', 'w') as z:
    z.writestr('liar.bin', noise)
raw = bytearray(open(d + '/liar.zip', 'rb').read())
cd = raw.rfind(b'PK\x01\x02')
raw[cd + 24:cd + 28] = (100).to_bytes(4, 'little')
open(d + '/liar.zip', 'wb').write(raw)
raw[cd + 24:cd + 28] = (3000000).to_bytes(4, 'little')
open(d + '/short.zip', 'wb').write(raw)
# One deflated entry named three times in the directory: each name would
# inflate the same bytes again.
with zipfile.ZipFile(d + '/one.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('bomb.txt', b'0' * 100000)
raw = open(d + '/one.zip', 'rb').read()
cd, end = raw.rfind(b'PK\x01\x02'), raw.rfind(b'PK\x05\x06')
entries = b''.join(raw[cd:end].replace(b'bomb.txt', b'bom%d.txt' % i) for i in range(3))
tail = bytearray(raw[end:])
tail[8:10] = tail[10:12] = (3).to_bytes(2, 'little')
tail[12:16] = len(entries).to_bytes(4, 'little')
open(d + '/overlap.zip', 'wb').write(raw[:cd] + entries + bytes(tail))
# The same, deflated: a copied stream is inflated on the way all the same.
with zipfile.ZipFile(d + '/liar8.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('liar.bin', noise + bytes(2000000))
raw = bytearray(open(d + '/liar8.zip', 'rb').read())
cd = raw.rfind(b'PK\x01\x02')
raw[cd + 24:cd + 28] = (100).to_bytes(4, 'little')
open(d + '/liar8.zip', 'wb').write(raw)
with zipfile.ZipFile(d + '/badcrc.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('text.txt', 'deflates well ' * 1000)
raw = bytearray(open(d + '/badcrc.zip', 'rb').read())
crc = raw[14:18]
raw = raw.replace(crc, bytes([crc[0] ^ 1]) + crc[1:])
open(d + '/badcrc.zip', 'wb').write(raw)
)PY"));
    ASSERT_EQ(Shell("python3 " + Quote(maker) + " " + Quote(scratch.Path())).Code, 0);
    struct Case {
        const char *zip, *message, *environment;
    } cases[] = {
        {"zip64.zip", "entry \"big.txt\" of"},
        {"zip64.zip", "uses ZIP64, which is not supported"},
        {"bzip2.zip", "entry \"packed.txt\" of"},
        {"bzip2.zip", "method 12 (bzip2)"},
        {"lzma.zip", "method 14 (LZMA)"},
        {"dotdot.zip", "'..' component refused: \"sub/../../evil.txt\""},
        {"absolute.zip", "absolute name refused: \"/etc/evil\""},
        {"drive.zip", "drive-prefixed name refused: \"C:/evil.txt\""},
        {"device.zip", "Windows device refused: \"docs/con.txt\""},
        {"twice.zip", "same name on Windows: \"Read.me\" and \"READ.ME\""},
        {"symlink.zip", "entry \"docs/shadow\" of"},
        {"symlink.zip", "is a symbolic link"},
        // At most 1 MB may be written before the size check speaks.
        {"liar.zip", "\"liar.bin\" of", "ulimit -f 1024;"},
        {"liar.zip", "longer than its declared 100 bytes", "ulimit -f 1024;"},
        {"short.zip", "shorter than its declared 3000000 bytes"},
        {"overlap.zip", "entries \"bom0.txt\" and \"bom1.txt\" of"},
        {"overlap.zip", "share their bytes"},
        {"liar8.zip", "longer than its declared 100 bytes", "ulimit -f 1024;"},
        {"badcrc.zip", "\"text.txt\" is damaged: its CRC-32 does not match"},
    };
    std::string out = scratch.Path() + "/refused.exe";
    for (const Case &c : cases) {
        Outcome r = Mksfx({"-o", out, "--zip", scratch.Path() + "/" + c.zip}, c.environment ? c.environment : "");
        EXPECT_EQ(r.Code, 1) << c.zip;
        EXPECT_NE(r.Output.find(c.message), std::string::npos) << c.zip << ": " << r.Output;
    }
    struct stat st;
    EXPECT_NE(stat(out.c_str(), &st), 0) << "a refused build leaves no output";

    // Folder entries are dropped; an empty one is named, since the stub
    // would never create it.
    Outcome folders = Mksfx({"-o", out, "--zip", scratch.Path() + "/folders.zip"});
    EXPECT_EQ(folders.Code, 0) << folders.Output;
    EXPECT_NE(folders.Output.find("empty folder \"empty/\""), std::string::npos) << folders.Output;
    EXPECT_EQ(folders.Output.find("\"full/\""), std::string::npos) << folders.Output;
    EXPECT_NE(Mksfx({"--info", out}).Output.find("1 entry"), std::string::npos);
}

TEST_F(BuilderRoundTrip, ManyEntriesInLittleMemory)
{
    // 12,000 deflated entries in 300 MB of address space: the builder may
    // keep a table of the entries, but no buffer, stream or open file for each.
    std::string zip = scratch.Path() + "/many.zip";
    ASSERT_EQ(Shell("python3 -c " + Quote("import zipfile,sys\nwith zipfile.ZipFile(sys.argv[1],'w',8) as z:\n"
                                          " for i in range(12000): z.writestr('f%05d.txt' % i, 'entry %d' % i)") +
                    " " + Quote(zip)).Code, 0);
    std::string out = scratch.Path() + "/many.exe";
    Outcome r = Mksfx({"-q", "-o", out, "--zip", zip}, "ulimit -v 300000;");
    EXPECT_EQ(r.Code, 0) << r.Output.substr(0, 2000);
    EXPECT_NE(Mksfx({"--info", out}).Output.find("12000 entries"), std::string::npos);
}

TEST_F(BuilderRoundTrip, CommentsAreKeptOrNamed)
{
    std::string maker = scratch.Write("comments.py", std::string(R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    z.comment = b'release 1.2, built by hand'
    z.writestr('a.txt', 'a')
    info = zipfile.ZipInfo('b.txt')
    info.comment = b'about b'
    z.writestr(info, 'b')
)PY"));
    std::string zip = scratch.Path() + "/comments.zip", out = scratch.Path() + "/comments.exe";
    ASSERT_EQ(Shell("python3 " + Quote(maker) + " " + Quote(zip)).Code, 0);
    Outcome r = Mksfx({"-o", out, "--zip", zip});
    ASSERT_EQ(r.Code, 0) << r.Output;
    EXPECT_NE(r.Output.find("comment of entry \"b.txt\" dropped"), std::string::npos) << r.Output;
    Outcome comment = Shell("python3 -c " + Quote("import zipfile,sys; print(zipfile.ZipFile(sys.argv[1]).comment)") +
                            " " + Quote(out));
    EXPECT_EQ(comment.Output, "b'release 1.2, built by hand'\n");
    EXPECT_EQ(Mksfx({"--verify", out}).Code, 0);
}

}  // namespace
