#pragma once
// File-system helpers: existence tests, the executable's own path, path pieces, and files that replace their
// target only once they are complete.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace korvane {

bool FileExists(const std::string& path);      // exists and is not a folder
bool DirectoryExists(const std::string& path); // an existing folder (an empty text never is)
bool IsWritableDirectory(const std::string& path);
// 0 when the running user may make files in the folder, else the system's error number that says why not.
int DirectoryWriteError(const std::string& path);

std::string ExecutablePath();
// The executable's folder: its full path cut after the last separator, so it ends in "/".
std::string ExecutableFolder();
// The path with the text from the last "." of its file name on replaced by ext (appended when there is none).
std::string ChangeFileExt(const std::string& path, std::string_view ext);
// The folder part of a path up to and including its last "/"; empty when there is none.
std::string ExtractFilePath(const std::string& path);
std::string IncludeTrailingPathDelimiter(const std::string& path);

// The bytes of a plain file (never a pipe or a device, which could block); throws EFOpenError for anything
// else, or for a file of more than `limit` bytes.
std::string ReadWholeFile(const std::string& path, std::size_t limit = static_cast<std::size_t>(-1));

// A symbolic link that only the running user can have placed: owned by them, in a folder of theirs that no
// one else may write (or whose sticky bit keeps others from replacing their entries).
bool IsOwnLink(const std::string& path);
// A symbolic link that is not the user's own: writes replace it rather than the file it names.
bool IsForeignLink(const std::string& path);
// The warning that a write of `path` replaces a link another may have placed; empty when it does not.
std::string ForeignLinkWarning(const std::string& path);
// The file a write of `path` replaces: through the user's own links, never through another's (the path itself
// when it is no link, another's link, or links that go round in circles).
std::string WriteTarget(const std::string& path);

// A file written under a temporary name in the target's folder and renamed over the target by Commit().
// Until then the target is untouched; an uncommitted file is removed when the object goes. The new file is
// on the disk before it takes the target's place (fsync of the file, then of the folder); it keeps the
// permissions of the file it replaces. A symbolic link of the user's own (IsOwnLink) stays in place and the
// file it names is replaced; any other link is itself replaced, so that no one can point a write elsewhere.
class AtomicFile {
public:
    // Throws EFCreateError when the file cannot be created, or when an existing target may not be written.
    explicit AtomicFile(std::string target);
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile();

    // Writes all bytes; throws EWriteError when they cannot be written.
    void Write(const void* data, std::size_t count);
    // Closes the file and puts it in place of the target; throws EWriteError or EFCreateError.
    void Commit();

    const std::string& Target() const { return FTarget; } // through links
    const std::string& TemporaryPath() const { return FTemp; }
    std::uint64_t Size() const { return FWritten; }

private:
    void Discard() noexcept;

    std::string FTarget;
    std::string FShownName;
    std::string FTemp;
    int FFd = -1;
    std::uint64_t FWritten = 0;
    bool FCommitted = false;
};

// Removes the temporary files that AtomicFiles of processes no longer running left in `folder` (a program
// killed at once cannot remove its own); returns how many.
std::size_t RemoveStalePartFiles(const std::string& folder);

// Writes the bytes to path through an AtomicFile.
void WriteFileAtomically(const std::string& path, std::string_view bytes);

} // namespace korvane
