// Fuzz target for the link-frame receiver: the frame check and JSON cut,
// and CommLink's handling of a captured frame (which hands JSON text on by
// type). The input is copied into a buffer of exactly its size.
#include "comm/commlink.h"
#include "comm/linkframe.h"
#include "discovery/discoveryproto.h"

#include <QByteArray>
#include <QCoreApplication>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

const std::uint8_t kMac[6] = {0x02, 0x4D, 0x46, 0x00, 0x00, 0x05};

} // namespace

std::vector<std::vector<std::uint8_t>> fuzzSeeds()
{
    std::vector<std::vector<std::uint8_t>> seeds;
    auto add = [&](const QByteArray& bytes) { seeds.emplace_back(bytes.begin(), bytes.end()); };
    add(LinkFrame::build(LinkFrame::DeviceInfo, nullptr, kMac,
                         Discovery::buildDeviceInfo(
                             "10.0.0.5", "RTU",
                             {{"eth0", "10.0.0.5", "255.255.255.0", "02:4D:46:00:00:05"}})));
    add(LinkFrame::build(LinkFrame::SetIpResult, nullptr, kMac, Discovery::buildResult(true)));
    add(LinkFrame::build(LinkFrame::RebootResult, nullptr, kMac, "{\"result\":false} x"));
    add(LinkFrame::build(LinkFrame::Discover, nullptr, kMac, QByteArray()));
    add(LinkFrame::build(LinkFrame::DeviceInfo, nullptr, kMac, QByteArray(2020, '}')));
    return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 70000)
        return 0;
    static int argc = 1;
    static char name[] = "fuzz_linkframe";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app =
        QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    Q_UNUSED(app)
    static CommLink link;

    std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[size ? size : 1]);
    if (size)
        std::memcpy(exact.get(), data, size);
    LinkFrame::Received received;
    const bool ok = LinkFrame::parse(exact.get(), size, received);
    if (ok) {
        // The JSON text lies inside the payload area and ends with '}'.
        if (size < 28 || received.json.isEmpty() ||
            static_cast<std::size_t>(received.json.size()) > size - 28 ||
            received.json.back() != '}' ||
            std::memcmp(received.json.constData(), exact.get() + 26,
                        static_cast<std::size_t>(received.json.size())) != 0)
            std::abort();
    }
    int delivered = 0;
    const auto c1 = QObject::connect(&link, &CommLink::gotNetworkInfo, [&](const QByteArray& json) {
        ++delivered;
        Discovery::DeviceInfo info;
        Discovery::parseDeviceInfo(json, info);
    });
    const auto c2 = QObject::connect(&link, &CommLink::gotResult, [&](const QByteArray& json) {
        ++delivered;
        bool result = false;
        Discovery::parseResult(json, result);
    });
    link.onDataRecv(QByteArray::fromRawData(reinterpret_cast<const char*>(exact.get()),
                                            static_cast<int>(size)));
    QObject::disconnect(c1);
    QObject::disconnect(c2);
    const bool routed = ok && (received.type == 1 || received.type == 3 || received.type == 5);
    if (delivered != (routed ? 1 : 0))
        std::abort();
    return 0;
}
