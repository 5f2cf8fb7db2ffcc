#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

// The raw Ethernet frame of the link-layer discovery (EtherType 0x4D46):
//   0  destination MAC (6)      6  source MAC (6)     12  EtherType 4D 46
//  14  fixed 00 00 00 01       18  type (32-bit LE)  22  length (32-bit LE)
//  26  payload (0..2020 bytes, JSON text or empty)
//  26+n  CRC-16/MODBUS over bytes 0..25+n, low byte first
// Plain code shared by the program and the device simulator.
namespace LinkFrame {

constexpr std::uint16_t kEtherType = 0x4D46;
constexpr int kHeaderSize = 26;
constexpr int kCheckSize = 2;
constexpr int kMinFrame = kHeaderSize + kCheckSize; // 28
constexpr int kMaxPayload = 2020;
constexpr int kMaxFrame = kMinFrame + kMaxPayload; // 2048

enum Type : std::uint32_t {
    Discover = 0,
    DeviceInfo = 1,
    SetIp = 2,
    SetIpResult = 3,
    Reboot = 4,
    RebootResult = 5,
};

// Reads "AA:bb:0c:..." (six hexadecimal groups at ":" separators, any case)
// into mac. Returns false, leaving mac untouched, for anything else.
bool parseMac(const QString& text, std::uint8_t mac[6]);

// Builds one frame into out (room for kMaxFrame bytes) and returns its size.
// A null destination means broadcast. A payload longer than kMaxPayload is
// cut to its first kMaxPayload bytes; the Length field always tells the
// size of the frame actually built.
int build(std::uint8_t* out, std::uint32_t type, const std::uint8_t* destination,
          const std::uint8_t source[6], const char* payload, int payloadSize);
QByteArray build(std::uint32_t type, const std::uint8_t* destination,
                 const std::uint8_t source[6], const QByteArray& payload);

// What a received frame carries once it passed the checks.
struct Received
{
    std::uint32_t type = 0;
    QByteArray json; // payload from offset 26 up to and including its last '}'
};

// Checks a received frame: at least 28 bytes, CRC over all but the last two
// bytes equal to those (low byte first), and a '}' somewhere in the payload
// area. Fills out and returns true when the frame passes.
bool parse(const std::uint8_t* data, std::size_t size, Received& out);
bool parse(const QByteArray& frame, Received& out);

// True when the frame is at least 28 bytes long and its last two bytes
// (low byte first) are the CRC of all bytes before them.
bool checkCrc(const std::uint8_t* data, std::size_t size);

// Frame fields, for a frame at least kMinFrame bytes long.
std::uint32_t typeOf(const std::uint8_t* frame);
std::uint32_t lengthOf(const std::uint8_t* frame);

} // namespace LinkFrame
