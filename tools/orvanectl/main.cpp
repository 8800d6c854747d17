// orvanectl: manages the OrvaneSrv of the same user from a terminal. It checks its command line
// first (CCtlArguments: help, version, refusals of what can be judged here), turns it into one
// request on the running copy's control socket (beside the directory store), asks for
// a password where one is needed (without echo on a terminal, or from standard input with
// --password-stdin, never from the command line), and prints the copy's answer.
// "audit" alone reads the audit trail's files itself.
#include "control/CCtlArguments.h"
#include "control/ControlProtocol.h"
#include "control/LoginFile.h"
#include "core/CConfigFile.h"
#include "core/audit/CAuditQuery.h"
#include "core/audit/CAuditTrail.h"
#include "platform/io/CUniqueFd.h"
#include "platform/registry/CRegistryHive.h"
#include "tools/orvanectl/CWaitingLine.h"
#include "tools/orvanectl/SealCommands.h"
#include "tools/orvanectl/TerminalInput.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kNotRunning = 3;
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::size_t kMegabyte = 1024 * 1024;
// A login file of 10,000 arrays with comments between them fits many times over.
constexpr std::size_t kMaxLoginFileBytes = 64 * kMegabyte;

// How messages name a login file: standard input is "-" on the command line.
std::string LoginFileName(const std::string& file) {
    return file == "-" ? "standard input" : file;
}

int BadUsage(const std::string& why) {
    std::fprintf(stderr, "orvanectl: %s\n(orvanectl --help lists the commands)\n", why.c_str());
    return kBadUsageStatus;
}

// What login's --from FILE found, beside the list it put in the request.
struct CLoginFileUse {
    bool bUsed = false;
    bool bFromStdin = false;     // "--from -"
    bool bNeedsPassword = false; // a line has a MAC alone
    bool bMalformed = false;     // a line was left out
};

// The file's bytes, at most kMaxLoginFileBytes; nothing when it cannot be read (why says so).
std::optional<std::string> ReadLoginFile(const std::string& file, std::string& why) {
    std::ifstream opened;
    if (file != "-") {
        opened.open(file, std::ios::binary);
        if (!opened) {
            why = file + ": " + std::strerror(errno);
            return std::nullopt;
        }
    }
    std::istream& in = file == "-" ? std::cin : opened;
    std::string text;
    std::vector<char> chunk(kReadChunk);
    while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
        text.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaxLoginFileBytes) {
            why = LoginFileName(file) + " is larger than " +
                  std::to_string(kMaxLoginFileBytes / kMegabyte) + " MB";
            return std::nullopt;
        }
    }
    if (in.bad()) {
        why = LoginFileName(file) + ": cannot be read";
        return std::nullopt;
    }
    return text;
}

// login's --from FILE becomes "--list" and the arrays the file lists, each with its own
// credentials or with the command's; lines that cannot be used are told on standard error as
// "FILE:LINE: reason" and left out. Answers an exit status on failure, -1 otherwise.
int ExpandLoginFile(std::vector<std::string>& args, CLoginFileUse& use) {
    const auto from = std::find(args.begin(), args.end(), "--from");
    if (from == args.end()) {
        return -1;
    }
    if (std::next(from) == args.end()) {
        return BadUsage("--from needs a file");
    }
    const std::string file = *std::next(from);
    std::string why;
    const std::optional<std::string> text = ReadLoginFile(file, why);
    if (!text) {
        std::fprintf(stderr, "orvanectl: %s\n", why.c_str());
        return kFailedStatus;
    }
    const CLoginFileContent content = LoginFile::Parse(*text);
    for (const CLoginFileError& error : content.errors) {
        std::fprintf(stderr, "%s:%zu: %s\n", LoginFileName(file).c_str(), error.nLine,
                     error.reason.c_str());
    }
    if (content.entries.empty()) {
        std::fprintf(stderr,
                     content.errors.empty() ? "orvanectl: %s lists no MAC address\n"
                                            : "orvanectl: %s: no line left to log in with\n",
                     LoginFileName(file).c_str());
        return kFailedStatus;
    }
    use = {true, file == "-",
           std::ranges::any_of(content.entries,
                               [](const auto& entry) { return !entry.HasOwnCredentials(); }),
           !content.errors.empty()};
    *from = "--list";
    *std::next(from) = LoginFile::Encode(content.entries);
    return -1;
}

