// A connection socket that hands out the lines of an HTTP request. Received bytes wait in a
// 1,000-byte buffer; bytes behind a line stay there for the next call, whether they are the next
// header line or the request body. A line ends at a line feed, which it keeps, as it keeps a
// carriage return before it, or after a length given by the caller.
#pragma once

#include "service/listener/CBlockingSocket.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <limits>
#include <optional>
#include <string_view>

class CHttpBlockingSocket : public CBlockingSocket {
public:
    static constexpr std::size_t kLineBufSize = 1000;
    static constexpr std::size_t kLineMax = 1024;
    using LineBuffer = std::array<char, kLineMax>;
    // A line that ends only at its line feed.
    static constexpr std::size_t kNoLimit = std::numeric_limits<std::size_t>::max();

    // Copies the next line into out, terminates it with a zero byte and answers a view of it.
    // Throws "ReadHeaderLine" when the peer closes before a line feed or the buffer fills
    // without one, "Request timeout" past the deadline, or what Receive throws. A line may also
    // end after nMaxBytes bytes without a line feed (a body whose length was announced); 0
    // answers an empty line at once.
    std::string_view ReadHeaderLine(LineBuffer& out, std::size_t nMaxBytes = kNoLimit);

    // Bounds the whole request: no line is waited for past this point.
    void SetDeadline(std::chrono::steady_clock::time_point deadline) { m_deadline = deadline; }
    void ClearDeadline() { m_deadline.reset(); }

    std::size_t BufferedBytes() const { return static_cast<std::size_t>(m_nLineBytes); }
    // Whether the client sent bytes that were not read: buffered here, waiting in the socket, or
    // possibly still on their way (a TLS session's closing alert). Costs one system call.
    bool HasUnreadBytes() const;

private:
    std::size_t ReceiveBeforeDeadline(char* pBuffer, std::size_t nCapacity);

    std::array<char, kLineBufSize> m_lineBuf{};
    int32_t m_nLineBytes = 0;
    std::optional<std::chrono::steady_clock::time_point> m_deadline;
};
