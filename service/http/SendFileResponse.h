// The 200 response to a GET of a file: the file response header with the file's full 64-bit
// length, then the file's bytes. A small file is read and goes out together with the header in
// one send; a larger one follows its header straight from the page cache (sendfile).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string_view>

inline constexpr std::size_t kTransferSize = 5000;

// Where the response goes: the connection's socket in the service. Either call throws to end
// the transfer.
class IFileSink {
public:
    virtual ~IFileSink() = default;
    // bMore: the file's bytes follow at once.
    virtual void Send(std::string_view bytes, bool bMore) = 0;
    // Sends nBytes of fd from offset; answers how many went out, fewer only when the file ended.
    virtual uint64_t SendFile(int fd, uint64_t offset, uint64_t nBytes) = 0;
};

// fd: a regular file open for reading. A file that shrinks while it is sent ends the body
// early: the client sees fewer bytes than the header announced.
void SendFileResponse(int fd, std::time_t now, IFileSink& sink);
