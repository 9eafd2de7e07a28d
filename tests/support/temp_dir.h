// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
#pragma once

#include <cstdint>
#include <string>

namespace olva_test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + relative
    std::string file(const std::string& relative) const;

private:
    std::string path_;
};

// Whole-file helpers for fixtures.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
// Sets a file's modification time (seconds since the epoch), without
// following a link.
void setModificationTime(const std::string& path, std::int64_t seconds);
// Whether anything stands at path, a dangling link included.
bool pathExists(const std::string& path);

}  // namespace olva_test
