// orvanectl: manages the OrvaneSrv of the same user from a terminal. It turns its command line
// into one request on the running copy's control socket (beside the directory store), asks for
// a password where one is needed (without echo on a terminal, or from standard input with
// --password-stdin, never from the command line), and prints the copy's answer.
// "audit" alone reads the audit trail's files itself.
#include "control/ControlProtocol.h"
#include "control/LoginFile.h"
#include "core/audit/CAuditQuery.h"
#include "core/audit/CAuditTrail.h"
#include "platform/io/CUniqueFd.h"
#include "platform/registry/CRegistryHive.h"
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
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFailed = 1;
constexpr int kBadUsage = 2;
constexpr int kNotRunning = 3;
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::size_t kMegabyte = 1024 * 1024;
// A login file of 10,000 arrays with comments between them fits many times over.
constexpr std::size_t kMaxLoginFileBytes = 64 * kMegabyte;

constexpr const char* kUsage =
    "usage: orvanectl COMMAND [ARGS]\n"
    "\n"
    "  status [--json]                      the running copy: version, process, store, folder,\n"
    "                                       port, arrays, users, groups, last pass\n"
    "  servers [--json]                     the arrays on the System tab\n"
    "  refresh                              start a discovery pass and wait for its end\n"
    "  users [--json]                       the users and their groups\n"
    "  groups [--json]                      the groups, their members and their access\n"
    "  user add NAME [--groups G,...] [--password-stdin]\n"
    "  user set NAME [--groups G,...] [--ask-password | --password-stdin]\n"
    "  user del NAME\n"
    "  group add NAME [--members U,...] [--access MAC,...]\n"
    "  group set NAME [--members U,...] [--access MAC,...]\n"
    "  group del NAME\n"
    "  login (--all | MAC... | MAC --address IP) --user NAME [--password-stdin]\n"
    "  login --from FILE [--user NAME] [--password-stdin]\n"
    "                                       check administrator credentials on the arrays;\n"
    "                                       --all reaches only known arrays (logged in to\n"
    "                                       before, or in a group's access list) at their own\n"
    "                                       address; --address moves an array whose address\n"
    "                                       changed; FILE (- for standard input) has a line\n"
    "                                       per array: MAC,user,password (a field in double\n"
    "                                       quotes may hold commas, a quote written twice),\n"
    "                                       or a MAC alone for --user and the password asked;\n"
    "                                       '#' starts a comment line\n"
    "  export FILE                          write the directory to a configuration file\n"
    "  import FILE                          merge a configuration file into the directory\n"
    "  seal [--passphrase-stdin]             remember the arrays' authorizations across restarts,\n"
    "                                       sealed under a passphrase (asked twice)\n"
    "  seal --off                           forget them and remove the sealed file\n"
    "  unseal [--passphrase-stdin]          open the sealed file after a start\n"
    "  seal-key new FILE                    write a new key file for --seal-key\n"
    "  audit [--since TIME] [--user NAME] [--mac MAC] [--event KIND] [--json]\n"
    "                                       the audit trail's records, newest last; TIME is a\n"
    "                                       UTC date or time (2026-12-09T21:00) or an age (30m,\n"
    "                                       12h, 7d)\n"
    "\n"
    "A password is asked for without echo on the terminal, or read as one line from standard\n"
    "input with --password-stdin. Exit status: 0 done, 1 refused or failed, 2 bad usage,\n"
    "3 OrvaneSrv is not running for this user.\n";

// How messages name a login file: standard input is "-" on the command line.
std::string LoginFileName(const std::string& file) {
    return file == "-" ? "standard input" : file;
}

int BadUsage(const std::string& why) {
    std::fprintf(stderr, "orvanectl: %s\n%s", why.c_str(), kUsage);
    return kBadUsage;
}

