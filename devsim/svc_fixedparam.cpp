// The fixed-parameter store of the device (0x000E read, 0x000F write): a flat
// set of named text values, exchanged as a compact JSON object.
#include "devsim/simdevice.h"
#include "pages/fixedparamjson.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

class FixedParamService : public DevService
{
public:
    explicit FixedParamService(SimDevice& device) : device_(device) {}

    void start() override
    {
        // Every device gets its own serial number and MAC, made from its
        // address, so that several simulated devices can be told apart.
        const quint32 ip = device_.address().toIPv4Address();
        const int b2 = static_cast<int>((ip >> 16) & 0xFF);
        const int b3 = static_cast<int>((ip >> 8) & 0xFF);
        const int b4 = static_cast<int>(ip & 0xFF);
        params_.insert(QStringLiteral("name"), QStringLiteral("FM-GW200"));
        params_.insert(QStringLiteral("devserial"),
                       QStringLiteral("FG2311%1").arg(b3 * 256 + b4, 5, 10, QLatin1Char('0')));
        params_.insert(QStringLiteral("ethaddr"), QStringLiteral("00:1E:C0:%1:%2:%3")
                                                      .arg(b2, 2, 16, QLatin1Char('0'))
                                                      .arg(b3, 2, 16, QLatin1Char('0'))
                                                      .arg(b4, 2, 16, QLatin1Char('0'))
                                                      .toUpper());
        params_.insert(QStringLiteral("hwver"), QStringLiteral("B2"));
        params_.insert(QStringLiteral("mfgdate"), QStringLiteral("2023-11-08"));

        const QString initial = device_.textOption(QStringLiteral("fixed-params"));
        if (!initial.isEmpty()) {
            const QJsonDocument doc = QJsonDocument::fromJson(initial.toUtf8());
            if (doc.isObject())
                params_ = doc.object();
            else
                device_.log(QStringLiteral("   ignoring bad option fixed-params"));
        }
    }

    bool handle(Session& session, int cmd, const QByteArray& payload) override
    {
        switch (cmd) {
        case 0x000E:
            session.reply(0x000E, readAnswer());
            return true;
        case 0x000F:
            write(session, payload);
            return true;
        default:
            return false;
        }
    }

private:
    QByteArray readAnswer() const
    {
        const QByteArray json = FixedParamJson::serialise(params_);
        const QString fault = device_.textOption(QStringLiteral("fixed-read"));
        if (fault == QLatin1String("invalid"))
            return json.left(json.size() / 2);
        if (fault == QLatin1String("array"))
            return QByteArrayLiteral("[\"name\",\"devserial\",\"ethaddr\"]");
        if (fault == QLatin1String("empty"))
            return QByteArray();
        if (fault == QLatin1String("nul"))
            return json + '\0';
        if (fault == QLatin1String("mixed"))
            return QByteArrayLiteral(
                "{\"name\":\"FM-GW200\",\"ports\":[22,80],\"count\":3,\"dhcp\":true,"
                "\"net\":{\"mask\":\"255.255.255.0\"},\"gateway\":null}");
        return json;
    }

    void write(Session& session, const QByteArray& payload)
    {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(payload, &error);
        bool ok = error.error == QJsonParseError::NoError && doc.isObject();
        const QJsonObject object = doc.object();
        for (auto it = object.constBegin(); ok && it != object.constEnd(); ++it) {
            ok = it.value().isString() && !it.key().isEmpty();
            if (ok && it.key() == FixedParamJson::macKey())
                ok = FixedParamJson::isMacAddress(it.value().toString());
        }
        if (device_.intOption(QStringLiteral("fixed-write-result"), 1) == 0)
            ok = false;
        if (ok) {
            // Named parameters are set; the others stay as they are.
            for (auto it = object.constBegin(); it != object.constEnd(); ++it)
                params_.insert(it.key(), it.value());
            device_.log(
                QStringLiteral("   fixed parameters set: %1").arg(QString::fromUtf8(payload)));
        } else {
            device_.log(QStringLiteral("   fixed parameter write refused"));
        }
        if (device_.boolOption(QStringLiteral("fixed-write-empty"))) {
            session.reply(0x000F);
            return;
        }
        session.reply(0x000F, QByteArray(1, ok ? 1 : 0));
    }

    SimDevice& device_;
    QJsonObject params_;
};

const ServiceRegistrar registrar(ServiceInfo{
    "fixedparam",
    {{"fixed-params", "JSON object: the initial fixed parameters (default: name, devserial, "
                      "ethaddr, hwver, mfgdate)"},
     {"fixed-read", "invalid|array|empty|nul|mixed: answer 0x000E with broken JSON, an array, "
                    "nothing, the object and a zero byte, or members that are not strings"},
     {"fixed-write-result", "0: refuse every 0x000F write (result 0)"},
     {"fixed-write-empty", "1: answer 0x000F without a result byte"}},
    [](SimDevice& device) { return std::make_unique<FixedParamService>(device); }});

} // namespace