// An export never replaces a file unless --force says so; the running copy checks again when it
// creates the file, so that one made meanwhile is not replaced either.
int RefuseToReplace(const std::vector<std::string>& args) {
    if (std::ranges::find(args, "--force") != args.end()) {
        return -1;
    }
    std::filesystem::path file(args.back());
    // As the running copy: a name without an extension gets the file type's.
    if (!file.has_extension()) {
        file += CConfigFile::kExtension;
    }
    std::error_code ec;
    if (std::filesystem::symlink_status(file, ec).type() != std::filesystem::file_type::not_found) {
        std::fprintf(stderr, "orvanectl: %s exists: give --force to replace it\n", file.c_str());
        return kFailedStatus;
    }
    return -1;
}

// Turns the command line into the request's arguments: the password options become the
// password itself, file names become absolute (the running copy has a folder of its own).
int BuildRequest(std::vector<std::string> args, std::vector<std::string>& request,
                 CLoginFileUse& fileUse) {
    const std::string command = args[0];
    if (command == "export" || command == "import") {
        std::error_code ec;
        args.back() = std::filesystem::absolute(args.back(), ec).string();
    }
    if (command == "export") {
        if (const int status = RefuseToReplace(args); status >= 0) {
            return status;
        }
    }
    bool bStdin = false;
    const bool bLogin = command == "login";
    if (bLogin) {
        if (const int status = ExpandLoginFile(args, fileUse); status >= 0) {
            return status;
        }
    }
    // A login file whose every line has its own credentials takes no password.
    const bool bLoginPassword = bLogin && (!fileUse.bUsed || fileUse.bNeedsPassword);
    const bool bLdapTest = command == "ldap";
    bool bAsk =
        bLoginPassword || bLdapTest || (command == "user" && args.size() > 1 && args[1] == "add");
    for (auto it = args.begin(); it != args.end();) {
        if (*it == "--password-stdin" || *it == "--ask-password") {
            (*it == "--password-stdin" ? bStdin : bAsk) = true;
            bAsk = bAsk || bStdin;
            it = args.erase(it);
        } else if (*it == "--password") {
            return BadUsage("a password is never given on the command line: it is asked for, or "
                            "read with --password-stdin");
        } else {
            ++it;
        }
    }
    if (bAsk && !bLogin && !bLdapTest &&
        !(command == "user" && args.size() > 1 && args[1] != "del")) {
        return BadUsage("only login, user add, user set and ldap test take a password");
    }
    if (fileUse.bNeedsPassword && bStdin && fileUse.bFromStdin) {
        return BadUsage("--from - and --password-stdin both read standard input: give every line "
                        "of the file its own user and password, or name a file");
    }
    if (fileUse.bNeedsPassword && std::find(args.begin(), args.end(), "--user") == args.end()) {
        return BadUsage("a line of the login file with a MAC alone needs --user");
    }
    bAsk = bAsk && (!bLogin || bLoginPassword);
    if (bAsk) {
        std::string why;
        // A login checks the password against the arrays: asked once.
        const std::optional<std::string> password =
            AskSecret(bStdin, !bLogin && !bLdapTest, {"password", "--password-stdin"}, why);
        if (!password) {
            std::fprintf(stderr, "orvanectl: %s\n", why.c_str());
            return kFailedStatus;
        }
        args.emplace_back("--password");
        args.push_back(*password);
    }
    request = std::move(args);
    return -1;
}

// Connects to the running copy; answers an invalid descriptor with errno set when none runs.
CUniqueFd Connect(const std::filesystem::path& path) {
    const std::optional<sockaddr_un> address = ControlProtocol::SocketAddress(path);
    if (!address) {
        errno = ENAMETOOLONG;
        return {};
    }
    CUniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd ||
        ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
        return {};
    }
    return fd;
}

std::optional<CControlReply> ReadReply(int fd, CWaitingLine& line) {
    std::string bytes;
    std::vector<char> chunk(kReadChunk);
    for (;;) {
        pollfd ready{fd, POLLIN, 0};
        const int polled = ::poll(&ready, 1, line.PollTimeoutMs());
        if (polled == 0) {
            line.Tick();
            continue;
        }
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        const ssize_t got = ::recv(fd, chunk.data(), chunk.size(), 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return std::nullopt;
        }
        bytes.append(chunk.data(), static_cast<std::size_t>(got));
        bool bad = false;
        if (const auto progress = ControlProtocol::TakeProgress(bytes, bad)) {
            line.Show(*progress);
        }
        auto reply = bad ? std::nullopt : ControlProtocol::DecodeReply(bytes, bad);
        if (reply || bad) {
            return reply;
        }
    }
}

