#pragma once
// A throw-away folder under the system's temporary folder, removed with its
// content when the object goes.
#include <string>

namespace halden::test {

class TempDir {
public:
    explicit TempDir(const std::string &prefix = "halden");
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Whole-file helpers for fixtures: binary, no line-end translation.
std::string readFile(const std::string &path);
void writeFile(const std::string &path, const std::string &content);
bool fileExists(const std::string &path);

} // namespace halden::test
