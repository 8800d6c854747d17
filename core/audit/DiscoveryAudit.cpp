// Discovery's audit records; see DiscoveryAudit.h.
#include "core/audit/DiscoveryAudit.h"

#include "core/COrvaneSrvCore.h"
#include "core/audit/AuditRecords.h"

void AddDiscoveryAudit(CServerDiscovery::CHooks& hooks, const COrvaneSrvCore& core) {
    hooks.addressConflict = [&core](std::u16string_view mac, std::u16string_view bound,
                                    std::string_view announcedAt) {
        core.Audit(AddressConflictRecord(mac, bound, announcedAt));
    };
    hooks.arrayPresence = [&core](const CArrayPresence& news) {
        core.Audit(ArrayPresenceRecord(news));
    };
}
