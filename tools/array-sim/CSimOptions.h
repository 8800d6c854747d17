// The simulator's command line and arrays file. Options given on the command line describe
// the one array, or, with --arrays, are the defaults that each line of the file builds on.
#pragma once

#include "tools/array-sim/CArrayConfig.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CSimOptions {
public:
    // An error text when the arguments are not usable.
    std::optional<std::string> Parse(const std::vector<std::string>& args);
    // Splits one arrays-file line into words: blanks separate, '...' is literal, "..." allows
    // \" and \\, and a backslash outside quotes takes the next character as it is.
    static std::optional<std::vector<std::string>> SplitLine(std::string_view line);
    static std::string Usage();

    std::vector<CArrayConfig> m_arrArrays;
    bool m_bHelp = false;
    std::string m_strReadyFile;
    std::string m_strPushPassword;
    bool m_bPush = false;
    std::string m_strManager;
    std::uint16_t m_nSlpPort = 427;
    std::uint16_t m_nHttpPort = 51000;
    std::vector<std::string> m_listDirectoryAgents; // --da, repeatable
    std::uint16_t m_nLifetime = 10800;              // --lifetime
    bool m_bDirectoryAgent = false;                 // --directory-agent
    std::string m_strForgedAdvert;                  // --forged-advert
    bool m_bTrace = false;                          // --trace

private:
    std::optional<std::string> ApplyAll(const std::vector<std::string>& args, CArrayConfig& array,
                                        bool global);
    std::optional<std::string> LoadArrays(const std::string& path, const CArrayConfig& defaults);
    std::string m_strArraysFile;
};
