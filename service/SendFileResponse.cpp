#include "service/SendFileResponse.h"

#include "service/HttpResponses.h"

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

void SendFileResponse(int fd, std::time_t now, const FileSink& send) {
    struct stat st {};
    ::fstat(fd, &st);
    const int64_t length = st.st_size;
    std::string buffer = FileResponseHeader(now, length);
    std::size_t pending = buffer.size();
    buffer.resize(pending + kTransferSize);
    uint64_t left = length > 0 ? static_cast<uint64_t>(length) : 0;
    do {
        const auto want = static_cast<std::size_t>(std::min<uint64_t>(left, kTransferSize));
        const std::size_t got = want > 0 ? ReadPiece(fd, buffer.data() + pending, want) : 0;
        if (pending + got > 0) {
            send(std::string_view(buffer.data(), pending + got));
        }
        if (want > 0 && got == 0) {
            return;
        }
        left -= got;
        pending = 0;
    } while (left > 0);
}
