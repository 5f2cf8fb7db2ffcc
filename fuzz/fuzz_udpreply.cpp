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
    using Discovery::EntryForm;
    const QList<Discovery::Interface> intfs{
        {"eth0", "10.0.0.5", "255.255.255.0", "02:4D:46:00:00:05"},
        {"eth1", "172.16.0.9", "255.255.0.0", "02:AA:BB:CC:DD:01"}};
    std::vector<std::vector<std::uint8_t>> seeds;
    auto add = [&](const QByteArray& bytes) { seeds.emplace_back(bytes.begin(), bytes.end()); };
    add(Discovery::buildUdpReply("RTU-7", intfs, {EntryForm::Long}));
    add(Discovery::buildUdpReply("RTU-7", intfs, {EntryForm::Short}));
    add(Discovery::buildUdpReply("RTU-7", intfs, {EntryForm::Long, EntryForm::ShortWithMac}));
    add(Discovery::buildUdpReply("", {}, {}));
    add(QByteArray::fromHex("00251805ffffff"));
    add(QByteArray::fromHex("002518ff4142"));
    add(Discovery::buildRequest(0x0A000001, 0xFFFFFF00));
    return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 65536)
        return 0;
    std::unique_ptr<char[]> exact(new char[size ? size : 1]);
    if (size)
        std::memcpy(exact.get(), data, size);
    const QByteArray datagram = QByteArray::fromRawData(exact.get(), static_cast<int>(size));
    Discovery::UdpReply reply;
    if (!Discovery::parseUdpReply(datagram, QStringLiteral("10.0.0.5"), reply))
        return 0;
    if (reply.bare && (size != 7 || !reply.interfaces.isEmpty()))
        std::abort();
    bool macFound = reply.deviceMac.isEmpty();
    for (const Discovery::Interface& intf : reply.interfaces) {
        if (!reply.carriesMacs && !intf.mac.isEmpty())
            std::abort();
        if (intf.mac == reply.deviceMac)
            macFound = true;
    }
    if (!macFound)
        std::abort();
    // Every entry takes at least 9 bytes.
    if (static_cast<std::size_t>(reply.interfaces.size()) * 9 > size)
        std::abort();
    return 0;
}
