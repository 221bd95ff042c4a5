#include "Files.h"

#include "Errors.h"
#include "ScopedFd.h"
#include "Translate.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <limits.h>
#include <random>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

namespace korvane {

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsWritableDirectory(const std::string& path) {
    return DirectoryExists(path) && ::access(path.c_str(), W_OK | X_OK) == 0;
}

int DirectoryWriteError(const std::string& path) {
    return ::access(path.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

std::string ExecutablePath() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

std::string ExtractFilePath(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ExecutableFolder() {
    return ExtractFilePath(ExecutablePath());
}

std::string ChangeFileExt(const std::string& path, std::string_view ext) {
    auto slash = path.rfind('/');
    auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return path + std::string(ext);
    return path.substr(0, dot) + std::string(ext);
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
    if (!path.empty() && path.back() == '/') return path;
    return path + '/';
}

std::string ReadWholeFile(const std::string& path, std::size_t limit) {
    // Non-blocking, so that a pipe or device in the file's place cannot stall the program; only plain
    // files are read.
    const TScopedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.Valid()) throw EFOpenError(path, errno);
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > limit)
        throw EFOpenError(path);
    std::string bytes;
    if (st.st_size > 0) bytes.reserve(static_cast<std::size_t>(st.st_size));
    char buf[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd.Get(), buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            throw EFOpenError(path);
        }
        bytes.append(buf, static_cast<std::size_t>(n));
        if (bytes.size() > limit) throw EFOpenError(path); // it grew while read
    }
    return bytes;
}

namespace {

void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

bool IsOwnLink(const std::string& path) {
    struct stat link {
    }, folder{};
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode) || link.st_uid != ::geteuid())
        return false;
    const std::string parent = ExtractFilePath(path);
    if (::stat(parent.empty() ? "." : parent.c_str(), &folder) != 0) return false;
    // Where others may write, a link owned by the user may still have been put in place of another: only a
    // folder of the user's that others cannot write, or whose sticky bit keeps others' hands off the user's
    // entries, holds links that the user alone placed.
    const bool othersWrite = (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    return folder.st_uid == ::geteuid() && (!othersWrite || (folder.st_mode & S_ISVTX) != 0);
}

bool IsForeignLink(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && !IsOwnLink(path);
}

std::string ForeignLinkWarning(const std::string& path) {
    if (!IsForeignLink(WriteTarget(path))) return {};
    return FormatText(
        Tr("'%1' is a link that another user could have placed: the link is replaced, not the file it "
           "names"),
        {path});
}

std::string WriteTarget(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        if (!IsOwnLink(current)) return current;
        std::string target(static_cast<std::size_t>(PATH_MAX), '\0');
        const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return path;
        target.resize(static_cast<std::size_t>(n));
        current = target.front() == '/' ? target : ExtractFilePath(current) + target;
    }
    return path;
}

AtomicFile::AtomicFile(std::string target) : FTarget(WriteTarget(target)) {
    // The user's own link stays a link: the file it names is the one replaced; a link another may have placed
    // is itself replaced. The name in errors is the one given.
    FShownName = std::move(target);
    if (FTarget.empty() || FTarget.back() == '/' || DirectoryExists(FTarget))
        throw EFCreateError(FShownName, EISDIR);
    // An existing file that may not be written is not replaced behind the user's back.
    struct stat existing {};
    const bool exists = ::stat(FTarget.c_str(), &existing) == 0;
    if (exists && ::access(FTarget.c_str(), W_OK) != 0) throw EFCreateError(FShownName, errno);

    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    const std::string folder = ExtractFilePath(FTarget);
    const std::string name = FTarget.substr(folder.size());
    for (int attempt = 0; attempt < 16 && FFd < 0; ++attempt) {
        FTemp = folder + "." + name.substr(0, 180) + "." + std::to_string(::getpid()) + "-" +
                std::to_string(counter++) + "-" + std::to_string(rd() % 100000) + ".part";
        FFd = ::open(FTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (FFd < 0 && errno != EEXIST) break;
    }
    if (FFd < 0) throw EFCreateError(FShownName, errno);
    // The file that replaces an existing one keeps its permissions.
    if (exists) ::fchmod(FFd, existing.st_mode & 07777);
}

AtomicFile::~AtomicFile() {
    if (!FCommitted) Discard();
}

void AtomicFile::Discard() noexcept {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
    if (!FTemp.empty()) ::unlink(FTemp.c_str());
}

void AtomicFile::Write(const void* data, std::size_t count) {
    if (FFd < 0) throw EWriteError();
    auto p = static_cast<const char*>(data);
    while (count > 0) {
        ssize_t n = ::write(FFd, p, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw EWriteError(n < 0 ? errno : ENOSPC);
        p += n;
        count -= static_cast<std::size_t>(n);
        FWritten += static_cast<std::uint64_t>(n);
    }
}

void AtomicFile::Commit() {
    if (FCommitted) return;
    if (FFd < 0) throw EWriteError();
    int fd = FFd;
    FFd = -1;
    // On the disk before it takes the target's place, so that a crash leaves the old file or the new one.
    int failure = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS ? 0 : errno;
    if (::close(fd) != 0 && failure == 0) failure = errno;
    if (failure != 0) {
        Discard();
        throw EWriteError(failure);
    }
    if (::rename(FTemp.c_str(), FTarget.c_str()) != 0) {
        failure = errno;
        Discard();
        throw EFCreateError(FShownName, failure);
    }
    FCommitted = true;
    SyncFolder(ExtractFilePath(FTarget));
}

std::size_t RemoveStalePartFiles(const std::string& folder) {
    // ".<name>.<pid>-<count>-<random>.part", as AtomicFile names them.
    static const std::regex partName(R"(^\..+\.([0-9]+)-[0-9]+-[0-9]+\.part$)");
    std::size_t removed = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        std::smatch match;
        if (!std::regex_match(name, match, partName)) continue;
        const long pid = std::strtol(match[1].str().c_str(), nullptr, 10);
        if (pid <= 0 || pid == ::getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue;
        struct stat st {};
        if (::lstat(entry.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        if (::unlink(entry.path().c_str()) == 0) ++removed;
    }
    return removed;
}

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
    AtomicFile file(path);
    file.Write(bytes.data(), bytes.size());
    file.Commit();
}

} // namespace korvane
