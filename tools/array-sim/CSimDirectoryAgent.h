// A test double of an SLP directory agent, as pure message logic: it keeps the registrations
// that service agents send (SrvReg, SrvDeReg, acknowledged with SrvAck), lets them expire by
// their lifetime, answers DA discovery with its DAAdvert and answers SrvRqst and AttrRqst from
// its registrations. It answers multicast requests only for DA discovery. It stands in for the
// site's directory agent in this project's own tests; it is not one to run on a network.
#pragma once

#include "platform/slp/SlpMessages.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

class CSimDirectoryAgent {
public:
    using Message = std::vector<std::uint8_t>;
    using Clock = std::chrono::steady_clock;

    CSimDirectoryAgent(std::string address, std::string scope, std::uint32_t bootTimestamp);

    // maxDatagram bounds a UDP reply (a larger one is cut and flagged as overflowed); 0 means
    // no bound, for replies over TCP.
    std::vector<Message> Answer(std::span<const std::uint8_t> request, bool multicast,
                                std::size_t maxDatagram, Clock::time_point now);

    // The unsolicited advert a DA multicasts when it starts, or, goingDown, when it stops.
    Message Advert(bool goingDown) const;

    // Forgets the registrations whose lifetime has run out.
    void Expire(Clock::time_point now);
    std::size_t Registrations() const { return m_mapRegistrations.size(); }
    std::string Url() const {
        return "service:directory-agent://" +
               (m_strAdvertHost.empty() ? m_strAddress : m_strAdvertHost);
    }
    // Makes this double a forged agent, a hostile peer for the tests: its adverts name
    // advertHost, and it keeps no registration (acknowledged all the same), so that every
    // search it is asked gets an empty answer.
    void Forge(std::string advertHost) { m_strAdvertHost = std::move(advertHost); }

private:
    struct Registration {
        std::string type;     // folded
        std::string language; // primary tag, folded
        std::string attrList; // as registered, escapes in place
        Clock::time_point expires;
    };

    Message OnSrvRqst(const SlpHeader& header, const SlpSrvRqst& request, bool multicast,
                      std::size_t maxDatagram, Clock::time_point now) const;
    Message OnAttrRqst(const SlpHeader& header, const SlpAttrRqst& request, std::size_t maxDatagram,
                       Clock::time_point now) const;
    SlpWireError OnSrvReg(const SlpHeader& header, const SlpSrvReg& request, Clock::time_point now);
    SlpWireError OnSrvDeReg(const SlpSrvDeReg& request);
    bool ServesAll(std::string_view scopeList) const;
    bool ServesAny(std::string_view scopeList) const;

    std::string m_strAddress;
    std::string m_strAdvertHost; // set when forged
    std::string m_strScope;
    std::uint32_t m_nBootTimestamp;
    std::map<std::string, Registration> m_mapRegistrations; // by URL
};
