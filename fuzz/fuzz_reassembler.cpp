// Fuzz target for the command frame reassembler. The same input is fed whole,
// in 7-byte pieces and byte by byte: every delivered frame must be
// well-formed, and the three feeds must deliver exactly the same frames.
#include "comm/commandframe.h"

#include <cstdlib>
#include <vector>

static std::vector<QByteArray> run(const std::uint8_t* data, std::size_t size, std::size_t piece)
{
    FrameReassembler r;
    std::vector<QByteArray> frames;
    for (std::size_t at = 0; at < size; at += piece) {
        r.feedWith(reinterpret_cast<const char*>(data + at), int(std::min(piece, size - at)),
                   [&](int cmd, const std::uint8_t* payload, int n) {
                       if (n < 0 || n > CommandFrame::kMaxReceivedPayload || cmd < 0 || cmd > 0xFFFF)
                           std::abort();
                       frames.push_back(QByteArray::number(cmd) + ':' + QByteArray(reinterpret_cast<const char*>(payload), n));
                   });
        if (r.pending() < 0 || r.pending() > CommandFrame::kBufferSize)
            std::abort();
    }
    return frames;
}

std::vector<std::vector<std::uint8_t>> fuzzSeeds()
{
    std::vector<std::vector<std::uint8_t>> seeds;
    for (const QByteArray& bytes : {CommandFrame::encode(0x0013, "hello") + CommandFrame::encode(0x0002),
                                    "xx" + CommandFrame::encode(0x0006, "2024-03-03") + QByteArray::fromHex("680001ff"),
                                    CommandFrame::encode(0x0152, QByteArray(4090, 'h')) + QByteArray::fromHex("680000")})
        seeds.emplace_back(bytes.begin(), bytes.end());
    return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 3 * CommandFrame::kBufferSize)
        return 0;
    const auto whole = run(data, size, size ? size : 1);
    if (whole != run(data, size, 7) || whole != run(data, size, 1))
        std::abort();
    return 0;
}
