#include "pages/logfilelist.h"

#include "common/utf8text.h"

namespace LogFileList {

Parsed parse(const unsigned char* data, int size)
{
    Parsed result;
    if (!data || size <= 0)
        return result;
    int pos = 0;
    while (pos < size) {
        const int n = data[pos];
        ++pos;
        if (n > size - pos) {
            result.truncated = true;
            break;
        }
        result.names.append(utf8UpToZero(data + pos, n));
        if (n > result.longest)
            result.longest = n;
        pos += n;
    }
    return result;
}

QByteArray encode(const QStringList& names)
{
    QByteArray payload;
    for (const QString& name : names) {
        QByteArray bytes = name.toUtf8();
        if (bytes.size() > 255) {
            // Cut on a character boundary, never inside a UTF-8 sequence.
            int cut = 255;
            while (cut > 0 && (static_cast<quint8>(bytes.at(cut)) & 0xC0) == 0x80)
                --cut;
            bytes.truncate(cut);
        }
        payload.append(static_cast<char>(bytes.size()));
        payload.append(bytes);
    }
    return payload;
}

int comboWidth(int pointSize, int longest)
{
    if (pointSize <= 0 || longest <= 0)
        return 0;
    // P x M x 0.8 = P x M x 8 / 10; adding 5 before the division rounds
    // halves upward without floating-point error.
    return (pointSize * longest * 8 + 5) / 10;
}

} // namespace LogFileList
