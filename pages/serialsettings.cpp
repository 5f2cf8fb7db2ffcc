#include "pages/serialsettings.h"

namespace {

bool inRange(int value, int count)
{
    return value >= 0 && value < count;
}

} // namespace

bool SerialSettings::portNameFits() const
{
    return portName.toUtf8().size() <= kMaxPortNameBytes;
}

QByteArray SerialSettings::toRecord() const
{
    const QByteArray name = portName.toUtf8();
    if (name.size() > kMaxPortNameBytes)
        return QByteArray();
    QByteArray record;
    record.reserve(kFixedBytes + name.size());
    record.append(static_cast<char>(rs485 ? 1 : 0));
    record.append(static_cast<char>(name.size()));
    record.append(name);
    record.append(static_cast<char>(baudIndex));
    record.append(static_cast<char>(dataBitsIndex));
    record.append(static_cast<char>(parityIndex));
    record.append(static_cast<char>(flowControlIndex));
    record.append(static_cast<char>(stopBitsIndex));
    return record;
}

bool SerialSettings::fromRecord(const QByteArray& record, SerialSettings* out)
{
    if (record.size() < kFixedBytes)
        return false;
    const auto byte = [&record](int i) { return static_cast<quint8>(record.at(i)); };
    const int n = byte(1);
    if (record.size() != kFixedBytes + n)
        return false;
    SerialSettings s;
    s.rs485 = byte(0) != 0;
    s.portName = QString::fromUtf8(record.constData() + 2, n);
    s.baudIndex = byte(2 + n);
    s.dataBitsIndex = byte(3 + n);
    s.parityIndex = byte(4 + n);
    s.flowControlIndex = byte(5 + n);
    s.stopBitsIndex = byte(6 + n);
    if (!inRange(s.baudIndex, kBaudCount) || !inRange(s.dataBitsIndex, kDataBitsCount) ||
        !inRange(s.parityIndex, kParityCount) || !inRange(s.flowControlIndex, kFlowControlCount) ||
        !inRange(s.stopBitsIndex, kStopBitsCount))
        return false;
    if (out)
        *out = s;
    return true;
}

bool SerialSettings::operator==(const SerialSettings& o) const
{
    return rs485 == o.rs485 && portName == o.portName && baudIndex == o.baudIndex &&
           dataBitsIndex == o.dataBitsIndex && parityIndex == o.parityIndex &&
           flowControlIndex == o.flowControlIndex && stopBitsIndex == o.stopBitsIndex;
}
