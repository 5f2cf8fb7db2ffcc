// Fuzz target for the link-frame receiver: the frame check and the JSON cut.
// The input is copied into a buffer of exactly its size.
#include "comm/linkframe.h"

#include <cstdlib>
#include <cstring>
#include <vector>

std::vector<std::vector<std::uint8_t>> fuzzSeeds()
{
    const std::uint8_t mac[6] = {0x02, 0x4D, 0x46, 0x00, 0x00, 0x05};
    std::vector<std::vector<std::uint8_t>> seeds;
    for (const auto& [type, payload] : std::vector<std::pair<std::uint32_t, QByteArray>>{
             {1, "{\"host\":\"10.0.0.5\"}"}, {5, "{\"result\":false} x"}, {0, {}}, {1, QByteArray(2020, '}')}}) {
        const QByteArray frame = LinkFrame::build(type, nullptr, mac, payload);
        seeds.emplace_back(frame.begin(), frame.end());
    }
    return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::uint8_t> exact(data, data + size);
    LinkFrame::Received got;
    const bool ok = LinkFrame::parse(exact.data(), size, got);
    // A frame passes only with its check right; its JSON text lies inside the
    // payload area and ends with '}'; the type is read from bytes 18..21.
    if (ok && (!LinkFrame::checkCrc(exact.data(), size) || got.json.isEmpty() || got.json.back() != '}' ||
               std::size_t(got.json.size()) + 28 > size || got.type != LinkFrame::typeOf(exact.data()) ||
               std::memcmp(got.json.constData(), exact.data() + 26, std::size_t(got.json.size()))))
        std::abort();
    return 0;
}
