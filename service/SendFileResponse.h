// The 200 response to a GET of a file: the file response header with the file's full 64-bit
// length, then the file's bytes read in pieces of kTransferSize, the first piece going out
// together with the header (one send fewer per request).
#pragma once

#include <cstddef>
#include <ctime>
#include <functional>
#include <string_view>

inline constexpr std::size_t kTransferSize = 5000;

// Receives each piece to send; the socket's Send in the service. Throws to end the transfer.
using FileSink = std::function<void(std::string_view piece)>;

// fd: a regular file open for reading. A file that shrinks while it is sent ends the body
// early: the client sees fewer bytes than the header announced.
void SendFileResponse(int fd, std::time_t now, const FileSink& send);
