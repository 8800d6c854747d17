#include "service/listener/CHttpBlockingSocket.h"

#include "service/listener/CBlockingSocketException.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>

std::string_view CHttpBlockingSocket::ReadHeaderLine(LineBuffer& out, std::size_t nMaxBytes) {
    char* begin = m_lineBuf.data();
    std::size_t len = 0;
    for (;;) {
        const auto have = static_cast<std::size_t>(m_nLineBytes);
        const auto* lf =
            static_cast<const char*>(std::memchr(begin, '\n', std::min(have, nMaxBytes)));
        if (lf != nullptr || have >= nMaxBytes) {
            len = lf != nullptr ? static_cast<std::size_t>(lf - begin) + 1 : nMaxBytes;
            break;
        }
        const std::size_t r = ReceiveBeforeDeadline(begin + have, kLineBufSize - have);
        if (r == 0) {
            throw CBlockingSocketException("ReadHeaderLine", 0);
        }
        m_nLineBytes += static_cast<int32_t>(r);
    }
    len = std::min(len, kLineMax - 1);
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
    if (left >= m_nWaitMs) {
        return Receive(pBuffer, nCapacity);
    }
    // The deadline comes before the ordinary wait would end.
    if (left <= 0) {
        throw CBlockingSocketException("Request timeout", 0);
    }
    return ReceiveWithin(pBuffer, nCapacity, static_cast<int>(left), "Request timeout");
}

bool CHttpBlockingSocket::HasUnreadBytes() const {
    if (m_nLineBytes > 0 || HasTls()) {
        return true;
    }
    char probe = 0;
    ssize_t r;
    do {
        r = ::recv(m_hSock, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    } while (r < 0 && errno == EINTR);
    // 0: the client closed its side, so nothing more can come.
    return r > 0 || (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}
