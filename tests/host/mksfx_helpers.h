// Shared by the builder's host tests: running the builder and peer tools,
// reading bits of finished files.
#ifndef MKSFX_TEST_HELPERS_H
#define MKSFX_TEST_HELPERS_H

#include <stdio.h>
#include <sys/wait.h>

#include <string>
#include <vector>

namespace mksfxtest {

struct Outcome {
    int Code;
    std::string Output;   // stdout and stderr together
};

// Runs a shell command line; its exit code (-1 when it did not exit).
inline Outcome Shell(const std::string &command)
{
    Outcome r{-1, ""};
    FILE *p = popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return r;
    char buffer[4096];
    while (size_t n = fread(buffer, 1, sizeof buffer, p))
        r.Output.append(buffer, n);
    int status = pclose(p);
    r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

inline std::string Quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The builder with the given arguments (each quoted).
inline Outcome Mksfx(const std::vector<std::string> &args, const std::string &environment = "")
{
    std::string command = environment + " " + Quote(MKSFX_PATH);
    for (const std::string &a : args)
        command += " " + Quote(a);
    return Shell(command);
}

inline std::vector<unsigned char> FileBytes(const std::string &path)
{
    std::vector<unsigned char> bytes;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return bytes;
    unsigned char buffer[65536];
    while (size_t n = fread(buffer, 1, sizeof buffer, f))
        bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(f);
    return bytes;
}

// The settings block of a finished file: from 0x9800 for its own length.
inline std::vector<unsigned char> SettingsBlock(const std::string &path)
{
    std::vector<unsigned char> b = FileBytes(path);
    if (b.size() < 0x9800 + 11 || b[0x9800] != 'Q')
        return {};
    size_t length = b[0x9803] | b[0x9804] << 8;
    return std::vector<unsigned char>(b.begin() + 0x9800, b.begin() + 0x9800 + length);
}

// Little-endian fields of a file's bytes.
inline unsigned Get16(const std::vector<unsigned char> &b, size_t at) { return b[at] | b[at + 1] << 8; }
inline uint32_t Get32(const std::vector<unsigned char> &b, size_t at)
{
    return Get16(b, at) | (uint32_t)Get16(b, at + 2) << 16;
}

}  // namespace mksfxtest

#endif
