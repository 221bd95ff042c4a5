#pragma once
// The window's texts in the user's language, through the same catalogues as every other layer.
#include "platform/Translate.h"

#include <QString>

namespace korvane {

inline QString QTr(const char* english) {
    return QString::fromUtf8(Tr(english));
}

} // namespace korvane
