#include "service/answers/QueryAnswer.h"

#include "service/http/CheckBasicCredentials.h"

#include <string>

namespace {

constexpr char kLocalKeyMark = 'u';

// Whether the credentials still pass in the tables as they are now; the caller holds the guard.
bool StillPass(const CServiceContext& context, const CTablesView& tables, uint64_t generation,
               std::string_view userName, const CCheckedCredentials& credentials) {
    // The same generation is the same tables: nothing to check again on the usual path.
    if (generation == credentials.generation) {
        return true;
    }
    if (credentials.pDirectory != nullptr) {
        return MapDirectoryGroups(tables, userName, *credentials.pDirectory,
                                  context.m_mappedGroups);
    }
    std::string name;
    return CheckBasicCredentials(credentials.encoded, name, tables.users) == kCredentialsOk;
}

// Local users' answers are filed under their names, directory users' under their groups; the
// mark before each keeps the two apart whatever a name holds.
std::string CacheKey(std::string_view userName, const CCheckedCredentials& credentials) {
    if (credentials.pDirectory != nullptr) {
        return DirectoryCacheKey(*credentials.pDirectory);
    }
    std::string key;
    key.reserve(userName.size() + 1);
    key += kLocalKeyMark;
    key += userName;
    return key;
}

void Compose(const CServiceContext& context, const CTablesView& tables, std::string_view userName,
             const CCheckedCredentials& credentials, CCachedQuery& composed) {
    CServedServers* served = context.m_pAudit ? &composed.served : nullptr;
    if (credentials.pDirectory != nullptr) {
        BuildServerListDocumentFor(tables, credentials.pDirectory->mapped, composed.body, served,
                                   &context.m_accessResolution);
    } else {
        BuildServerListDocument(tables, userName, composed.body, served,
                                &context.m_accessResolution);
    }
}

} // namespace

CQueryAnswer QueryAnswer(const CServiceContext& context, std::string_view userName,
                         const CCheckedCredentials& credentials) {
    CQueryAnswer result;
    // Looked up and composed under the guard, sent after it is released: no lock waits on the
    // network, and the generation read is that of the tables the document shows.
    context.WithTablesSharedAt([&](const CTablesView& tables, uint64_t generation) {
        if (!StillPass(context, tables, generation, userName, credentials)) {
            result.bCredentialsChanged = true;
            return;
        }
        const std::string key = CacheKey(userName, credentials);
        result.answer = context.m_queryCache.Find(key, generation);
        if (result.answer) {
            return;
        }
        auto composed = std::make_shared<CCachedQuery>();
        composed->generation = generation;
        Compose(context, tables, userName, credentials, *composed);
        result.answer = composed;
        context.m_queryCache.Store(key, generation, std::move(composed));
    });
    return result;
}
