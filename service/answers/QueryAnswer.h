// The answer to a user's "/Query": the one composed earlier when the tables have not changed
// since, otherwise the document composed now (and kept for the next request). The credentials
// were checked when the headers arrived, and the body may come much later: under the guard that
// the answer is taken under, they are checked again whenever the tables changed in between, so
// that no answer outlives a change of the user's password or the user's deletion.
#pragma once

#include "service/CServiceContext.h"
#include "service/answers/CQueryCache.h"
#include "service/http/DirectorySignIn.h"

#include <cstdint>
#include <memory>
#include <string_view>

// The credentials a request's headers passed with.
struct CCheckedCredentials {
    // The "Authorization: Basic " value, as CheckBasicCredentials takes it.
    std::string_view encoded;
    uint64_t generation = 0; // of the tables they were checked against
    // A user of the site's directory: who, and the groups it was given (mapped again when the
    // tables changed). Null for a local user.
    CDirectoryIdentity* pDirectory = nullptr;
};

struct CQueryAnswer {
    // Null when there is none: the tables are gone (the service is stopping), or the credentials
    // no longer pass.
    std::shared_ptr<const CCachedQuery> answer;
    bool bCredentialsChanged = false;
};

// What the document handed out is recorded with it only when the run keeps an audit trail.
CQueryAnswer QueryAnswer(const CServiceContext& context, std::string_view userName,
                         const CCheckedCredentials& credentials);
