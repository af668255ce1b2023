// Scratch files for host tests: a unique folder under the system's temporary
// folder, removed when the test ends.
#ifndef SFX_TEST_TEMPFILE_H
#define SFX_TEST_TEMPFILE_H

#include <string>
#include <vector>

class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    const std::string &Path() const { return path_; }
    // Writes bytes to a file in the folder and returns its full path.
    std::string Write(const std::string &name, const std::vector<unsigned char> &bytes) const;
    std::string Write(const std::string &name, const std::string &bytes) const;

private:
    std::string path_;
};

std::vector<unsigned char> ReadAll(const std::string &path);

#endif
