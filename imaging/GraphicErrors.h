#pragma once
// Exceptions of the picture objects.
#include <string>

#include "platform/Errors.h"

namespace korvane {

// A picture that cannot be made, read or written as asked.
class EInvalidGraphic : public Error {
public:
    using Error::Error;
};

// Rows of a picture that another thread was still drawing never came: that drawing failed or was stopped.
class EIncompletePicture : public EInvalidGraphic {
public:
    EIncompletePicture();
};

// Pixel memory of the requested size cannot be had (or its byte count does not fit in memory at all).
class EOutOfResources : public Error {
public:
    using Error::Error;
};

// An object was asked to take the value of one it cannot take it from.
class EConvertError : public Error {
public:
    using Error::Error;
};

} // namespace korvane
