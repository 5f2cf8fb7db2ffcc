#pragma once

#include <QByteArray>
#include <cstdint>

// The command frame of the TCP link, both directions (multi-byte fields
// big-endian):
//   0x68 | LENGTH (2) | COMMAND (2) | payload (LENGTH - 2) | checksum (1)
// LENGTH counts the command field and the payload; the checksum is the sum
// modulo 256 of every byte before it. A whole frame is LENGTH + 4 bytes.
namespace CommandFrame {

constexpr std::uint8_t kStartByte = 0x68;
constexpr int kHeaderSize = 5;
constexpr int kOverhead = 6;             // header and checksum
constexpr int kMaxPayload = 0xFFFF - 2;  // largest payload LENGTH can describe
constexpr int kBufferSize = 4096;        // largest frame the receiver assembles
constexpr int kMaxReceivedPayload = kBufferSize - kOverhead;

// Builds the frame for `payload` under the low 16 bits of `cmd`. Returns an
// empty array when the payload is too large to be framed.
QByteArray encode(int cmd, const QByteArray& payload = QByteArray());

std::uint8_t checksum(const std::uint8_t* data, int size);

// Where the link sends a received frame, by its command code.
enum class Route {
    Drop,
    Prog,
    Settings,
    Log,
    SPTest,
    FixedParam,
    Root,
    InfoSetIp,   // 0x0004
    InfoResetIp, // 0x0005
    InfoDate,    // 0x0007
};

Route routeFor(int cmd);

} // namespace CommandFrame

// Reassembles command frames from a byte stream. Bytes before a start byte are
// passed over; a frame is delivered only when its checksum is right. The
// buffer holds at most 4096 bytes: when it is full the held bytes are dropped
// and the next byte starts a new frame, whatever its value. Frames are handed
// out by pointer into the internal buffer, valid only during the callback.
class FrameReassembler
{
public:
    // Called for each good frame: command, payload pointer and payload size.
    struct Sink
    {
        virtual ~Sink() = default;
        virtual void frame(int cmd, const std::uint8_t* payload, int size) = 0;
    };

    // Feeds bytes; returns the number of frames delivered. The sink may call
    // reset() or feed() from inside frame() only through a later event; it
    // must not destroy the reassembler.
    int feed(const char* data, int size, Sink& sink);

    template <typename F>
    int feedWith(const char* data, int size, F&& f)
    {
        struct Adapter : Sink
        {
            F& fn;
            explicit Adapter(F& f) : fn(f) {}
            void frame(int cmd, const std::uint8_t* payload, int size) override
            {
                fn(cmd, payload, size);
            }
        } adapter(f);
        return feed(data, size, adapter);
    }

    // Drops a partly received frame; the next frame is hunted for afresh.
    void reset() { count_ = 0; }
    int pending() const { return count_; }

    // Frames dropped for a bad checksum or an impossible LENGTH; buffer
    // restarts of frames too large to hold.
    quint64 badFrames() const { return badFrames_; }
    quint64 overflows() const { return overflows_; }

private:
    std::uint8_t buffer_[CommandFrame::kBufferSize] = {};
    int count_ = 0;
    quint64 badFrames_ = 0;
    quint64 overflows_ = 0;
};
