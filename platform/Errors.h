#pragma once
// Exceptions of the file, stream and interface layers. Their texts are the program's own messages, in the
// user's language (platform/Translate.h), and are shown to the user as they stand.
#include <stdexcept>
#include <string>

namespace korvane {

// Base of every failure the program reports; what() is UTF-8 text for the error box.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file that exists but cannot be opened for reading.
class EFOpenError : public Error {
public:
    explicit EFOpenError(const std::string& path);
};

// A file that cannot be created or replaced.
class EFCreateError : public Error {
public:
    explicit EFCreateError(const std::string& path);
};

// A write to a target stream that did not take all bytes.
class EWriteError : public Error {
public:
    EWriteError();
};

// An interface that an object does not offer.
class EIntfCastError : public Error {
public:
    EIntfCastError();
};

} // namespace korvane
