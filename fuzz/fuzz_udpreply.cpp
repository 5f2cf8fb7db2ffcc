// Fuzz target for the UDP search reply parser, on a copy of exactly the input's size (a read past
// the end shows under the address sanitizer). A parsed reply is consistent: MACs only when it
// carries them, the device's MAC one of its interfaces' MACs.
#include "discovery/discoveryproto.h"

#include <cstdlib>
#include <vector>

std::vector<std::vector<std::uint8_t>> fuzzSeeds()
{
    std::vector<std::vector<std::uint8_t>> seeds;
    for (const char* hex : {// long form, short form, long then short with MAC (RTU-7: eth0, eth1)
             "002518055254552d37001204657468300a000005ffffff00024d4600000500120465746831ac100009ffff000002aabbccdd01",
             "002518055254552d3704657468300a000005ffffff000465746831ac100009ffff0000",
             "002518055254552d37001204657468300a000005ffffff00024d460000050465746831ac100009ffff000002aabbccdd01",
             "00251800", "00251805ffffff", "002518ff4142", "0025180100000a00ffffff"}) {
        const QByteArray bytes = QByteArray::fromHex(hex);
        seeds.emplace_back(bytes.begin(), bytes.end());
    }
    return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 65536)
        return 0;
    const std::vector<char> exact(data, data + size);
    Discovery::UdpReply reply;
    if (!Discovery::parseUdpReply(QByteArray::fromRawData(exact.data(), static_cast<int>(size)),
                                  QStringLiteral("10.0.0.5"), reply))
        return 0;
    bool macFound = reply.deviceMac.isEmpty();
    for (const Discovery::Interface& intf : reply.interfaces) {
        if (!reply.carriesMacs && !intf.mac.isEmpty())
            std::abort();
        macFound = macFound || intf.mac == reply.deviceMac;
    }
    // A bare reply is 7 bytes without interfaces; every entry takes at least 9 bytes.
    if (!macFound || (reply.bare && (size != 7 || !reply.interfaces.isEmpty())) ||
        static_cast<std::size_t>(reply.interfaces.size()) * 9 > size)
        std::abort();
    return 0;
}
