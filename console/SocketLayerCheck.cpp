#include "console/SocketLayerCheck.h"

#include "platform/io/CUniqueFd.h"
#include "resources/ResourceIds.h"
#include "resources/StringTable.h"

#include <netinet/in.h>
#include <sys/socket.h>

bool CanCreateSocket() {
    const CUniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    return static_cast<bool>(fd);
}

bool CheckSocketLayer(IMessageBoxes& boxes, const std::function<bool()>& canCreateSocket) {
    if (canCreateSocket()) {
        return true;
    }
    boxes.Show(LoadString(IDS_SOCKETS_INIT_FAILED));
    return false;
}
