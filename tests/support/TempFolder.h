#pragma once
// A fresh folder of the test's own under the temporary folder, removed with everything in it at the end
// (also when a test took the write permission away).
#include <filesystem>
#include <string>
#include <vector>

namespace korvane::testing {

class TempFolder {
public:
    explicit TempFolder(const std::string& prefix = "korvane-test");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Dir() const { return FPath; }
    std::string Path() const { return FPath.string(); }
    std::string Path(const std::string& name) const { return (FPath / name).string(); }
    // Names in the folder (hidden ones included), sorted.
    std::vector<std::string> Files() const;
    // Writes a file of the folder and returns its path.
    std::string Put(const std::string& name, const std::string& bytes) const;

private:
    std::filesystem::path FPath;
};

} // namespace korvane::testing
