// The device's serial port: 0x000B opens it with a settings record (an empty
// payload closes it), 0x000C sends data out of it, and what comes back on
// the line is reported as 0x000D. The far end of the line either echoes
// every byte or is a Modbus slave answering reads of holding registers.
#include "common/crc16.h"
#include "devsim/simdevice.h"
#include "pages/serialsettings.h"

#include <QHash>
#include <QStringList>

namespace {

constexpr int kCmdOpen = 0x000B;
constexpr int kCmdSend = 0x000C;
constexpr int kCmdReceived = 0x000D;

QByteArray withCrc(QByteArray bytes)
{
    const std::uint16_t crc = crc16Modbus(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    bytes.append(static_cast<char>(crc & 0xFF));
    bytes.append(static_cast<char>(crc >> 8));
    return bytes;
}

QString describe(const SerialSettings& s)
{
    static const char* const parity[] = {"None", "Even", "Odd"};
    static const char* const flow[] = {"None", "Hardware", "Software"};
    return QStringLiteral("name=%1 rs485=%2 baud=%3 data=%4 parity=%5 flow=%6 stop=%7")
        .arg(s.portName)
        .arg(s.rs485 ? 1 : 0)
        .arg(SerialSettings::kBaudRates[s.baudIndex])
        .arg(SerialSettings::kDataBits[s.dataBitsIndex])
        .arg(QLatin1String(parity[s.parityIndex]))
        .arg(QLatin1String(flow[s.flowControlIndex]))
        .arg(s.stopBitsIndex + 1);
}

class SerialService : public DevService
{
public:
    explicit SerialService(SimDevice& device) : device_(device) {}

    bool handle(Session& session, int cmd, const QByteArray& payload) override
    {
        switch (cmd) {
        case kCmdOpen:
            openOrClose(session, payload);
            return true;
        case kCmdSend:
            send(session, payload);
            return true;
        default:
            return false;
        }
    }

    void sessionClosed(Session& session) override { open_.remove(&session); }

private:
    void openOrClose(Session& session, const QByteArray& payload)
    {
        if (payload.isEmpty()) {
            // Closing is not answered: the workstation does not wait for it.
            if (open_.remove(&session))
                device_.log(QStringLiteral("   serial port closed"));
            return;
        }
        if (device_.boolOption("serial-open-empty")) {
            session.reply(kCmdOpen, QByteArray());
            return;
        }
        SerialSettings s;
        bool ok = SerialSettings::fromRecord(payload, &s) && !s.portName.isEmpty();
        const QString ports = device_.textOption(QStringLiteral("serial-ports"));
        if (ok && !ports.isEmpty() && !ports.split(QLatin1Char(',')).contains(s.portName))
            ok = false;
        const int forced = device_.intOption("serial-open-result", -1);
        if (forced >= 0)
            ok = forced != 0;
        if (ok) {
            open_.insert(&session, s);
            device_.log(QStringLiteral("   serial port opened: %1").arg(describe(s)));
        } else {
            device_.log(QStringLiteral("   serial port refused (%1 bytes of settings)")
                            .arg(payload.size()));
        }
        session.reply(kCmdOpen,
                      QByteArray(1, static_cast<char>(forced >= 0 ? forced : (ok ? 1 : 0))));
        const QByteArray greeting =
            QByteArray::fromHex(device_.textOption(QStringLiteral("serial-rx-on-open")).toLatin1());
        if (ok && !greeting.isEmpty())
            session.reply(kCmdReceived, greeting);
    }

    void send(Session& session, const QByteArray& payload)
    {
        if (device_.boolOption("serial-send-empty")) {
            session.reply(kCmdSend, QByteArray());
            return;
        }
        const int forced = device_.intOption("serial-send-result", -1);
        const bool ok = forced >= 0 ? forced != 0 : open_.contains(&session);
        session.reply(kCmdSend, QByteArray(1, static_cast<char>(forced >= 0 ? forced : (ok ? 1 : 0))));
        device_.log(QStringLiteral("   serial out: %1").arg(QString::fromLatin1(payload.toHex(' '))));
        if (!ok)
            return;
        QByteArray answer;
        if (device_.textOption(QStringLiteral("serial-peer"), QStringLiteral("echo")) ==
            QLatin1String("modbus"))
            answer = modbusAnswer(payload);
        else
            answer = payload;
        if (!answer.isEmpty())
            session.reply(kCmdReceived, answer);
    }

    // What a Modbus slave on the line answers: reads of holding registers
    // (function 3) addressed to it; an exception for other functions or a
    // bad register count; nothing for a frame with a wrong CRC or for
    // another slave.
    QByteArray modbusAnswer(const QByteArray& request) const
    {
        if (request.size() < 4)
            return QByteArray();
        const auto byte = [&request](int i) { return static_cast<quint8>(request.at(i)); };
        const int n = request.size();
        const std::uint16_t crc =
            crc16Modbus(request.constData(), static_cast<std::size_t>(n - 2));
        if (byte(n - 2) != (crc & 0xFF) || byte(n - 1) != (crc >> 8))
            return QByteArray();
        const int slave = device_.intOption("serial-slave", 1);
        if (byte(0) != slave)
            return QByteArray();
        const quint8 function = byte(1);
        QByteArray reply;
        reply.append(static_cast<char>(slave));
        if (function != 0x03 || n != 8) {
            reply.append(static_cast<char>(function | 0x80));
            reply.append(static_cast<char>(function != 0x03 ? 0x01 : 0x03));
            return withCrc(reply);
        }
        const int start = byte(2) << 8 | byte(3);
        const int count = byte(4) << 8 | byte(5);
        if (count < 1 || count > 125) {
            reply.append(static_cast<char>(0x83));
            reply.append(static_cast<char>(0x03));
            return withCrc(reply);
        }
        reply.append(static_cast<char>(0x03));
        reply.append(static_cast<char>(count * 2));
        for (int r = start; r < start + count; ++r) {
            // Register r holds 0x1000 + r.
            const int value = (0x1000 + r) & 0xFFFF;
            reply.append(static_cast<char>(value >> 8));
            reply.append(static_cast<char>(value & 0xFF));
        }
        return withCrc(reply);
    }

    SimDevice& device_;
    QHash<Session*, SerialSettings> open_;
};

const ServiceRegistrar registrar(ServiceInfo{
    "serial",
    {{"serial-ports", "names: comma-separated port names that open (default: any name)"},
     {"serial-open-result", "N: answer every open with result byte N (0 = failure)"},
     {"serial-open-empty", "1: answer opens with an empty payload"},
     {"serial-send-result", "N: answer every send with result byte N (0 = failure)"},
     {"serial-send-empty", "1: answer sends with an empty payload"},
     {"serial-peer", "echo|modbus: what answers on the line (default echo)"},
     {"serial-slave", "N: the Modbus slave address of the peer (default 1)"},
     {"serial-rx-on-open", "hex: bytes the line delivers right after the port opens"}},
    [](SimDevice& device) { return std::make_unique<SerialService>(device); }});

} // namespace
