// The plain words of login endings; see LoginWords.h.
#include "control/LoginWords.h"

#include "platform/text/TextConv.h"

#include <array>
#include <chrono>

namespace {

// libcurl's error numbers that an operator can act on; any other is named by its number.
constexpr long kCurlFailedInit = 2;
constexpr long kCurlBadHost = 3;
constexpr long kCurlCouldNotConnect = 7;
constexpr long kCurlSendError = 55;
constexpr long kCurlTimedOut = 28;
constexpr long kCurlGotNothing = 52;
constexpr long kCurlReceiveError = 56;

std::u16string Number(long long value) {
    return Utf8ToUtf16(std::to_string(value));
}

std::u16string TransportWords(const CLoginOutcome& outcome) {
    switch (outcome.nCode) {
    case kCurlTimedOut: {
        // Rounded up: a bound of 500 ms still waited "within 1 s".
        const auto seconds = std::chrono::ceil<std::chrono::seconds>(outcome.requestTimeout);
        return u"no answer within " + Number(seconds.count()) + u" s";
    }
    case kCurlCouldNotConnect:
        return u"could not connect (refused or unreachable)";
    case kCurlGotNothing:
        return u"closed the connection without answering";
    case kCurlSendError:
    case kCurlReceiveError:
        return u"the connection broke off";
    case kCurlBadHost:
        return u"its address is not a plain IPv4 address";
    case kCurlFailedInit:
        return u"the login could not be started";
    default:
        break;
    }
    return u"connection error " + Number(outcome.nCode);
}

} // namespace

std::u16string LoginOutcomeWords(const CLoginOutcome& outcome) {
    switch (outcome.eResult) {
    case ELoginResult::Succeeded:
        return u"logged in";
    case ELoginResult::Refused:
        return u"wrong user name or password";
    case ELoginResult::NotSupported:
    case ELoginResult::HttpStatus:
        return u"answered HTTP " + Number(outcome.nCode);
    case ELoginResult::Superseded:
        return u"answered, but the array changed address meanwhile";
    case ELoginResult::TransportError:
        break;
    }
    return TransportWords(outcome);
}

std::u16string LoginSkipWords(ELoginSkip reason) {
    // In the order of ELoginSkip.
    constexpr std::array<std::u16string_view, 4> kWords = {
        u"does not support a login", u"announces no MAC address",
        u"another address announces its MAC address too",
        u"its row changed while the Login Dialog was open"};
    return std::u16string(kWords.at(static_cast<std::size_t>(reason)));
}