// Reads the trail's files directly: it needs no running copy.
int Audit(const std::vector<std::string>& args) {
    CAuditQuery query;
    bool bJson = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option == "--json") {
            bJson = true;
            continue;
        }
        const std::string& value = args[++i];
        if (option == "--since") {
            const auto since = CAuditQuery::SinceText(value, CAuditRecord::Clock::now());
            if (!since) {
                return BadUsage("audit: --since takes a UTC date or time such as "
                                "2026-12-09T21:00, or an age such as 30m, 12h or 7d");
            }
            query.since = *since;
        } else if (option == "--user") {
            query.user = value;
        } else if (option == "--mac") {
            query.mac = value;
        } else {
            query.event = value;
        }
    }
    const std::filesystem::path file = CAuditTrail::DefaultFilePath();
    if (file.empty()) {
        std::fputs("orvanectl: no home directory to find the audit trail in\n", stderr);
        return kFailedStatus;
    }
    const std::vector<std::string> lines = query.Read(file);
    if (bJson) {
        for (const std::string& line : lines) {
            std::fwrite(line.data(), 1, line.size(), stdout);
            std::fputc('\n', stdout);
        }
    } else {
        const std::string table = CAuditQuery::Table(lines);
        std::fwrite(table.data(), 1, table.size(), stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const CCtlArguments::CResult checked =
        CCtlArguments::Check(std::vector<std::string>(argv + 1, argv + argc), ORVANECTL_VERSION);
    switch (checked.eOutcome) {
    case CCtlArguments::EOutcome::Help:
    case CCtlArguments::EOutcome::Version:
        std::fputs(checked.text.c_str(), stdout);
        return 0;
    case CCtlArguments::EOutcome::BadUsage:
        return BadUsage(checked.text);
    case CCtlArguments::EOutcome::Run:
        break;
    }
    std::vector<std::string> args = checked.args;
    if (args[0] == "audit") {
        return Audit(args);
    }
    if (args[0] == "seal-key") {
        std::erase(args, std::string("--"));
        return SealKeyNew(args);
    }
    std::vector<std::string> request;
    CLoginFileUse fileUse;
    const int status = IsSealCommand(args) ? BuildSealRequest(args, request)
                                           : BuildRequest(args, request, fileUse);
    if (status >= 0) {
        return status;
    }
    const std::string command = request[0];
    CWaitingLine line(command == "login"     ? "logging in"
                      : command == "refresh" ? "discovering"
                                             : nullptr);
    // A login tells how many arrays have answered to a terminal that shows it.
    if (command == "login" && line.IsShown()) {
        request.insert(request.begin(), std::string(ControlProtocol::kProgressOption));
    }
    const std::string bytes = ControlProtocol::EncodeRequest(request);
    if (bytes.size() > ControlProtocol::kMaxRequestBytes) {
        std::fprintf(stderr,
                     "orvanectl: the request is larger than the %zu MB OrvaneSrv takes; "
                     "split the login file\n",
                     ControlProtocol::kMaxRequestBytes / kMegabyte);
        return kFailedStatus;
    }
    const auto socketPath =
        CRegistryHive::DefaultPath().parent_path() / ControlProtocol::kSocketName;
    const CUniqueFd fd = Connect(socketPath);
    if (!fd) {
        if (errno == ENOENT || errno == ECONNREFUSED) {
            std::fputs("OrvaneSrv is not running for this user\n", stderr);
        } else {
            std::fprintf(stderr, "orvanectl: cannot reach OrvaneSrv at %s: %s\n",
                         socketPath.c_str(), std::strerror(errno));
        }
        return kNotRunning;
    }
    std::optional<CControlReply> reply;
    if (ControlProtocol::SendAll(fd.Get(), bytes)) {
        reply = ReadReply(fd.Get(), line);
    }
    if (!reply) {
        std::fputs("orvanectl: OrvaneSrv closed the connection without an answer\n", stderr);
        return kFailedStatus;
    }
    std::fwrite(reply->strOut.data(), 1, reply->strOut.size(), stdout);
    std::fwrite(reply->strErr.data(), 1, reply->strErr.size(), stderr);
    // The lines of the login file that were left out fail the command too.
    return reply->nStatus == 0 && fileUse.bMalformed ? kFailedStatus : reply->nStatus;
}
