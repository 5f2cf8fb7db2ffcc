#pragma once

#include <QByteArray>
#include <QtGlobal>

class QIODevice;

// The programming protocol spoken with a device, as plain code shared by the
// programming page and the batch workers (each in its own thread).
//
//   0x0001  request [type]              reply: version text "vA.B.C ..."
//   0x0100  request [type, size (4, BE)] reply: [0] non-zero = accepted
//   0x0101  request [seq] + <= 1024 image bytes (legacy: no seq)
//           reply: [0] non-zero = chunk taken
//   0x0102  unsolicited: all data received, installing
//   0x0103  unsolicited: programming finished
//   0x0150  unsolicited: preparing the backup
//   0x0151  request [type]              reply: backup size (4, BE), 0 = refused
//   0x0152  request (empty)             reply: next piece, empty = failure
namespace ProgProtocol {

constexpr int kCmdVersion = 0x0001;
constexpr int kCmdStart = 0x0100;
constexpr int kCmdChunk = 0x0101;
constexpr int kCmdInstalling = 0x0102;
constexpr int kCmdFinished = 0x0103;
constexpr int kCmdBackupPreparing = 0x0150;
constexpr int kCmdBackupStart = 0x0151;
constexpr int kCmdBackupData = 0x0152;

constexpr int kChunkSize = 1024;
constexpr int kMaxResends = 3;
// Devices below version 1.2.3 take chunks without a sequence byte.
constexpr qint32 kFirstSequencedVersion = 0x10203;

// Result byte of a reply: present and non-zero. A reply without payload is a
// refusal.
bool accepted(const quint8* data, int size);

// Parses "v%d.%d.%d" at the start of a version reply into the packed value
// (major << 8 | minor) << 8 | patch. False when the text does not start so.
bool parseVersion(const quint8* data, int size, qint32* value);

// True when a device with this version reply needs legacy transfers: only a
// reply of 6 bytes or more that parses to a version below 1.2.3.
bool isLegacyVersion(const quint8* data, int size);

// Payload of 0x0100: type and the low 32 bits of the size, big-endian.
QByteArray startPayload(int type, qint64 size);

// Backup size from a 0x0151 reply; false unless the reply has exactly four
// bytes and a non-zero size.
bool backupSize(const quint8* data, int size, quint32* value);

// Percentage shown in the progress text, with two decimals.
QString percentText(qint64 done, qint64 total);

// The sending side of one image transfer: reads the image one chunk at a
// time just before it goes out, numbers chunks with an 8-bit sequence byte
// in current mode and keeps the last chunk for resending. The image device
// is not owned.
class ChunkSender
{
public:
    void start(QIODevice* image, qint64 total, bool legacy);
    void reset();

    // The payload of the next 0x0101 (empty when the image is exhausted).
    QByteArray nextChunk();
    // The last chunk sent in current mode, sequence byte included.
    const QByteArray& lastChunk() const { return lastChunk_; }

    bool legacy() const { return legacy_; }
    qint64 bytesDone() const { return done_; }
    qint64 bytesTotal() const { return total_; }
    bool finished() const { return done_ >= total_; }
    quint8 sequence() const { return sequence_; }
    int retries() const { return retries_; }
    void clearRetries() { retries_ = 0; }
    // Counts one resend; false when the chunk may not be sent again.
    bool mayResend();

private:
    QIODevice* image_ = nullptr;
    qint64 done_ = 0;
    qint64 total_ = 0;
    int retries_ = 0;
    quint8 sequence_ = 0;
    bool legacy_ = false;
    QByteArray lastChunk_;
};

} // namespace ProgProtocol
