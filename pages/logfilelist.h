#pragma once

#include <QByteArray>
#include <QStringList>

// The device's list of log files (payload of the 0x0008 response): entries
// one after the other up to the end of the payload, each a length byte N
// followed by N bytes of UTF-8 name. There is no count and no terminator.
namespace LogFileList {

struct Parsed
{
    QStringList names;
    // Largest N of the entries taken (0 when there are none).
    int longest = 0;
    // True when the last entry's length ran past the payload; that entry is
    // dropped, never read beyond the payload.
    bool truncated = false;
};

Parsed parse(const unsigned char* data, int size);
inline Parsed parse(const QByteArray& payload)
{
    return parse(reinterpret_cast<const unsigned char*>(payload.constData()), payload.size());
}

// Builds a list payload from names (UTF-8). A name longer than 255 bytes
// cannot be described by its length byte and is cut to at most 255 bytes,
// at a character boundary.
QByteArray encode(const QStringList& names);

// Width in pixels the page gives its list: point size x longest name x 0.8,
// rounded to the nearest integer (halves upward).
int comboWidth(int pointSize, int longest);

} // namespace LogFileList
