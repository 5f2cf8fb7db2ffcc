#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <array>

// The port-settings record of the device's four network services, in this
// order: SSH, Telnet, HTTP, HTTPS. On the wire it is 12 bytes, one 3-byte
// entry per service: an enable flag (0 = disabled, anything else = enabled)
// followed by the TCP port, big-endian.
namespace PortRecord {

constexpr int kEntries = 4;
constexpr int kEntrySize = 3;
constexpr int kSize = kEntries * kEntrySize;
// Ports the operator may set; 0 and 65535 are refused.
constexpr int kMinPort = 1;
constexpr int kMaxPort = 65534;

struct Entry
{
    bool enabled = false;
    quint16 port = 0;
    bool operator==(const Entry& o) const { return enabled == o.enabled && port == o.port; }
};

using Entries = std::array<Entry, kEntries>;

// The decimal value of a port field; empty or non-numeric text gives 0.
int portFromText(const QString& text);
bool isValidPort(int port);

// The 12-byte record; enabled entries carry flag 1, disabled ones 0.
QByteArray encode(const Entries& entries);
// Reads a record; false (and `out` untouched) unless `size` is exactly 12.
bool decode(const quint8* data, int size, Entries& out);

} // namespace PortRecord
