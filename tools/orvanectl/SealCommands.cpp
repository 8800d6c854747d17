// The seal commands' side in orvanectl: the key file, the passphrase and the request's words.
#include "tools/orvanectl/SealCommands.h"

#include "control/ControlProtocol.h"
#include "core/seal/SealKeyFile.h"
#include "tools/orvanectl/TerminalInput.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace {

// Shorter passphrases are refused when remembering is turned on: the sealed file can be copied
// and guessed at offline.
constexpr std::size_t kMinPassphrase = 12;

int Usage(const char* why) {
    std::fprintf(stderr,
                 "orvanectl: %s\nusage: orvanectl seal-key new FILE\n"
                 "       orvanectl seal [--passphrase-stdin] | seal --off\n"
                 "       orvanectl unseal [--passphrase-stdin]\n",
                 why);
    return kBadUsageStatus;
}

} // namespace

bool IsSealCommand(const std::vector<std::string>& args) {
    return !args.empty() && (args[0] == "seal" || args[0] == "unseal" || args[0] == "seal-key");
}

int SealKeyNew(const std::vector<std::string>& args) {
    if (args.size() != 3 || args[1] != "new") {
        return Usage("seal-key takes: new FILE");
    }
    if (const std::string error = CreateSealKeyFile(args[2]); !error.empty()) {
        std::fprintf(stderr, "orvanectl: %s\n", error.c_str());
        return kFailedStatus;
    }
    std::error_code ec;
    std::printf("wrote a new seal key to %s (mode 0600); start OrvaneSrv with --seal-key %s\n",
                std::filesystem::absolute(args[2], ec).c_str(), args[2].c_str());
    return 0;
}

int BuildSealRequest(std::vector<std::string> args, std::vector<std::string>& request) {
    const bool bSeal = args[0] == "seal";
    const bool bStdin = std::erase(args, std::string("--passphrase-stdin")) != 0;
    const bool bOff = bSeal && std::erase(args, std::string("--off")) != 0;
    if (args.size() != 1) {
        return Usage(("unknown argument " + args.back()).c_str());
    }
    if (bOff) {
        if (bStdin) {
            return Usage("seal --off takes no passphrase");
        }
        request = {"seal", "--off"};
        return -1;
    }
    std::string why;
    // Turning remembering on asks twice, as for a new password; opening asks once.
    const auto passphrase =
        AskSecret(bStdin, bSeal, CSecretWords{"passphrase", "--passphrase-stdin"}, why);
    if (!passphrase) {
        std::fprintf(stderr, "orvanectl: %s\n", why.c_str());
        return kFailedStatus;
    }
    if (bSeal && passphrase->size() < kMinPassphrase) {
        std::fprintf(stderr, "orvanectl: a passphrase has at least %zu characters\n",
                     kMinPassphrase);
        return kFailedStatus;
    }
    request = {args[0], "--passphrase", *passphrase};
    return -1;
}
