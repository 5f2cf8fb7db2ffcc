// Fuzz target for text and CSV device lists: every address the reader
// returns must be a whole IPv4 address by the one address expression, and
// no more addresses than the input has lines.
#include "common/addresspatterns.h"
#include "programming/devicelist.h"

#include <QByteArray>
#include <cstdlib>
#include <vector>

std::vector<std::vector<std::uint8_t>> fuzzSeeds()
{
    std::vector<std::vector<std::uint8_t>> seeds;
    auto add = [&](const QByteArray& bytes) { seeds.emplace_back(bytes.begin(), bytes.end()); };
    add(" 10.0.0.1 \n10.0.0.2,\n10.0.0.3,x\nname\n10.0.0.1\n");
    add("IP,\r\n192.168.1.10,\r\n192.168.1.11,\r\n");
    add("\xEF\xBB\xBF" "10.0.0.1\n");
    add(QByteArray("\xFF\xFE" "1\0" "0\0.\0" "0\0.\0" "0\0.\0" "1\0", 18));
    add(QByteArray("\xFE\xFF\0" "1\0.\0" "2\0.\0" "3\0.\0" "4", 17));
    add("255.255.255.255,,\n\t0.0.0.0\t\n256.1.1.1\n");
    add(QByteArray(300, ','));
    return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 1 << 16)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    const QStringList found = DeviceList::parseText(bytes);
    if (found.size() > bytes.count('\n') + 1)
        std::abort();
    for (const QString& ip : found) {
        if (!isIpv4Address(ip) || ip.size() > 15)
            std::abort();
    }
    return 0;
}
