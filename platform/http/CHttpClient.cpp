// The HTTP client on libcurl's easy interface: options of one request, a header callback that
// ends unwanted answers early, a body callback that keeps at most the capacity.
#include "platform/http/CHttpClient.h"

#include "platform/text/Ipv4Literal.h"

#include <algorithm>
#include <curl/curl.h>
#include <mutex>

namespace {

// libcurl's process-wide set-up, done once by whichever thread comes first. It is never undone:
// a worker may still be inside a request when the process ends.
void InitLibraryOnce() {
    static std::once_flag s_once;
    std::call_once(s_once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CSlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CSlist = std::unique_ptr<curl_slist, CSlistDeleter>;

// What the callbacks of one transfer share.
struct CTransfer {
    CURL* pHandle;
    const CHttpRequest& request;
    CHttpResponse& response;
    bool bStoppedEarly = false; // a callback ended the transfer on purpose
};

bool IsBlankLine(const char* data, std::size_t len) {
    return (len == 2 && data[0] == '\r' && data[1] == '\n') || (len == 1 && data[0] == '\n');
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& transfer = *static_cast<CTransfer*>(user);
    const std::size_t len = size * count;
    if (!transfer.request.nBodyOnlyForStatus || !IsBlankLine(data, len)) {
        return len;
    }
    long status = 0;
    curl_easy_getinfo(transfer.pHandle, CURLINFO_RESPONSE_CODE, &status);
    constexpr long kFirstFinalStatus = 200; // 1xx header blocks are followed by the real one
    if (status >= kFirstFinalStatus && status != *transfer.request.nBodyOnlyForStatus) {
        transfer.bStoppedEarly = true;
        return 0;
    }
    return len;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& transfer = *static_cast<CTransfer*>(user);
    const std::size_t len = size * count;
    std::string& body = transfer.response.strBody;
    const std::size_t room = transfer.request.nBodyCapacity - body.size();
    body.append(data, std::min(len, room));
    if (len > room) {
        transfer.response.bOverflow = true;
        transfer.bStoppedEarly = true;
        return 0;
    }
    return len;
}

void SetOptions(CURL* handle, const CHttpRequest& request, const std::string& url,
                curl_slist* headers, CTransfer& transfer) {
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    // An empty proxy overrides http_proxy and its kin from the environment; the exemption list
    // says the same once more for every host.
    curl_easy_setopt(handle, CURLOPT_PROXY, "");
    curl_easy_setopt(handle, CURLOPT_NOPROXY, "*");
    // Timeouts without SIGALRM: several requests run on threads side by side.
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(request.connectTimeout.count()));
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(request.requestTimeout.count()));
    curl_easy_setopt(handle, CURLOPT_POST, 1L);
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.strBody.data());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.strBody.size()));
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
    if (!request.strUserAgent.empty()) {
        curl_easy_setopt(handle, CURLOPT_USERAGENT, request.strUserAgent.c_str());
    }
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
}

} // namespace

void CHttpClient::CHandleDeleter::operator()(void* handle) const {
    curl_easy_cleanup(static_cast<CURL*>(handle));
}

CHttpClient::CHttpClient() {
    InitLibraryOnce();
    m_pHandle.reset(curl_easy_init());
}

CHttpClient::~CHttpClient() = default;

CHttpResponse CHttpClient::Post(const CHttpRequest& request) {
    CHttpResponse response;
    auto* handle = static_cast<CURL*>(m_pHandle.get());
    if (handle == nullptr) {
        response.nError = CURLE_FAILED_INIT;
        return response;
    }
    if (!IsIpv4Literal(request.strHost)) {
        response.nError = kErrorBadHost;
        return response;
    }
    CSlist headers;
    for (const std::string& header : request.listHeaders) {
        curl_slist* longer = curl_slist_append(headers.get(), header.c_str());
        if (longer == nullptr) {
            response.nError = CURLE_OUT_OF_MEMORY;
            return response;
        }
        (void)headers.release();
        headers.reset(longer);
    }
    const std::string url =
        "http://" + request.strHost + ":" + std::to_string(request.nPort) + request.strPath;
    // A fresh set of options each time; the connection cache of the handle stays.
    curl_easy_reset(handle);
    CTransfer transfer{handle, request, response};
    SetOptions(handle, request, url, headers.get(), transfer);
    const CURLcode result = curl_easy_perform(handle);
    if (result != CURLE_OK && !(result == CURLE_WRITE_ERROR && transfer.bStoppedEarly)) {
        response = CHttpResponse{};
        response.nError = result;
        return response;
    }
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &response.nStatus);
    return response;
}
