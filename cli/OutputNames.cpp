#include "cli/OutputNames.h"

#include <climits>
#include <unistd.h>

#include "capture/OutputPath.h"
#include "cli/Options.h"
#include "cli/PageResult.h"
#include "platform/Files.h"
#include "platform/Translate.h"

namespace korvane {

std::string OutputPathFor(const TCliOptions& options, const std::string& url, int number, int viewWidth) {
    const std::string tag = viewWidth > 0 ? "-w" + std::to_string(viewWidth) : std::string();
    if (!options.OutputFile.empty()) {
        const std::string& file = options.OutputFile;
        const auto dot = file.rfind('.'), slash = file.rfind('/');
        const bool extension =
            dot != std::string::npos && dot > 0 && (slash == std::string::npos || dot > slash + 1);
        return extension ? file.substr(0, dot) + tag + file.substr(dot) : file + tag;
    }
    std::string folder = options.OutputDir;
    if (folder.empty()) {
        char cwd[PATH_MAX];
        folder = ::getcwd(cwd, sizeof cwd) ? cwd : ".";
    }
    folder = IncludeTrailingPathDelimiter(folder);
    return CapturePath(url, folder, folder, options.EffectiveFormat(), number, tag);
}

std::string TOutputNames::Claim(TPageResult& result) {
    for (int number = 1;; ++number) {
        const std::string path = OutputPathFor(FOptions, result.Url, number, result.ViewWidth);
        const auto [claim, fresh] = FClaimed.emplace(path, result.Url);
        if (!fresh && claim->second != result.Url) continue;
        if (number > 1)
            result.Notes.push_back(FormatText(
                Tr("%1 gives the same file name as %2: written as %3"),
                {result.Url, FClaimed.at(OutputPathFor(FOptions, result.Url, 1, result.ViewWidth)), path}));
        if (auto warning = ForeignLinkWarning(path); !warning.empty())
            result.Warnings.push_back(std::move(warning));
        return path;
    }
}

} // namespace korvane
