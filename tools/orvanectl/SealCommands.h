// orvanectl's commands for remembered authorizations: "seal-key new FILE", which needs no running
// copy, and "seal" and "unseal", whose passphrase is asked for here (or read from standard input)
// and handed to the running copy inside the request, never on a command line.
#pragma once

#include <string>
#include <vector>

// Whether args (command first) is one of these commands.
bool IsSealCommand(const std::vector<std::string>& args);
// Writes a new key file; answers the exit status.
int SealKeyNew(const std::vector<std::string>& args);
// Turns "seal ..." or "unseal ..." into the request; answers an exit status when orvanectl ends
// here (bad usage, no passphrase), -1 when the request is ready.
int BuildSealRequest(std::vector<std::string> args, std::vector<std::string>& request);
