#include "tools/array-sim/CSimOptions.h"

#include <arpa/inet.h>
#include <charconv>
#include <fstream>

namespace {

std::optional<std::uint16_t> Port(const std::string& text) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

} // namespace

std::string CSimOptions::Usage() {
    return R"(usage: orvane-array-sim [options]
       orvane-array-sim --arrays FILE [default options]
       orvane-array-sim --address A --mac M --push-password NEW --manager HOST[:PORT]
       orvane-array-sim --directory-agent --address A [--scope S]

Simulates storage arrays on the local network: each one announces
service:raid.004417://<address> over SLP (scope "default") with its attributes and
answers the administrator login on HTTP port 51000 of its address.
Each array registers with the SLP directory agents it knows of (--da, and those
that advertise themselves or answer its discovery requests), renews its
registration before the lifetime runs out, registers again when an agent has
rebooted, and deregisters when it stops.
Run it only inside a network namespace made for testing.

Array options (on the command line for one array, or on each line of --arrays):
  --address A          IPv4 address the array serves on; also the host of its URL (required)
  --url-host H         announce service:raid.004417://H instead, H an IPv4 address: the
                       array answers for another host, as a proxy or a static
                       registration does (for tests)
  --mac M              announce attribute "mac"
  --hostname H         announce attribute "hostname"
  --vendor V           announce attribute "vendor"
  --type T             announce attribute "type"
  --model M            announce attribute "model"
  --product P          announce attribute "product"
  --version V          announce attribute "version"
                       (an attribute whose option is not given is not announced)
  --omit LIST          stop announcing these attributes, e.g. "type,model"
  --admin-user U       administrator user name accepted by the login (default "admin")
  --admin-password P   administrator password accepted by the login (default empty)
  --scope S            SLP scope the array is registered in (default "default")
  --body TEXT          body of the 200 login answer
  --http-mode MODE     normal (200/401), 404 (every request answered 404), status (answer
                       --http-status), oversize (a 200 body of 100000 bytes), silent
                       (accept connections and never answer)
  --http-status N      the status for --http-mode status (implies it)
  --http-delay-ms N    hold each HTTP answer back N ms (0 to 60000) once its request is in
  --slp-mode MODE      normal, silent (never answers SLP requests; still registers with
                       directory agents), garbage (answers every request with
                       malformed replies), or, hostile peers for tests, no-attrs
                       (answers searches, never attribute requests), many-macs
                       (announces 410 URLs of its own address, URL k with the MAC
                       of the lab's array k) and flood
                       (answers searches with 1,700 more URLs of absent hosts)

Process options:
  --arrays FILE        many arrays: one per line, written with the array options above;
                       options on the command line are the defaults for every line.
                       Blank lines and lines starting with # are skipped.
  --ready-file PATH    create PATH once every socket is bound
  --slp-port N         SLP port (default 427)
  --http-port N        HTTP port (default 51000)
  --da ADDR            register every array with the directory agent at ADDR
                       (repeatable)
  --lifetime SECONDS   lifetime of the registrations (default 10800)
  --trace              print a line for each SLP request: how it came (multicast,
                       unicast, tcp), its kind and its service type or URL; and one
                       for each connection to the HTTP port
  --directory-agent    instead of arrays, run a TEST DOUBLE of an SLP directory agent
                       on --address for --scope: it answers DA discovery, accepts
                       registrations and answers service and attribute requests
                       from them. It is for this project's tests only; a site runs
                       its standard SLP directory agent.
  --forged-advert HOST with --directory-agent: a forged agent, a hostile peer for tests;
                       its adverts name HOST and it drops every registration
  --push-password NEW  instead of serving, send the new administrator password to a
                       management server: POST /UpdateAdminPasswd?<mac> with NEW as the first
                       body line, print the answer and exit (needs --address, --mac and
                       --manager)
  --manager HOST[:P]   the management server for --push-password (port 51001 by default)
  --help               this text
)";
}

std::optional<std::vector<std::string>> CSimOptions::SplitLine(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (inWord) {
                words.push_back(std::move(word));
                word.clear();
                inWord = false;
            }
            continue;
        }
        inWord = true;
        if (c == '\'') {
            std::size_t close = line.find('\'', i + 1);
            if (close == std::string_view::npos) {
                return std::nullopt;
            }
            word.append(line.substr(i + 1, close - i - 1));
            i = close;
        } else if (c == '"') {
            for (++i; i < line.size() && line[i] != '"'; ++i) {
                if (line[i] == '\\' && i + 1 < line.size() &&
                    (line[i + 1] == '"' || line[i + 1] == '\\')) {
                    ++i;
                }
                word += line[i];
            }
            if (i >= line.size()) {
                return std::nullopt;
            }
        } else if (c == '\\') {
            if (i + 1 >= line.size()) {
                return std::nullopt;
            }
            word += line[++i];
        } else {
            word += c;
        }
    }
    if (inWord) {
        words.push_back(std::move(word));
    }
    return words;
}

