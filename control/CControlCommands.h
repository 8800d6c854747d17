// The commands that orvanectl sends, run on the window thread through the same directory
// messages, checks and texts as the console's buttons and dialogs: status, servers, users,
// groups, group show, user and group add/set/del, export, import, refresh and login (with one
// password for every array, or each array's own from a login file). Output for people is an
// aligned table; --json gives one JSON document, --csv (servers, users) RFC 4180 lines with a
// header for spreadsheets. MACs typed are matched to the arrays' own without regard to letter
// case.
#pragma once

#include "control/CControlChannel.h"
#include "control/CControlLogin.h"
#include "control/IControlTarget.h"
#include "control/TextTable.h"
#include "storage/CLoginClient.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class CControlCommands {
public:
    // What status reports beside the tables.
    struct CInfo {
        std::string version;
        std::string storePath;
        std::string wwwDir;
        int nPort = 0;
    };

    CControlCommands(IControlTarget& target, CInfo info);
    // The arrays' port and the timeouts of "login", as the window's Login button has them.
    void SetLoginOptions(CLoginOptions options) { m_loginOptions = std::move(options); }

    // Window thread: runs one request and answers through done (at once, or when a pass ends).
    void Run(const std::vector<std::string>& args, const CControlChannel::CDone& done);

    // How a listing is written: an aligned table, one JSON document, or CSV lines.
    enum class EFormat { Text, Json, Csv };

private:
    CControlReply Status(EFormat format);
    CControlReply ServerRows(EFormat format);
    CControlReply Users(EFormat format);
    CControlReply Groups(EFormat format);
    CControlReply GroupShow(const std::vector<std::string>& args);
    CControlReply User(const std::vector<std::string>& args);
    CControlReply Group(const std::vector<std::string>& args);
    CControlReply ConfigFile(const std::vector<std::string>& args);
    void Refresh(const CControlChannel::CDone& done);
    void Login(const std::vector<std::string>& args, const CControlChannel::CDone& done);

    IControlTarget& m_target;
    CInfo m_info;
    CLoginOptions m_loginOptions;
    // Running until every array answered or the peer hung up, by a number of their own.
    std::map<uint64_t, std::unique_ptr<CControlLogin>> m_logins;
    uint64_t m_nLastLogin = 0;
};
