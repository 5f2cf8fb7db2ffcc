#include "pages/sptestformat.h"

#include "common/crc16.h"

#include <QStringList>

namespace SPTestFormat {

QByteArray hexPiecesToBytes(const QString& text)
{
    const QStringList pieces = text.split(QLatin1Char(' '), Qt::KeepEmptyParts);
    QByteArray bytes;
    bytes.reserve(pieces.size());
    for (const QString& piece : pieces) {
        bool ok = false;
        qint64 value = piece.toLongLong(&ok, 16);
        if (!ok)
            value = static_cast<qint64>(piece.toULongLong(&ok, 16));
        bytes.append(static_cast<char>(ok ? (value & 0xFF) : 0));
    }
    return bytes;
}

QByteArray withModbusCrc(const QByteArray& bytes)
{
    const std::uint16_t crc =
        crc16Modbus(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    QByteArray out = bytes;
    out.append(static_cast<char>(crc & 0xFF));
    out.append(static_cast<char>(crc >> 8));
    return out;
}

QString bytesToHexText(const QByteArray& bytes)
{
    static const char digits[] = "0123456789abcdef";
    QString text;
    text.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto b = static_cast<quint8>(c);
        text.append(QLatin1Char(digits[b >> 4]));
        text.append(QLatin1Char(digits[b & 0x0F]));
        text.append(QLatin1Char(' '));
    }
    return text;
}

QString colouredHtml(const QString& plain, int red, int green, int blue)
{
    QString t = plain;
    t.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    t.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    t.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    t.replace(QLatin1Char('"'), QLatin1String("&quot;"));
    t.replace(QLatin1Char('\''), QLatin1String("&#39;"));
    t.replace(QLatin1Char(' '), QLatin1String("&nbsp;"));
    t.replace(QLatin1Char('\n'), QLatin1String("<br>"));
    t.replace(QLatin1Char('\r'), QLatin1String("<br>"));
    return QStringLiteral("<font color=#%1%2%3>")
               .arg(red & 0xFF, 2, 16, QLatin1Char('0'))
               .arg(green & 0xFF, 2, 16, QLatin1Char('0'))
               .arg(blue & 0xFF, 2, 16, QLatin1Char('0')) +
           t;
}

} // namespace SPTestFormat