std::optional<std::string> CSimOptions::ApplyAll(const std::vector<std::string>& args,
                                                 CArrayConfig& array, bool global) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (arg.rfind("--", 0) != 0) {
            return "unexpected argument \"" + arg + "\" (see --help)";
        }
        std::string name = arg.substr(2);
        std::optional<std::string> value;
        if (std::size_t equals = name.find('='); equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        if (name == "help" && global) {
            m_bHelp = true;
            continue;
        }
        if ((name == "directory-agent" || name == "trace") && global) {
            (name == "trace" ? m_bTrace : m_bDirectoryAgent) = true;
            continue;
        }
        bool known =
            CArrayConfig::IsArrayOption(name) ||
            (global && (name == "arrays" || name == "ready-file" || name == "push-password" ||
                        name == "manager" || name == "slp-port" || name == "http-port" ||
                        name == "da" || name == "lifetime" || name == "forged-advert"));
        if (!known) {
            return "unknown option --" + name + (global ? " (see --help)" : "");
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                return "option --" + name + " needs a value";
            }
            value = args[++i];
        }
        if (CArrayConfig::IsArrayOption(name)) {
            if (std::optional<std::string> error = array.Apply(name, *value)) {
                return error;
            }
        } else if (name == "arrays") {
            m_strArraysFile = *value;
        } else if (name == "ready-file") {
            m_strReadyFile = *value;
        } else if (name == "push-password") {
            m_strPushPassword = *value;
            m_bPush = true;
        } else if (name == "manager") {
            m_strManager = *value;
        } else if (name == "da") {
            in_addr parsed{};
            if (::inet_pton(AF_INET, value->c_str(), &parsed) != 1) {
                return "--da needs an IPv4 address, not \"" + *value + "\"";
            }
            m_listDirectoryAgents.push_back(*value);
        } else if (name == "forged-advert") {
            in_addr parsed{};
            if (::inet_pton(AF_INET, value->c_str(), &parsed) != 1) {
                return "--forged-advert needs an IPv4 address, not \"" + *value + "\"";
            }
            m_strForgedAdvert = *value;
        } else if (name == "lifetime") {
            std::optional<std::uint16_t> seconds = Port(*value);
            if (!seconds) {
                return "--lifetime needs seconds from 1 to 65535, not \"" + *value + "\"";
            }
            m_nLifetime = *seconds;
        } else if (std::optional<std::uint16_t> port = Port(*value)) {
            (name == "slp-port" ? m_nSlpPort : m_nHttpPort) = *port;
        } else {
            return "option --" + name + " needs a port from 1 to 65535, not \"" + *value + "\"";
        }
    }
    return std::nullopt;
}

std::optional<std::string> CSimOptions::LoadArrays(const std::string& path,
                                                   const CArrayConfig& defaults) {
    std::ifstream file(path);
    if (!file) {
        return "cannot read arrays file " + path;
    }
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        std::optional<std::vector<std::string>> words = SplitLine(line);
        std::string where = path + ":" + std::to_string(number) + ": ";
        if (!words) {
            return where + "unbalanced quote or trailing backslash";
        }
        if (words->empty() || words->front().front() == '#') {
            continue;
        }
        CArrayConfig array = defaults;
        if (std::optional<std::string> error = ApplyAll(*words, array, false)) {
            return where + *error;
        }
        if (array.m_strAddress.empty()) {
            return where + "the array has no --address";
        }
        m_arrArrays.push_back(std::move(array));
    }
    if (m_arrArrays.empty()) {
        return "arrays file " + path + " describes no array";
    }
    return std::nullopt;
}

std::optional<std::string> CSimOptions::Parse(const std::vector<std::string>& args) {
    CArrayConfig defaults;
    if (std::optional<std::string> error = ApplyAll(args, defaults, true)) {
        return error;
    }
    if (m_bHelp) {
        return std::nullopt;
    }
    if (m_bDirectoryAgent &&
        (m_bPush || !m_strArraysFile.empty() || !m_listDirectoryAgents.empty())) {
        return "--directory-agent runs alone, without --arrays, --da or --push-password";
    }
    if (!m_strForgedAdvert.empty() && !m_bDirectoryAgent) {
        return "--forged-advert needs --directory-agent";
    }
    if (!m_strArraysFile.empty()) {
        if (m_bPush) {
            return "--push-password works for one array, not with --arrays";
        }
        return LoadArrays(m_strArraysFile, defaults);
    }
    if (defaults.m_strAddress.empty()) {
        return "missing --address (see --help)";
    }
    if (m_bPush && (m_strManager.empty() || !defaults.Attribute("mac"))) {
        return "--push-password needs --mac and --manager";
    }
    m_arrArrays.push_back(std::move(defaults));
    return std::nullopt;
}
