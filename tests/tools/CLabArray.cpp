// The lab's numbering of its arrays, written out as the lab script does it.
#include "tests/tools/CLabArray.h"

#include <array>
#include <cstdio>

namespace {

// The lab's addresses: 200 arrays to a /24, from 10.77.1.1 on.
constexpr int kArraysPerSubnet = 200;
constexpr std::array<const char*, 5> kProducts = {"Z210-R2", "Z240-E", "Y220", "YE240-X", "W210"};
constexpr int kVersionDigits = 10;
constexpr unsigned kByte = 0xFF;

} // namespace

CLabArray CLabArray::Generated(int i) {
    CLabArray array;
    array.ip = "10.77." + std::to_string(1 + i / kArraysPerSubnet) + "." +
               std::to_string(1 + i % kArraysPerSubnet);
    array.hostname = "array-" + std::to_string(i);
    array.product = kProducts[static_cast<std::size_t>(i) % kProducts.size()];
    array.version =
        "1." + std::to_string(i / kVersionDigits) + "." + std::to_string(i % kVersionDigits);
    char mac[32];
    const auto n = static_cast<unsigned>(i);
    std::snprintf(mac, sizeof mac, "02:4f:52:%02x:%02x:%02x", (n >> 16) & kByte, (n >> 8) & kByte,
                  n & kByte);
    array.mac = mac;
    return array;
}

std::string CLabArray::Row(std::string_view auth) const {
    return ip + "|" + hostname + "|" + product + "|" + version + "|" + mac + "|" +
           std::string(auth);
}

std::string CLabArray::Entry(std::string_view password) const {
    return "<StorageServer Product=\"" + product + "\" Type=\"" + type + "\" SystemName=\"" +
           hostname + "\" MAC=\"" + mac + "\" IPAddr=\"" + ip +
           "\" LoginUserName=\"admin\" LoginPasswd=\"" + std::string(password) + "\"/>";
}
