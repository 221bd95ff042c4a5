#include "tests/support/TempFolder.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <stdlib.h>

namespace korvane::testing {

TempFolder::TempFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("no temporary folder for the test");
    FPath = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(FPath, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        if (it->is_directory(ec))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, ec);
    std::filesystem::permissions(FPath, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(FPath, ec);
}

std::vector<std::string> TempFolder::Files() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(FPath))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string TempFolder::Put(const std::string& name, const std::string& bytes) const {
    const std::string path = Path(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
    return path;
}

} // namespace korvane::testing
