// orvanectl's "ldap test" and what "status" shows of the site's LDAP directory. The test signs a
// user in step by step as the credential service would (on a connection of its own, off the
// window thread), and ends with the OrvaneSrv groups that the user's directory groups give.
#pragma once

#include "control/CControlDone.h"
#include "control/SealRequests.h"
#include "core/COrvaneSrvCore.h"
#include "platform/ui/IWindowThread.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// Window thread: runs "ldap ..." and answers through done once the steps are done. The password
// travels as "--password TEXT"; settingsFile is named when no directory is configured.
void RunLdapRequest(COrvaneSrvCore& core, const std::shared_ptr<IWindowThread>& window,
                    const std::vector<std::string>& args, const CControlDone& done,
                    const std::filesystem::path& settingsFile);
// The "ldap" field of status: none, or the directory's state and counts.
CSealStatusField LdapStatusField(const CLdapUsers* users);
