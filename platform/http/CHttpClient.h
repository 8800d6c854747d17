// A plain HTTP client for the requests the program makes of storage servers: one POST to
// host:port/path with a few headers of our own, the status code and a bounded body back. It never
// goes through a proxy (the arrays are on the local network, and their passwords must not travel
// anywhere else), never resolves a name (only an IPv4 address literal is contacted), never
// follows a redirect, and bounds both the connect and the whole request.
// Failures come back as libcurl's error number.
//
// One object per thread; objects on different threads run side by side.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct CHttpRequest {
    std::string strHost; // a plain IPv4 address (four decimal octets); nothing else is contacted
    uint16_t nPort = 80;
    std::string strPath = "/";
    std::vector<std::string> listHeaders; // sent as given, after the client's own
    std::string strBody;
    std::string strUserAgent;
    // Bytes of body kept; the response tells whether more came.
    std::size_t nBodyCapacity = 0;
    // When set, a response with another status ends as soon as its headers are in: its body is
    // neither read nor waited for.
    std::optional<long> nBodyOnlyForStatus;
    std::chrono::milliseconds connectTimeout{10000};
    std::chrono::milliseconds requestTimeout{30000};
};

struct CHttpResponse {
    int nError = 0;   // libcurl's error number; 0 when a response came back
    long nStatus = 0; // valid when nError is 0
    std::string strBody;
    bool bOverflow = false; // more body bytes came than nBodyCapacity; reading stopped there
};

class CHttpClient {
public:
    // libcurl's error number for a host text that is not a plain IPv4 address: never resolved,
    // never put into a URL.
    static constexpr int kErrorBadHost = 3; // CURLE_URL_MALFORMAT
    // libcurl's error number for a request that could not even be set up.
    static constexpr int kErrorFailedInit = 2; // CURLE_FAILED_INIT

    CHttpClient();
    ~CHttpClient();
    CHttpClient(const CHttpClient&) = delete;
    CHttpClient& operator=(const CHttpClient&) = delete;

    CHttpResponse Post(const CHttpRequest& request);

private:
    struct CHandleDeleter {
        void operator()(void* handle) const;
    };
    std::unique_ptr<void, CHandleDeleter> m_pHandle;
};
