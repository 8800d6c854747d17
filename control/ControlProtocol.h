// The words that orvanectl and a running OrvaneSrv exchange over the control socket: one request
// (a list of arguments) and one reply (an exit status with the text for standard output and for
// standard error) per connection. Both ends read with bounded sizes and never trust a length.
//
// Request: "orvanectl-1\0", the argument count in decimal, "\0", then each argument and "\0".
// Reply:   the status, "\n", the length of the output, "\n", the output, the length of the
//          error text, "\n", the error text.
// Both ends send with SendAll and name the socket with SocketAddress.
//
// Progress: a request whose first argument is kProgressOption may get, before its reply,
//          lines of "+", the count of parts answered, " ", the count in all, "\n" (a login's
//          arrays): what orvanectl shows on a terminal while it waits.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/un.h>
#include <vector>

struct CControlReply {
    int nStatus = 0;
    std::string strOut;
    std::string strErr;
};

// A reply's exit statuses beside 0 (done), which orvanectl ends with.
inline constexpr int kFailedStatus = 1;   // refused, or failed
inline constexpr int kBadUsageStatus = 2; // the request's words are off

namespace ControlProtocol {

// The socket's file name, beside the directory store.
inline constexpr std::string_view kSocketName = "control.sock";

// The local socket address of path; nothing when path is too long for one.
std::optional<sockaddr_un> SocketAddress(const std::filesystem::path& path);
// Sends all of bytes, unless the peer leaves or stops reading first; answers whether all went.
bool SendAll(int fd, std::string_view bytes);

// What a request may hold at most: a login file's list of 10,000 arrays, each with its own user
// name and password, fits with room to spare; a peer still cannot make the copy hold much.
inline constexpr std::size_t kMaxRequestBytes = 8 * 1024 * 1024;
inline constexpr std::size_t kMaxArguments = 256;
// What a reply may hold at most: the rows of 10,000 arrays in JSON.
inline constexpr std::size_t kMaxReplyBytes = 64 * 1024 * 1024;

std::string EncodeRequest(const std::vector<std::string>& args);
// Answers the arguments once bytes hold a whole request; nothing while more must come. bad is
// set when the bytes can never become a request (wrong word, bad count, too long).
std::optional<std::vector<std::string>> DecodeRequest(std::string_view bytes, bool& bad);

inline constexpr std::string_view kProgressOption = "--progress";

struct CControlProgress {
    std::size_t nDone = 0;
    std::size_t nTotal = 0;
};

std::string EncodeProgress(CControlProgress progress);
// Takes the whole progress lines off the front of bytes; answers the last one. bad is set when
// the front can never be one.
std::optional<CControlProgress> TakeProgress(std::string& bytes, bool& bad);

std::string EncodeReply(const CControlReply& reply);
// The same for a reply.
std::optional<CControlReply> DecodeReply(std::string_view bytes, bool& bad);

} // namespace ControlProtocol
