#pragma once
// The receiving side of the DevTools pipe: bytes in, one JSON message per NUL byte out. Parsing keeps big
// binary replies (the base64 "data" of a screenshot) out of the JSON tree: their payload is decoded straight
// from the receive buffer into bytes. Malformed messages are counted and dropped, never fatal.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace korvane {

struct TDevToolsMessage {
    std::optional<std::int64_t> Id;   // replies
    std::string Method;               // events
    std::string SessionId;            // empty for the browser itself
    nlohmann::json Params;            // events: "params"; replies: "result" (without a big "data" string)
    std::optional<std::string> Error; // replies that failed: the error's message
    std::optional<std::vector<std::uint8_t>> Data; // the decoded "data" of a big reply
};

// Parses one message; nullopt when it is no JSON object, or neither a reply nor an event.
std::optional<TDevToolsMessage> ParseDevToolsMessage(std::string_view text);

class TDevToolsReader {
public:
    enum class TReadResult { Data, NoData, Closed };

    explicit TDevToolsReader(std::size_t maxMessage = std::size_t{1} << 31);

    // Appends raw bytes as if they had come from the pipe.
    void Feed(std::string_view bytes);
    // Reads what the (non-blocking) fd holds now.
    TReadResult ReadFrom(int fd);
    // Hands each complete message to the sink; the view is valid during the call only. Returns the number of
    // messages. A message longer than the limit is dropped (counted as malformed) and its rest skipped.
    std::size_t Drain(const std::function<void(std::string_view)>& sink);
    // Bytes received but not yet part of a complete message.
    std::size_t Pending() const { return FEnd - FBegin; }
    std::size_t Oversized() const { return FOversized; }
    void Reset();

private:
    void Reserve(std::size_t extra);
    std::unique_ptr<char[]> FBuffer;
    std::size_t FCapacity = 0, FBegin = 0, FEnd = 0, FScan = 0;
    std::size_t FMaxMessage;
    bool FSkipping = false; // inside an oversized message, dropping bytes up to its NUL
    std::size_t FOversized = 0;
};

} // namespace korvane
