#include "Errors.h"

namespace korvane {

std::string FormatMessage(const std::string& pattern, const std::string& arg) {
    std::string text = pattern;
    if (auto at = text.find("%s"); at != std::string::npos) text.replace(at, 2, arg);
    return text;
}

EFOpenError::EFOpenError(const std::string& path) : Error(FormatMessage("ファイル %s は開けません", path)) {}

EFCreateError::EFCreateError(const std::string& path)
    : Error(FormatMessage("ファイル %s を作成できません", path)) {}

EWriteError::EWriteError() : Error("ストリームへの書き込みエラー") {}

EIntfCastError::EIntfCastError() : Error("Interface はサポートされていません") {}

} // namespace korvane
