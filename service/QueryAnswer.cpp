#include "service/QueryAnswer.h"

std::shared_ptr<const CCachedQuery> QueryAnswer(const CServiceContext& context,
                                                std::string_view userName) {
    std::shared_ptr<const CCachedQuery> answer;
    // Looked up and composed under the guard, sent after it is released: no lock waits on the
    // network, and the generation read is that of the tables the document shows.
    const bool bAlive =
        context.WithTablesSharedAt([&](const COrvaneSrvCore& core, uint64_t generation) {
            answer = context.m_queryCache.Find(userName, generation);
            if (answer) {
                return;
            }
            auto composed = std::make_shared<CCachedQuery>();
            composed->generation = generation;
            BuildServerListDocument(core, userName, composed->body,
                                    context.m_pAudit ? &composed->served : nullptr);
            answer = composed;
            context.m_queryCache.Store(userName, generation, std::move(composed));
        });
    return bAlive ? answer : nullptr;
}
