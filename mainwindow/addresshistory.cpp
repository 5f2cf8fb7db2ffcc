#include "mainwindow/addresshistory.h"

#include "app/appsettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace AddressHistory {

QStringList decode(const QByteArray& bytes)
{
    QStringList entries;
    for (int offset = 0; offset < bytes.size(); offset += kRecordSize) {
        const QByteArray record = bytes.mid(offset, kRecordSize);
        const int end = record.indexOf('\0');
        const QByteArray text = end < 0 ? record : record.left(end);
        bool printable = !text.isEmpty();
        for (char c : text)
            printable = printable && c >= 0x20 && c <= 0x7E;
        if (printable)
            entries << QString::fromLatin1(text);
    }
    return entries;
}

QByteArray encode(const QStringList& entries)
{
    QByteArray bytes;
    bytes.reserve(entries.size() * kRecordSize);
    for (const QString& entry : entries) {
        QByteArray record = entry.toLatin1().left(kRecordSize);
        record.append(QByteArray(kRecordSize - record.size(), '\0'));
        bytes.append(record);
    }
    return bytes;
}

bool load(const QString& path, QStringList& entries)
{
    // Only a regular file is read: a FIFO would block start-up for good.
    QFile file(path);
    if (!AppSettings::isUsable(path) || !file.open(QIODevice::ReadOnly))
        return false;
    entries = decode(file.readAll());
    return true;
}

bool save(const QString& path, const QStringList& entries)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!AppSettings::isUsable(path) || !file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray bytes = encode(entries);
    return file.write(bytes) == bytes.size();
}

} // namespace AddressHistory