// The password for a request: from standard input, or asked on the terminal (twice to confirm
// a new one).
std::optional<std::string> AskPassword(bool bFromStdin, bool bConfirm, std::string& why) {
    return AskSecret(bFromStdin, bConfirm, CSecretWords{"password", "--password-stdin"}, why);
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
        return kFailed;
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
        return kFailed;
    }
    use = {true, file == "-",
           std::ranges::any_of(content.entries,
                               [](const auto& entry) { return !entry.HasOwnCredentials(); }),
           !content.errors.empty()};
    *from = "--list";
    *std::next(from) = LoginFile::Encode(content.entries);
    return -1;
}

// Turns the command line into the request's arguments: the password options become the
// password itself, file names become absolute (the running copy has a folder of its own).
int BuildRequest(int argc, char** argv, std::vector<std::string>& request, CLoginFileUse& fileUse) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        return BadUsage("no command");
    }
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if ((command == "export" || command == "import") && args.size() == 2) {
        std::error_code ec;
        args[1] = std::filesystem::absolute(args[1], ec).string();
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
    bool bAsk = bLoginPassword || (command == "user" && args.size() > 1 && args[1] == "add");
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
    if (bAsk && !bLogin && !(command == "user" && args.size() > 1 && args[1] != "del")) {
        return BadUsage("only login, user add and user set take a password");
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
        const std::optional<std::string> password = AskPassword(bStdin, !bLogin, why);
        if (!password) {
            std::fprintf(stderr, "orvanectl: %s\n", why.c_str());
            return kFailed;
        }
        args.emplace_back("--password");
        args.push_back(*password);
    }
    request = std::move(args);
    return -1;
}

// Connects to the running copy; answers an invalid descriptor with errno set when none runs.
CUniqueFd Connect(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string text = path.string();
    if (text.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return {};
    }
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    CUniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd ||
        ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return {};
    }
    return fd;
}

bool SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

std::optional<CControlReply> ReadReply(int fd) {
    std::string bytes;
    std::vector<char> chunk(kReadChunk);
    for (;;) {
        const ssize_t got = ::recv(fd, chunk.data(), chunk.size(), 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return std::nullopt;
        }
        bytes.append(chunk.data(), static_cast<std::size_t>(got));
        bool bad = false;
        if (auto reply = ControlProtocol::DecodeReply(bytes, bad)) {
            return reply;
        }
        if (bad) {
            return std::nullopt;
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
        if (i + 1 >= args.size()) {
            return BadUsage("audit: " + option + " needs a value or is unknown");
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
        } else if (option == "--event") {
            query.event = value;
        } else {
            return BadUsage("audit: unknown option " + option);
        }
    }
    const std::filesystem::path file = CAuditTrail::DefaultFilePath();
    if (file.empty()) {
        std::fputs("orvanectl: no home directory to find the audit trail in\n", stderr);
        return kFailed;
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
    if (argc >= 2 && std::string_view(argv[1]) == "audit") {
        return Audit(std::vector<std::string>(argv + 1, argv + argc));
    }
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "seal-key") {
        return SealKeyNew(args);
    }
    std::vector<std::string> request;
    CLoginFileUse fileUse;
    const int status = IsSealCommand(args) ? BuildSealRequest(args, request)
                                           : BuildRequest(argc, argv, request, fileUse);
    if (status >= 0) {
        return status;
    }
    const std::string bytes = ControlProtocol::EncodeRequest(request);
    if (bytes.size() > ControlProtocol::kMaxRequestBytes) {
        std::fprintf(stderr,
                     "orvanectl: the request is larger than the %zu MB OrvaneSrv takes; "
                     "split the login file\n",
                     ControlProtocol::kMaxRequestBytes / kMegabyte);
        return kFailed;
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
    if (SendAll(fd.Get(), bytes)) {
        reply = ReadReply(fd.Get());
    }
    if (!reply) {
        std::fputs("orvanectl: OrvaneSrv closed the connection without an answer\n", stderr);
        return kFailed;
    }
    std::fwrite(reply->strOut.data(), 1, reply->strOut.size(), stdout);
    std::fwrite(reply->strErr.data(), 1, reply->strErr.size(), stderr);
    // The lines of the login file that were left out fail the command too.
    return reply->nStatus == 0 && fileUse.bMalformed ? kFailed : reply->nStatus;
}
