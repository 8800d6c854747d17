// The answer to a user's "/Query": the one composed earlier when the tables have not changed
// since, otherwise the document composed now (and kept for the next request).
#pragma once

#include "service/CQueryCache.h"
#include "service/CServiceContext.h"

#include <memory>
#include <string_view>

// Null once the tables are gone (the service is stopping). What the document handed out is
// recorded with it only when the run keeps an audit trail.
std::shared_ptr<const CCachedQuery> QueryAnswer(const CServiceContext& context,
                                                std::string_view userName);
