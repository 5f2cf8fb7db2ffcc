#include "comm/commandframe.h"

#include <algorithm>
#include <cstring>

namespace CommandFrame {

std::uint8_t checksum(const std::uint8_t* data, int size)
{
    unsigned sum = 0;
    for (int i = 0; i < size; ++i)
        sum += data[i];
    return static_cast<std::uint8_t>(sum & 0xFF);
}

QByteArray encode(int cmd, const QByteArray& payload)
{
    if (payload.size() > kMaxPayload)
        return QByteArray();
    const int length = payload.size() + 2;
    QByteArray frame;
    frame.reserve(payload.size() + kOverhead);
    frame.append(static_cast<char>(kStartByte));
    frame.append(static_cast<char>((length >> 8) & 0xFF));
    frame.append(static_cast<char>(length & 0xFF));
    frame.append(static_cast<char>((cmd >> 8) & 0xFF));
    frame.append(static_cast<char>(cmd & 0xFF));
    frame.append(payload);
    frame.append(static_cast<char>(
        checksum(reinterpret_cast<const std::uint8_t*>(frame.constData()), frame.size())));
    return frame;
}

Route routeFor(int cmd)
{
    switch (cmd) {
    case 0x0001:
    case 0x0100:
    case 0x0101:
    case 0x0102:
    case 0x0103:
    case 0x0150:
    case 0x0151:
    case 0x0152:
        return Route::Prog;
    case 0x0003:
    case 0x0006:
    case 0x0010:
    case 0x0011:
        return Route::Settings;
    case 0x0008:
    case 0x0009:
    case 0x000A:
        return Route::Log;
    case 0x000B:
    case 0x000C:
    case 0x000D:
        return Route::SPTest;
    case 0x000E:
    case 0x000F:
        return Route::FixedParam;
    case 0x0013:
        return Route::Root;
    case 0x0004:
        return Route::InfoSetIp;
    case 0x0005:
        return Route::InfoResetIp;
    case 0x0007:
        return Route::InfoDate;
    default:
        return Route::Drop;
    }
}

} // namespace CommandFrame

int FrameReassembler::feed(const char* data, int size, Sink& sink)
{
    using namespace CommandFrame;
    int delivered = 0;
    auto complete = [&] {
        if (checksum(buffer_, count_ - 1) == buffer_[count_ - 1]) {
            const int cmd = buffer_[3] * 256 + buffer_[4];
            ++delivered;
            sink.frame(cmd, buffer_ + kHeaderSize, count_ - kOverhead);
        } else {
            ++badFrames_;
        }
        count_ = 0;
    };

    int i = 0;
    while (i < size) {
        if (count_ >= 3) {
            // The header is known: take the rest of a frame that fits the
            // buffer in one copy rather than byte by byte.
            const int expected = buffer_[1] * 256 + buffer_[2] + 4;
            if (expected <= kBufferSize && count_ < expected) {
                const int n = std::min(expected - count_, size - i);
                std::memcpy(buffer_ + count_, data + i, static_cast<std::size_t>(n));
                count_ += n;
                i += n;
                if (count_ == expected)
                    complete();
                continue;
            }
        }

        const auto byte = static_cast<std::uint8_t>(data[i++]);
        if (count_ == 0 && byte != kStartByte)
            continue; // hunting for the start of a frame
        if (count_ == kBufferSize) {
            // Full without a complete frame: start over with this byte.
            count_ = 0;
            ++overflows_;
        }
        buffer_[count_++] = byte;
        if (count_ < 3)
            continue;
        const int length = buffer_[1] * 256 + buffer_[2];
        if (length < 2) {
            // No room for a command field: not a frame. Hunt again.
            count_ = 0;
            ++badFrames_;
            continue;
        }
        if (count_ == length + 4)
            complete();
    }
    return delivered;
}
