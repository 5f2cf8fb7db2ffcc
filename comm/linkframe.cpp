#include "comm/linkframe.h"

#include "common/crc16.h"

#include <QStringList>
#include <cstring>

namespace LinkFrame {

namespace {

void putLe32(std::uint8_t* at, std::uint32_t value)
{
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
    at[2] = static_cast<std::uint8_t>(value >> 16);
    at[3] = static_cast<std::uint8_t>(value >> 24);
}

std::uint32_t getLe32(const std::uint8_t* at)
{
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

} // namespace

bool parseMac(const QString& text, std::uint8_t mac[6])
{
    const QStringList groups = text.split(QLatin1Char(':'));
    if (groups.size() != 6)
        return false;
    std::uint8_t bytes[6];
    for (int i = 0; i < 6; ++i) {
        const QString& group = groups.at(i);
        bool ok = false;
        const uint value = group.toUInt(&ok, 16);
        if (!ok || group.isEmpty() || group.size() > 2 || value > 0xFF)
            return false;
        bytes[i] = static_cast<std::uint8_t>(value);
    }
    std::memcpy(mac, bytes, 6);
    return true;
}

int build(std::uint8_t* out, std::uint32_t type, const std::uint8_t* destination,
          const std::uint8_t source[6], const char* payload, int payloadSize)
{
    const int n = payload ? qBound(0, payloadSize, kMaxPayload) : 0;
    if (destination)
        std::memcpy(out, destination, 6);
    else
        std::memset(out, 0xFF, 6);
    std::memcpy(out + 6, source, 6);
    out[12] = static_cast<std::uint8_t>(kEtherType >> 8);
    out[13] = static_cast<std::uint8_t>(kEtherType & 0xFF);
    out[14] = 0x00;
    out[15] = 0x00;
    out[16] = 0x00;
    out[17] = 0x01;
    putLe32(out + 18, type);
    putLe32(out + 22, static_cast<std::uint32_t>(n + kMinFrame));
    if (n > 0)
        std::memcpy(out + kHeaderSize, payload, static_cast<std::size_t>(n));
    const std::uint16_t crc = crc16Modbus(out, static_cast<std::size_t>(kHeaderSize + n));
    out[kHeaderSize + n] = static_cast<std::uint8_t>(crc & 0xFF);
    out[kHeaderSize + n + 1] = static_cast<std::uint8_t>(crc >> 8);
    return kMinFrame + n;
}

QByteArray build(std::uint32_t type, const std::uint8_t* destination,
                 const std::uint8_t source[6], const QByteArray& payload)
{
    std::uint8_t buffer[kMaxFrame];
    const int size = build(buffer, type, destination, source, payload.constData(), payload.size());
    return QByteArray(reinterpret_cast<const char*>(buffer), size);
}

std::uint32_t typeOf(const std::uint8_t* frame)
{
    return getLe32(frame + 18);
}

std::uint32_t lengthOf(const std::uint8_t* frame)
{
    return getLe32(frame + 22);
}

bool checkCrc(const std::uint8_t* data, std::size_t size)
{
    if (!data || size < static_cast<std::size_t>(kMinFrame))
        return false;
    const std::size_t checked = size - kCheckSize;
    const std::uint16_t crc = crc16Modbus(data, checked);
    const std::uint16_t carried = static_cast<std::uint16_t>(
        data[checked] | static_cast<std::uint16_t>(data[checked + 1]) << 8);
    return crc == carried;
}

bool parse(const std::uint8_t* data, std::size_t size, Received& out)
{
    if (!checkCrc(data, size))
        return false;
    const std::size_t checked = size - kCheckSize;
    // The JSON text ends at the last '}' of the payload area; the check bytes
    // are not part of it even when one of them happens to be '}'.
    std::size_t end = checked;
    while (end > static_cast<std::size_t>(kHeaderSize) && data[end - 1] != '}')
        --end;
    if (end == static_cast<std::size_t>(kHeaderSize))
        return false;
    out.type = typeOf(data);
    out.json = QByteArray(reinterpret_cast<const char*>(data + kHeaderSize),
                          static_cast<int>(end - kHeaderSize));
    return true;
}

bool parse(const QByteArray& frame, Received& out)
{
    return parse(reinterpret_cast<const std::uint8_t*>(frame.constData()),
                 static_cast<std::size_t>(frame.size()), out);
}

} // namespace LinkFrame
