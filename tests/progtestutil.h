#pragma once

// Builders shared by the programming tests: package files and images; real
// modal runs of message boxes.
#include "common/crc16.h"
#include "common/msgbox.h"

#include <QtWidgets>

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

namespace ProgTest {

// Runs every message box for real (modal, in its own event loop) while it
// lives: each box is answered with its first button once it shows, and its
// "[title] text" is kept.
class RealBoxes
{
public:
    RealBoxes() : previous_(MsgBox::setInterceptor(MsgBox::Interceptor()))
    {
        poll_.setInterval(5);
        QObject::connect(&poll_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible() || box->buttons().isEmpty())
                return;
            shown << QStringLiteral("[%1] %2").arg(box->windowTitle(), box->text());
            box->buttons().first()->click();
        });
        poll_.start();
    }
    ~RealBoxes() { MsgBox::setInterceptor(previous_); }
    RealBoxes(const RealBoxes&) = delete;
    RealBoxes& operator=(const RealBoxes&) = delete;

    // Waits until n boxes have come; the last one's summary (empty if not).
    QString waitFor(int n = 1, int timeoutMs = 30000)
    {
        QElapsedTimer timer;
        timer.start();
        while (shown.size() < n && timer.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        return shown.size() >= n ? shown.at(n - 1) : QString();
    }

    QStringList shown;

private:
    MsgBox::Interceptor previous_;
    QTimer poll_;
};

} // namespace ProgTest
