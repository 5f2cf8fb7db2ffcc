#include "programming/programmingprotocol.h"

#include <QIODevice>
#include <QString>

namespace ProgProtocol {

bool accepted(const quint8* data, int size)
{
    return data && size > 0 && data[0] != 0;
}

namespace {

// Reads an optionally signed decimal number after optional blanks, as the
// classic "%d" conversion does. Numbers beyond the int range do not parse.
bool readNumber(const quint8* data, int size, int& pos, qint32* out)
{
    while (pos < size && (data[pos] == ' ' || (data[pos] >= '\t' && data[pos] <= '\r')))
        ++pos;
    bool negative = false;
    if (pos < size && (data[pos] == '+' || data[pos] == '-')) {
        negative = data[pos] == '-';
        ++pos;
    }
    const int first = pos;
    qint64 value = 0;
    while (pos < size && data[pos] >= '0' && data[pos] <= '9') {
        value = value * 10 + (data[pos] - '0');
        if (value > 0x7FFFFFFFLL)
            return false;
        ++pos;
    }
    if (pos == first)
        return false;
    *out = static_cast<qint32>(negative ? -value : value);
    return true;
}

} // namespace

bool parseVersion(const quint8* data, int size, qint32* value)
{
    if (!data || size <= 0 || data[0] != 'v')
        return false;
    int pos = 1;
    qint32 parts[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            if (pos >= size || data[pos] != '.')
                return false;
            ++pos;
        }
        if (!readNumber(data, size, pos, &parts[i]))
            return false;
    }
    // Packed with bitwise OR on 32 bits, as the devices compare it.
    const quint32 packed = ((quint32(parts[0]) << 8 | quint32(parts[1])) << 8) | quint32(parts[2]);
    *value = static_cast<qint32>(packed);
    return true;
}

bool isLegacyVersion(const quint8* data, int size)
{
    if (size < 6)
        return false;
    qint32 value = 0;
    // A long reply that is no version at all is treated like a short one.
    if (!parseVersion(data, size, &value))
        return false;
    return value < kFirstSequencedVersion;
}

QByteArray startPayload(int type, qint64 size)
{
    const quint32 low = static_cast<quint32>(size);
    QByteArray payload(5, '\0');
    payload[0] = static_cast<char>(type);
    payload[1] = static_cast<char>(low >> 24);
    payload[2] = static_cast<char>(low >> 16);
    payload[3] = static_cast<char>(low >> 8);
    payload[4] = static_cast<char>(low);
    return payload;
}

bool backupSize(const quint8* data, int size, quint32* value)
{
    if (!data || size != 4)
        return false;
    *value = quint32(data[0]) << 24 | quint32(data[1]) << 16 | quint32(data[2]) << 8 |
             quint32(data[3]);
    return *value != 0;
}

QString percentText(qint64 done, qint64 total)
{
    const double percent = total > 0 ? double(done) * 100.0 / double(total) : 0.0;
    return QString::number(percent, 'f', 2);
}

void ChunkSender::start(QIODevice* image, qint64 total, bool legacy)
{
    image_ = image;
    total_ = total;
    legacy_ = legacy;
    done_ = 0;
    retries_ = 0;
    sequence_ = 0;
}

void ChunkSender::reset()
{
    // The last chunk and the mode stay as they were.
    image_ = nullptr;
    done_ = 0;
    total_ = 0;
    retries_ = 0;
    sequence_ = 0;
}

QByteArray ChunkSender::nextChunk()
{
    if (!image_ || done_ >= total_)
        return QByteArray();
    const qint64 want = qMin<qint64>(kChunkSize, total_ - done_);
    QByteArray chunk;
    if (legacy_) {
        chunk = image_->read(want);
        if (chunk.isEmpty())
            return chunk;
        done_ += chunk.size();
        return chunk;
    }
    chunk.resize(1 + int(want));
    const qint64 got = image_->read(chunk.data() + 1, want);
    if (got <= 0)
        return QByteArray();
    chunk.resize(1 + int(got));
    chunk[0] = static_cast<char>(sequence_);
    ++sequence_; // wraps from 255 to 0
    done_ += got;
    lastChunk_ = chunk;
    return chunk;
}

bool ChunkSender::mayResend()
{
    if (legacy_ || retries_ >= kMaxResends)
        return false;
    ++retries_;
    return true;
}

} // namespace ProgProtocol
