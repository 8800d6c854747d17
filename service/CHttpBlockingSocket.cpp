#include "service/CHttpBlockingSocket.h"

#include "service/CBlockingSocketException.h"

#include <algorithm>
#include <cstring>
#include <poll.h>

std::string_view CHttpBlockingSocket::ReadHeaderLine(LineBuffer& out) {
    char* begin = m_lineBuf.data();
    char* lf = static_cast<char*>(std::memchr(begin, '\n', static_cast<std::size_t>(m_nLineBytes)));
    while (lf == nullptr) {
        const std::size_t free = kLineBufSize - static_cast<std::size_t>(m_nLineBytes);
        const std::size_t r = ReceiveBeforeDeadline(begin + m_nLineBytes, free);
        if (r == 0) {
            throw CBlockingSocketException("ReadHeaderLine", 0);
        }
        lf = static_cast<char*>(std::memchr(begin + m_nLineBytes, '\n', r));
        m_nLineBytes += static_cast<int32_t>(r);
    }
    const std::size_t len =
        std::min<std::size_t>(static_cast<std::size_t>(lf - begin) + 1, kLineMax - 1);
    std::memcpy(out.data(), begin, len);
    out[len] = '\0';
    m_nLineBytes -= static_cast<int32_t>(len);
    std::memmove(begin, begin + len, static_cast<std::size_t>(m_nLineBytes));
    return {out.data(), len};
}

std::size_t CHttpBlockingSocket::ReceiveBeforeDeadline(char* pBuffer, std::size_t nCapacity) {
    if (!m_deadline) {
        return Receive(pBuffer, nCapacity);
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          *m_deadline - std::chrono::steady_clock::now())
                          .count();
    if (left < m_nWaitMs) {
        // The deadline comes before the ordinary wait would end.
        if (left <= 0 || !WaitFor(POLLIN, static_cast<int>(left))) {
            throw CBlockingSocketException("Request timeout", 0);
        }
    }
    return Receive(pBuffer, nCapacity);
}
