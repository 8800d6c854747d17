#include "service/http/SendFileResponse.h"

#include "service/http/HttpResponses.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Reads up to n bytes; 0 at the end of the file or on an error.
std::size_t ReadPiece(int fd, char* buffer, std::size_t n) {
    ssize_t r;
    do {
        r = ::read(fd, buffer, n);
    } while (r < 0 && errno == EINTR);
    return r > 0 ? static_cast<std::size_t>(r) : 0;
}

} // namespace

void SendFileResponse(int fd, std::time_t now, IFileSink& sink) {
    struct stat st {};
    ::fstat(fd, &st);
    const int64_t length = st.st_size;
    std::string buffer = FileResponseHeader(now, length);
    const auto left = length > 0 ? static_cast<uint64_t>(length) : 0;
    if (left > kTransferSize) {
        sink.Send(buffer, true);
        sink.SendFile(fd, 0, left);
        return;
    }
    // One read and one send: cheaper than a sendfile() call for the few bytes of a page.
    const std::size_t header = buffer.size();
    buffer.resize(header + left);
    std::size_t got = 0;
    while (got < left) {
        const std::size_t piece = ReadPiece(fd, buffer.data() + header + got, left - got);
        if (piece == 0) {
            break;
        }
        got += piece;
    }
    sink.Send(std::string_view(buffer.data(), header + got), false);
}
