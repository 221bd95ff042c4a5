#include "Errors.h"

#include "Translate.h"

#include <cstring>

namespace korvane {

EFOpenError::EFOpenError(const std::string& path, int cause)
    : EFileError(FormatText(Tr("Cannot open the file %1"), {path}), cause) {}

EFCreateError::EFCreateError(const std::string& path, int cause)
    : EFileError(FormatText(Tr("Cannot create the file %1"), {path}), cause) {}

EWriteError::EWriteError(int cause) : EFileError(Tr("Error writing to the stream"), cause) {}

EIntfCastError::EIntfCastError() : Error(Tr("Interface not supported")) {}

std::string MessageWithCause(const std::exception& error) {
    const auto* file = dynamic_cast<const EFileError*>(&error);
    if (!file || file->Cause() == 0) return error.what();
    return FormatText(Tr("%1 (%2)"), {error.what(), std::strerror(file->Cause())});
}

} // namespace korvane
