#include "TempFile.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

ScratchFolder::ScratchFolder()
{
    const char *t = getenv("TMPDIR");
    std::string tmpl = std::string(t && *t ? t : "/tmp") + "/sfxtest.XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    if (mkdtemp(buf.data()))
        path_ = buf.data();
}

ScratchFolder::~ScratchFolder()
{
    if (!path_.empty()) {
        std::string cmd = "rm -rf '" + path_ + "'";
        if (system(cmd.c_str()) != 0) {
        }
    }
}

std::string ScratchFolder::Write(const std::string &name, const std::vector<unsigned char> &bytes) const
{
    std::string p = path_ + "/" + name;
    FILE *f = fopen(p.c_str(), "wb");
    if (f) {
        if (!bytes.empty())
            fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    return p;
}

std::string ScratchFolder::Write(const std::string &name, const std::string &bytes) const
{
    return Write(name, std::vector<unsigned char>(bytes.begin(), bytes.end()));
}

std::vector<unsigned char> ReadAll(const std::string &path)
{
    std::vector<unsigned char> v;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return v;
    unsigned char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        v.insert(v.end(), buf, buf + n);
    fclose(f);
    return v;
}
