#pragma once

// Builders shared by the programming tests: package files and images.
#include "common/crc16.h"

#include <QByteArray>
#include <QFile>
#include <QString>

namespace ProgTest {

// A package: magic, two spare bytes, flags (little-endian), the payload and,
// with flag bit 0, the CRC-16/MODBUS trailer (low byte first).
inline QByteArray package(quint32 flags, const QByteArray& payload)
{
    QByteArray bytes = QByteArray::fromHex("464d0000");
    for (int i = 0; i < 4; ++i)
        bytes.append(static_cast<char>((flags >> (8 * i)) & 0xFF));
    bytes.append(payload);
    if (flags & 1u) {
        const quint16 crc = crc16Modbus(payload.constData(), static_cast<std::size_t>(payload.size()));
        bytes.append(static_cast<char>(crc & 0xFF));
        bytes.append(static_cast<char>(crc >> 8));
    }
    return bytes;
}

// A shifted payload: the 4-byte count and the image, every byte plus one.
inline QByteArray shifted(const QByteArray& image, quint32 count, const QByteArray& tail = {})
{
    QByteArray stored;
    for (int i = 0; i < 4; ++i)
        stored.append(static_cast<char>((count >> (8 * i)) & 0xFF));
    stored.append(image);
    for (char& c : stored)
        c = static_cast<char>(static_cast<quint8>(c) + 1);
    return stored + tail;
}

// A recognisable image of n bytes.
inline QByteArray pattern(int n, int salt = 0)
{
    QByteArray bytes(n, '\0');
    for (int i = 0; i < n; ++i)
        bytes[i] = static_cast<char>((i * 31 + i / 251 + salt) & 0xFF);
    return bytes;
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace ProgTest
