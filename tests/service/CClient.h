// A raw TCP client of the credential service tests: connects to 127.0.0.1:port, sends bytes,
// reads until the server closes. The socket is closed when the client goes.
#pragma once

#include "platform/io/CUniqueFd.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace svctest {

class CClient {
public:
    // from: the local IPv4 address to connect from (any 127.x.y.z works on loopback); empty
    // lets the kernel choose.
    explicit CClient(uint16_t port, std::string_view from = {});
    CClient(const CClient&) = delete;
    CClient& operator=(const CClient&) = delete;

    bool Connected() const { return static_cast<bool>(m_fd); }
    void Send(std::string_view bytes) const;
    // Everything until the server closes (or the timeout passes).
    std::string ReadAll(std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    // Whether the server closed within the timeout.
    bool WaitClosed(std::chrono::milliseconds timeout) const;
    int Fd() const { return m_fd.Get(); }

private:
    CUniqueFd m_fd;
};

// Sends a whole request on a new connection and answers everything the server sent back.
std::string Exchange(uint16_t port, std::string_view request);
// The same from a given local address.
std::string ExchangeFrom(std::string_view from, uint16_t port, std::string_view request);

// "/Query" with Basic credentials ("name:password") and a one-line body.
std::string QueryRequest(std::string_view credentials);
// Sends a request on a new connection and reads the answer, all of it until the server closes or
// only its first bytes; then resets the connection, so that a flood of them leaves no TIME_WAIT
// behind and does not run out of local ports. True when an answer came.
bool RequestAndReset(uint16_t port, std::string_view request, bool bWholeAnswer);

} // namespace svctest
