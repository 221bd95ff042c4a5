#pragma once
// Target byte streams for the encoders: the interface, a file stream that replaces its target only once
// the file is complete, and a growable memory stream.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace korvane {

class AtomicFile;

// A sequential byte sink; nothing is read back or sought.
class TStream {
public:
    virtual ~TStream() = default;
    // Writes all count bytes or throws EWriteError ("Error writing to the stream").
    virtual void WriteBuffer(const void* data, std::size_t count) = 0;

protected:
    TStream() = default;
    TStream(const TStream&) = default;
    TStream& operator=(const TStream&) = default;
};

// A file created (replacing one of the same name) under a temporary name in the target's folder. Commit()
// renames it over the target; a stream released without Commit() removes its file and leaves the target
// as it was.
class TFileStream : public TStream {
public:
    explicit TFileStream(const std::string& path); // EFCreateError "Cannot create the file %1"
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    void WriteBuffer(const void* data, std::size_t count) override;
    void Commit(); // EWriteError or EFCreateError
    const std::string& FileName() const;
    std::uint64_t Size() const;

private:
    std::unique_ptr<AtomicFile> FFile;
};

// Collects the bytes in memory.
class TMemoryStream : public TStream {
public:
    void WriteBuffer(const void* data, std::size_t count) override;
    const std::vector<std::uint8_t>& Bytes() const { return FBytes; }
    std::vector<std::uint8_t> TakeBytes() { return std::move(FBytes); }
    std::size_t Size() const { return FBytes.size(); }
    void Clear() { FBytes.clear(); }
    // Number of WriteBuffer calls so far (for seeing how the encoders batch their output).
    std::size_t WriteCount() const { return FWrites; }

private:
    std::vector<std::uint8_t> FBytes;
    std::size_t FWrites = 0;
};

} // namespace korvane
