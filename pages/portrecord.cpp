#include "pages/portrecord.h"

namespace PortRecord {

int portFromText(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

bool isValidPort(int port)
{
    return port >= kMinPort && port <= kMaxPort;
}

QByteArray encode(const Entries& entries)
{
    QByteArray record(kSize, '\0');
    for (int k = 0; k < kEntries; ++k) {
        const Entry& e = entries[static_cast<std::size_t>(k)];
        record[k * kEntrySize] = static_cast<char>(e.enabled ? 1 : 0);
        record[k * kEntrySize + 1] = static_cast<char>((e.port >> 8) & 0xFF);
        record[k * kEntrySize + 2] = static_cast<char>(e.port & 0xFF);
    }
    return record;
}

bool decode(const quint8* data, int size, Entries& out)
{
    if (!data || size != kSize)
        return false;
    for (int k = 0; k < kEntries; ++k) {
        const quint8* entry = data + k * kEntrySize;
        Entry& e = out[static_cast<std::size_t>(k)];
        e.enabled = entry[0] != 0;
        e.port = static_cast<quint16>((entry[1] << 8) | entry[2]);
    }
    return true;
}

} // namespace PortRecord
