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

// A failure of the file layer; Cause() is the system's error number behind it (0 when there is none), which
// a caller may add to the message (the message itself stays the layer's own).
class EFileError : public Error {
public:
    EFileError(const std::string& text, int cause) : Error(text), FCause(cause) {}
    int Cause() const { return FCause; }

private:
    int FCause;
};

// A file that exists but cannot be opened for reading.
class EFOpenError : public EFileError {
public:
    explicit EFOpenError(const std::string& path, int cause = 0);
};

// A file that cannot be created or replaced.
class EFCreateError : public EFileError {
public:
    explicit EFCreateError(const std::string& path, int cause = 0);
};

// A write to a target stream that did not take all bytes.
class EWriteError : public EFileError {
public:
    explicit EWriteError(int cause = 0);
};

// The error's text, with the system's reason after it when it is a file error that has one; memory that could
// not be had is said in words.
std::string MessageWithCause(const std::exception& error);

// An interface that an object does not offer.
class EIntfCastError : public Error {
public:
    EIntfCastError();
};

} // namespace korvane
