#include "app/ProgramPaths.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "platform/Files.h"

namespace korvane {

namespace {

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

// An XDG folder variable: only an absolute path counts (a relative one is to be ignored).
std::string XdgOr(const char* name, const std::string& fallback) {
    const std::string v = EnvOr(name, "");
    return !v.empty() && v.front() == '/' ? v : fallback;
}

std::string HomeFolder() {
    return EnvOr("HOME", "/tmp");
}

std::string ConfigFolder() {
    return XdgOr("XDG_CONFIG_HOME", HomeFolder() + "/.config");
}

// XDG_PICTURES_DIR from the environment or from the user-dirs file, "$HOME/" expanded (as xdg-user-dir
// reads it).
std::string PicturesFolder() {
    std::string dir = XdgOr("XDG_PICTURES_DIR", "");
    if (dir.empty()) {
        std::ifstream in(ConfigFolder() + "/user-dirs.dirs");
        for (std::string line; std::getline(in, line);) {
            const std::string key = "XDG_PICTURES_DIR=";
            if (line.rfind(key, 0) != 0) continue;
            dir = line.substr(key.size());
            if (dir.size() >= 2 && dir.front() == '"' && dir.back() == '"')
                dir = dir.substr(1, dir.size() - 2);
        }
    }
    if (dir.rfind("$HOME", 0) == 0) dir = HomeFolder() + dir.substr(5);
    if (dir.empty() || dir.front() != '/') dir = HomeFolder() + "/Pictures";
    return dir;
}

// A folder of the system's own, where no one's images belong (a home of "/" included).
bool IsSystemFolder(const std::string& folder) {
    std::error_code error;
    std::string path = std::filesystem::weakly_canonical(folder, error).string();
    if (error || path.empty()) path = folder;
    for (const char* top : {"/usr", "/opt", "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32", "/etc",
                            "/boot", "/dev", "/proc", "/sys", "/run", "/var/lib", "/srv"}) {
        const std::string t = top;
        if (path == t || path.rfind(t + "/", 0) == 0) return true;
    }
    return path == "/" || path.empty();
}

} // namespace

bool IsPortableCopy(const std::string& executable) {
    const std::string folder = ExtractFilePath(executable);
    if (folder.empty() || !IsWritableDirectory(folder)) return false;
    if (FileExists(ChangeFileExt(executable, ".ini"))) return true;
    // In its build tree: the build's cache lies in the folder of the executable or in one above it.
    std::filesystem::path up = std::filesystem::path(folder).parent_path();
    for (int level = 0; level < 3 && !up.empty(); ++level, up = up.parent_path()) {
        if (FileExists((up / "CMakeCache.txt").string())) return true;
        if (up == up.parent_path()) break;
    }
    return false;
}

std::string SettingsFilePath(const std::string& executable) {
    if (IsPortableCopy(executable)) return ChangeFileExt(executable, ".ini");
    const std::string config = ConfigFolder();
    const std::string dir = config + "/korvane";
    ::mkdir(config.c_str(), 0700);
    ::mkdir(dir.c_str(), 0700);
    return dir + "/korvane.ini";
}

std::string SettingsFilePath() {
    return SettingsFilePath(ExecutablePath());
}

std::string DefaultOutputFolder(const std::string& executable) {
    if (IsPortableCopy(executable)) return IncludeTrailingPathDelimiter(ExtractFilePath(executable));
    const std::string pictures = PicturesFolder();
    if (IsWritableDirectory(pictures) && !IsSystemFolder(pictures))
        return IncludeTrailingPathDelimiter(pictures);
    const std::string home = HomeFolder();
    if (IsWritableDirectory(home) && !IsSystemFolder(home)) return IncludeTrailingPathDelimiter(home);
    // Nowhere of the user's own can be written: the pictures folder is named, and a capture into it says
    // why it cannot be written, rather than the images landing in a system folder.
    return IncludeTrailingPathDelimiter(IsSystemFolder(pictures) ? "/tmp" : pictures);
}

std::string DefaultOutputFolder() {
    return DefaultOutputFolder(ExecutablePath());
}

} // namespace korvane
