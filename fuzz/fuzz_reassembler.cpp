// Fuzz target for the command frame reassembler. The same input is fed whole,
// in 7-byte pieces and byte by byte: every delivered frame must be
// well-formed, and the three feeds must deliver exactly the same frames.
#include "comm/commandframe.h"

#include <QByteArray>
#include <cstdlib>
#include <vector>

namespace {

struct Frame
{
    int cmd;
    QByteArray payload;
    bool operator==(const Frame& o) const { return cmd == o.cmd && payload == o.payload; }
};

std::vector<Frame> run(const std::uint8_t* data, std::size_t size, std::size_t piece)
{
    FrameReassembler reassembler;
    std::vector<Frame> frames;
    auto sink = [&](int cmd, const std::uint8_t* payload, int n) {
        if (n < 0 || n > CommandFrame::kMaxReceivedPayload || cmd < 0 || cmd > 0xFFFF)
            std::abort();
        frames.push_back({cmd, QByteArray(reinterpret_cast<const char*>(payload), n)});
    };
    for (std::size_t offset = 0; offset < size; offset += piece) {
        const std::size_t n = std::min(piece, size - offset);
        reassembler.feedWith(reinterpret_cast<const char*>(data + offset), static_cast<int>(n),
                             sink);
        if (reassembler.pending() < 0 || reassembler.pending() > CommandFrame::kBufferSize)
            std::abort();
    }
    return frames;
}

} // namespace

std::vector<std::vector<std::uint8_t>> fuzzSeeds()
{
    std::vector<std::vector<std::uint8_t>> seeds;
    auto add = [&](const QByteArray& bytes) { seeds.emplace_back(bytes.begin(), bytes.end()); };
    add(CommandFrame::encode(0x0013, "hello"));
    add(CommandFrame::encode(0x0002));
    add(QByteArray("xx") + CommandFrame::encode(0x0006, "2024-03-03 14:05:09") +
        CommandFrame::encode(0x0010, QByteArray(12, '\x01')));
    add(CommandFrame::encode(0x0101, QByteArray(1025, 'h')));
    add(CommandFrame::encode(0x0152, QByteArray(4090, '\x68')));
    add(QByteArray::fromHex("680000") + CommandFrame::encode(0x0013));
    add(QByteArray::fromHex("680001ff") + CommandFrame::encode(0x0013, "x"));
    return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 3 * CommandFrame::kBufferSize)
        return 0;
    const auto whole = run(data, size, size ? size : 1);
    const auto pieces = run(data, size, 7);
    const auto bytes = run(data, size, 1);
    if (!(whole == pieces) || !(whole == bytes))
        std::abort();
    return 0;
}
