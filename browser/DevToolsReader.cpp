#include "browser/DevToolsReader.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "browser/Base64.h"

namespace korvane {
namespace {

constexpr std::size_t kReadChunk = 1 << 20;
// Replies bigger than this are searched for a leading "data" string that is then decoded without JSON.
constexpr std::size_t kBigMessage = 1 << 16;
// The "data" key of a screenshot reply comes within the first bytes: {"id":N,"result":{"data":"...
constexpr std::size_t kDataKeyWindow = 512;

void Fill(TDevToolsMessage& m, nlohmann::json& j) {
    if (auto it = j.find("id"); it != j.end() && it->is_number_integer()) m.Id = it->get<std::int64_t>();
    if (auto it = j.find("method"); it != j.end() && it->is_string()) m.Method = it->get<std::string>();
    if (auto it = j.find("sessionId"); it != j.end() && it->is_string()) m.SessionId = it->get<std::string>();
    if (m.Id) {
        if (auto it = j.find("result"); it != j.end()) m.Params = std::move(*it);
        if (auto it = j.find("error"); it != j.end()) {
            std::string text = "unknown error";
            if (it->is_object()) {
                if (auto mt = it->find("message"); mt != it->end() && mt->is_string())
                    text = mt->get<std::string>();
            } else if (it->is_string()) {
                text = it->get<std::string>();
            }
            m.Error = text;
        }
    } else if (auto it = j.find("params"); it != j.end()) {
        m.Params = std::move(*it);
    }
}

std::optional<TDevToolsMessage> ParseBig(std::string_view text) {
    static constexpr std::string_view kKey = "\"data\":\"";
    std::string_view head = text.substr(0, kDataKeyWindow);
    std::size_t key = head.find(kKey);
    if (key == std::string_view::npos) return std::nullopt;
    const std::size_t start = key + kKey.size();
    const void* q = std::memchr(text.data() + start, '"', text.size() - start);
    if (!q) return std::nullopt;
    const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(q) - text.data());
    std::vector<std::uint8_t> bytes;
    if (!DecodeBase64(text.substr(start, end - start), bytes)) return std::nullopt;
    std::string rest;
    rest.reserve(start + (text.size() - end));
    rest.append(text.substr(0, start));
    rest.append(text.substr(end));
    nlohmann::json j = nlohmann::json::parse(rest, nullptr, false);
    if (!j.is_object()) return std::nullopt;
    TDevToolsMessage m;
    Fill(m, j);
    if (!m.Id) return std::nullopt;
    m.Data = std::move(bytes);
    return m;
}

} // namespace

std::optional<TDevToolsMessage> ParseDevToolsMessage(std::string_view text) {
    if (text.size() > kBigMessage) {
        if (auto m = ParseBig(text)) return m;
    }
    nlohmann::json j = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (!j.is_object()) return std::nullopt;
    TDevToolsMessage m;
    Fill(m, j);
    if (!m.Id && m.Method.empty()) return std::nullopt;
    return m;
}

TDevToolsReader::TDevToolsReader(std::size_t maxMessage) : FMaxMessage(maxMessage) {}

void TDevToolsReader::Reset() {
    FBuffer.reset();
    FCapacity = FBegin = FEnd = FScan = 0;
    FSkipping = false;
}

void TDevToolsReader::Reserve(std::size_t extra) {
    if (FCapacity - FEnd >= extra) return;
    const std::size_t used = FEnd - FBegin;
    if (FBegin > 0 && FCapacity - used >= extra) {
        std::memmove(FBuffer.get(), FBuffer.get() + FBegin, used);
    } else {
        std::size_t capacity = FCapacity ? FCapacity : kReadChunk;
        while (capacity - used < extra)
            capacity *= 2;
        auto grown = std::make_unique_for_overwrite<char[]>(capacity);
        if (used) std::memcpy(grown.get(), FBuffer.get() + FBegin, used);
        FBuffer = std::move(grown);
        FCapacity = capacity;
    }
    FScan -= FBegin;
    FEnd = used;
    FBegin = 0;
}

void TDevToolsReader::Feed(std::string_view bytes) {
    Reserve(bytes.size());
    std::memcpy(FBuffer.get() + FEnd, bytes.data(), bytes.size());
    FEnd += bytes.size();
}

TDevToolsReader::TReadResult TDevToolsReader::ReadFrom(int fd) {
    bool any = false;
    for (;;) {
        // Grow with the message being received, so that a reply of hundreds of MB takes few reallocations.
        Reserve(std::max(kReadChunk, (FEnd - FBegin) / 2));
        ssize_t n = ::read(fd, FBuffer.get() + FEnd, FCapacity - FEnd);
        if (n > 0) {
            FEnd += static_cast<std::size_t>(n);
            any = true;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return any ? TReadResult::Data : TReadResult::NoData;
        return any ? TReadResult::Data : TReadResult::Closed;
    }
}

std::size_t TDevToolsReader::Drain(const std::function<void(std::string_view)>& sink) {
    std::size_t count = 0;
    for (;;) {
        if (FScan < FBegin) FScan = FBegin;
        const void* nul = FScan < FEnd ? std::memchr(FBuffer.get() + FScan, '\0', FEnd - FScan) : nullptr;
        if (!nul) {
            FScan = FEnd;
            if (FEnd - FBegin > FMaxMessage) {
                // Too long to be a message of ours: drop what came and skip to its end.
                if (!FSkipping) ++FOversized;
                FSkipping = true;
                FBegin = FEnd = FScan = 0;
            }
            break;
        }
        const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(nul) - FBuffer.get());
        std::string_view message(FBuffer.get() + FBegin, at - FBegin);
        FBegin = FScan = at + 1;
        if (FSkipping) {
            FSkipping = false;
            continue;
        }
        ++count;
        sink(message);
    }
    if (FBegin == FEnd) {
        FBegin = FEnd = FScan = 0;
        // Give back the memory of a huge reply once it has been handled.
        if (FCapacity > 16 * kReadChunk) {
            FBuffer.reset();
            FCapacity = 0;
        }
    }
    return count;
}

} // namespace korvane
