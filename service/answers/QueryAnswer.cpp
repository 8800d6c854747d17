#include "service/answers/QueryAnswer.h"

#include "service/http/CheckBasicCredentials.h"

#include <string>

namespace {

// Whether the credentials still pass in the tables as they are now; the caller holds the guard.
bool StillPass(const CTablesView& tables, uint64_t generation,
               const CCheckedCredentials& credentials) {
    // The same generation is the same tables: nothing to check again on the usual path.
    if (generation == credentials.generation) {
        return true;
    }
    std::string name;
    return CheckBasicCredentials(credentials.encoded, name, tables.users) == kCredentialsOk;
}

} // namespace

CQueryAnswer QueryAnswer(const CServiceContext& context, std::string_view userName,
                         const CCheckedCredentials& credentials) {
    CQueryAnswer result;
    // Looked up and composed under the guard, sent after it is released: no lock waits on the
    // network, and the generation read is that of the tables the document shows.
    context.WithTablesSharedAt([&](const CTablesView& tables, uint64_t generation) {
        if (!StillPass(tables, generation, credentials)) {
            result.bCredentialsChanged = true;
            return;
        }
        result.answer = context.m_queryCache.Find(userName, generation);
        if (result.answer) {
            return;
        }
        auto composed = std::make_shared<CCachedQuery>();
        composed->generation = generation;
        BuildServerListDocument(tables, userName, composed->body,
                                context.m_pAudit ? &composed->served : nullptr,
                                &context.m_accessResolution);
        result.answer = composed;
        context.m_queryCache.Store(userName, generation, std::move(composed));
    });
    return result;
}
