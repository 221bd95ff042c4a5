#include "Errors.h"

#include "Translate.h"

namespace korvane {

EFOpenError::EFOpenError(const std::string& path)
    : Error(FormatText(Tr("Cannot open the file %1"), {path})) {}

EFCreateError::EFCreateError(const std::string& path)
    : Error(FormatText(Tr("Cannot create the file %1"), {path})) {}

EWriteError::EWriteError() : Error(Tr("Error writing to the stream")) {}

EIntfCastError::EIntfCastError() : Error(Tr("Interface not supported")) {}

} // namespace korvane
