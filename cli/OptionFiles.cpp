// The files options name: a text an option takes whole, and lists of addresses.
#include "cli/Options.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "platform/Translate.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace korvane {

namespace {

// Why a file could not be read whole: the system's reason, or what the file is.
std::string WhyUnread(const std::string& path, const EFileError& e, std::size_t limit) {
    if (e.Cause() != 0) return std::strerror(e.Cause());
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (std::filesystem::is_directory(status)) return Tr("a folder");
    if (!std::filesystem::is_regular_file(status)) return Tr("not a regular file");
    if (std::filesystem::file_size(path, error) > limit)
        return FormatText(Tr("larger than %1 MB"), {std::to_string(limit >> 20)});
    return Tr("it changed while it was read");
}

} // namespace

std::string ReadOptionFile(const std::string& option, const std::string& path, std::size_t limit) {
    std::string text;
    try {
        text = ReadWholeFile(path, limit);
    } catch (const EFileError& e) {
        throw EUsageError(
            FormatText(Tr("cannot read '%1' for %2 (%3)"), {path, option, WhyUnread(path, e, limit)}));
    }
    if (text.find('\0') != std::string::npos)
        throw EUsageError(FormatText(Tr("'%1' for %2 is not a text file"), {path, option}));
    if (!IsValidUtf8(text))
        throw EUsageError(FormatText(Tr("'%1' for %2 is not UTF-8 text"), {path, option}));
    return text;
}

namespace {

// Everything on standard input (a pipe, a terminal, a file), up to a bound that no list of addresses reaches.
std::string ReadStandardInput() {
    constexpr std::size_t kLimit = 256u << 20;
    std::string text;
    char buf[1 << 16];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n == 0) return text;
        if (n < 0) {
            if (errno == EINTR) continue;
            throw EUsageError(FormatText(Tr("cannot read the URL list '%1'"), {"-"}));
        }
        text.append(buf, static_cast<std::size_t>(n));
        if (text.size() > kLimit) throw EUsageError(FormatText(Tr("the URL list '%1' is too large"), {"-"}));
    }
}

} // namespace

std::vector<std::string> ReadUrlList(const std::string& path) {
    std::string text;
    if (path == "-") {
        text = ReadStandardInput();
    } else {
        try {
            text = ReadWholeFile(path);
        } catch (const Error&) {
            throw EUsageError(FormatText(Tr("cannot read the URL list '%1'"), {path}));
        }
    }
    if (text.find('\0') != std::string::npos)
        throw EUsageError(FormatText(Tr("the URL list '%1' is not a text file"), {path}));
    // Lines end in LF, CR LF or CR alone.
    std::vector<std::string> urls;
    std::size_t pos = 0, number = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        std::string_view line = TrimText(std::string_view(text).substr(pos, end - pos));
        pos = end + 1;
        if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') ++pos;
        ++number;
        if (line.empty() || line.front() == '#') continue;
        if (!IsValidUtf8(line))
            throw EUsageError(FormatText(Tr("line %1 of the URL list '%2' is not UTF-8 text"),
                                         {std::to_string(number), path}));
        urls.emplace_back(line);
    }
    return urls;
}

} // namespace korvane
