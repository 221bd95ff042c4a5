#include "imaging/Streams.h"

#include <cstring>
#include <new>

#include "platform/Errors.h"
#include "platform/Files.h"

namespace korvane {

TFileStream::TFileStream(const std::string& path) : file_(std::make_unique<AtomicFile>(path)) {}

TFileStream::~TFileStream() = default;

void TFileStream::WriteBuffer(const void* data, std::size_t count) {
    if (count > 0) file_->Write(data, count);
}

void TFileStream::Commit() { file_->Commit(); }

const std::string& TFileStream::FileName() const { return file_->Target(); }

std::uint64_t TFileStream::Size() const { return file_->Size(); }

void TMemoryStream::WriteBuffer(const void* data, std::size_t count) {
    ++writes_;
    if (count == 0) return;
    try {
        const std::size_t at = bytes_.size();
        bytes_.resize(at + count);
        std::memcpy(bytes_.data() + at, data, count);
    } catch (const std::bad_alloc&) {
        throw EWriteError();
    } catch (const std::length_error&) {
        throw EWriteError();
    }
}

} // namespace korvane
