// Whether a host text is an IPv4 address written the one plain way: four decimal numbers from 0
// to 255 joined by dots. Everything else a resolver or a URL parser would also take (names,
// "127.1", "2130706433", "0x7f.0.0.1", "017.0.0.1", "+1.2.3.4") is not an address here: a peer
// must never be able to steer a connection of ours through any of them.
#pragma once

#include <string_view>

bool IsIpv4Literal(std::string_view text);
