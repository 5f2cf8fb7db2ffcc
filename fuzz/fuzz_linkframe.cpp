// Fuzz target for the link-frame receiver: the frame check and JSON cut, and
// CommLink's handling of a captured frame, which hands the JSON text on for
// types 1, 3 and 5 only. The input is copied into a buffer of exactly its size.
#include "comm/commlink.h"

#include <QCoreApplication>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

std::vector<std::vector<std::uint8_t>> fuzzSeeds()
{
    const std::uint8_t mac[6] = {0x02, 0x4D, 0x46, 0x00, 0x00, 0x05};
    std::vector<std::vector<std::uint8_t>> seeds;
    for (const auto& [type, payload] : std::vector<std::pair<std::uint32_t, QByteArray>>{
             {1, "{\"host\":\"10.0.0.5\",\"product\":\"RTU\",\"intfInfo\":[]}"},
             {3, "{\"result\":true}"}, {5, "{\"result\":false} x"}, {0, {}}, {1, QByteArray(2020, '}')}}) {
        const QByteArray frame = LinkFrame::build(type, nullptr, mac, payload);
        seeds.emplace_back(frame.begin(), frame.end());
    }
    return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 70000)
        return 0;
    static int argc = 1;
    static char name[] = "fuzz_linkframe";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    Q_UNUSED(app)
    static CommLink link;

    std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[size ? size : 1]);
    if (size)
        std::memcpy(exact.get(), data, size);
    LinkFrame::Received received;
    const bool ok = LinkFrame::parse(exact.get(), size, received);
    // The JSON text lies inside the payload area and ends with '}'.
    if (ok && (size < 28 || received.json.isEmpty() || received.json.back() != '}' ||
               static_cast<std::size_t>(received.json.size()) > size - 28 ||
               std::memcmp(received.json.constData(), exact.get() + 26, std::size_t(received.json.size()))))
        std::abort();
    QByteArrayList delivered;
    auto take = [&](const QByteArray& json) { delivered << json; };
    const auto c1 = QObject::connect(&link, &CommLink::gotNetworkInfo, take);
    const auto c2 = QObject::connect(&link, &CommLink::gotResult, take);
    link.onDataRecv(QByteArray::fromRawData(reinterpret_cast<const char*>(exact.get()), int(size)));
    QObject::disconnect(c1);
    QObject::disconnect(c2);
    const bool routed = ok && (received.type == 1 || received.type == 3 || received.type == 5);
    if (delivered != (routed ? QByteArrayList{received.json} : QByteArrayList{}))
        std::abort();
    return 0;
}
