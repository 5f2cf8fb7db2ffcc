#pragma once

#include <QByteArray>
#include <QString>

// Line settings of the device's serial port, as the serial-port test page
// sends them to open the port (0x000B). The indexes are the positions in the
// page's lists, so the order of those lists is part of the protocol.
//
// Record on the wire, N being the length of the UTF-8 port name:
//   rs485 (1) | N (1) | name (N) | baud (1) | data bits (1) | parity (1) |
//   flow control (1) | stop bits (1)
// Parity comes before flow control on the wire, although the form shows
// flow control first.
struct SerialSettings
{
    static constexpr int kMaxPortNameBytes = 255;
    static constexpr int kFixedBytes = 7;

    static constexpr int kBaudRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    static constexpr int kDataBits[] = {5, 6, 7, 8};
    static constexpr int kBaudCount = 8;
    static constexpr int kDataBitsCount = 4;
    static constexpr int kParityCount = 3;      // None, Even, Odd
    static constexpr int kFlowControlCount = 3; // None, Hardware, Software
    static constexpr int kStopBitsCount = 2;    // 1, 2

    bool rs485 = false;
    QString portName;
    int baudIndex = 3;     // 9600
    int dataBitsIndex = 3; // 8
    int parityIndex = 0;
    int flowControlIndex = 0;
    int stopBitsIndex = 0;

    // True when the name fits its length byte (at most 255 UTF-8 bytes).
    bool portNameFits() const;
    // The record; empty when the name does not fit.
    QByteArray toRecord() const;
    // Reads a record; false when its size does not match its length byte or
    // an index is out of range.
    static bool fromRecord(const QByteArray& record, SerialSettings* out);

    bool operator==(const SerialSettings& o) const;
};
