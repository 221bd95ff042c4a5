#include "imaging/Streams.h"

#include <cstring>
#include <new>

#include "platform/Errors.h"
#include "platform/Files.h"

namespace korvane {

TFileStream::TFileStream(const std::string& path) : FFile(std::make_unique<AtomicFile>(path)) {}

TFileStream::~TFileStream() = default;

void TFileStream::WriteBuffer(const void* data, std::size_t count) {
    if (count > 0) FFile->Write(data, count);
}

void TFileStream::Commit() {
    FFile->Commit();
}

const std::string& TFileStream::FileName() const {
    return FFile->Target();
}

std::uint64_t TFileStream::Size() const {
    return FFile->Size();
}

void TMemoryStream::WriteBuffer(const void* data, std::size_t count) {
    ++FWrites;
    if (count == 0) return;
    try {
        const std::size_t at = FBytes.size();
        FBytes.resize(at + count);
        std::memcpy(FBytes.data() + at, data, count);
    } catch (const std::bad_alloc&) {
        throw EWriteError();
    } catch (const std::length_error&) {
        throw EWriteError();
    }
}

} // namespace korvane
