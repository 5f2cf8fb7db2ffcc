// Fuzz target for the UDP search reply parser. The input is copied into a
// buffer of exactly its size, so a read past the datagram's end is caught
// by the address sanitizer. A reply that parses must be consistent: MACs
// only when the reply carries them, and the device's MAC one of its
// interfaces' MACs.
#include "discovery/discoveryproto.h"

#include <QByteArray>
#include <cstdlib>
#include <cstring>
#include <memory>
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
    std::unique_ptr<char[]> exact(new char[size ? size : 1]);
    if (size)
        std::memcpy(exact.get(), data, size);
    Discovery::UdpReply reply;
    if (!Discovery::parseUdpReply(QByteArray::fromRawData(exact.get(), static_cast<int>(size)),
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
