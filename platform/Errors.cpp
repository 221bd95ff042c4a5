#include "Errors.h"

#include "Translate.h"

#include <cstring>
#include <new>
#include <stdexcept>

namespace korvane {

EFOpenError::EFOpenError(const std::string& path, int cause)
    : EFileError(FormatText(Tr("Cannot open the file %1"), {path}), cause) {}

EFCreateError::EFCreateError(const std::string& path, int cause)
    : EFileError(FormatText(Tr("Cannot create the file %1"), {path}), cause) {}

EWriteError::EWriteError(int cause) : EFileError(Tr("Error writing to the stream"), cause) {}

EIntfCastError::EIntfCastError() : Error(Tr("Interface not supported")) {}

std::string MessageWithCause(const std::exception& error) {
    // The library's own words for memory it could not have ("std::bad_alloc", "vector::_M_default_append")
    // say nothing to a user.
    if (dynamic_cast<const std::bad_alloc*>(&error) || dynamic_cast<const std::length_error*>(&error))
        return Tr("not enough memory");
    const auto* file = dynamic_cast<const EFileError*>(&error);
    if (!file || file->Cause() == 0) return error.what();
    return FormatText(Tr("%1 (%2)"), {error.what(), std::strerror(file->Cause())});
}

} // namespace korvane
