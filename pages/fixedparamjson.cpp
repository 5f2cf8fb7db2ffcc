#include "pages/fixedparamjson.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QRegularExpression>

#include <algorithm>

namespace FixedParamJson {

QString macKey()
{
    return QStringLiteral("ethaddr");
}

QStringList defaultKeys()
{
    return {QStringLiteral("name"), QStringLiteral("devserial"), macKey()};
}

bool parse(const QByteArray& json, Params& out)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || doc.isNull() || !doc.isObject())
        return false;
    const QJsonObject object = doc.object();
    Params params;
    params.reserve(object.size());
    for (auto it = object.constBegin(); it != object.constEnd(); ++it)
        params.append({it.key(), it.value().isString() ? it.value().toString() : QString()});
    // The object's own order is by key already, except for keys holding
    // zero characters; sort so the order never depends on that.
    std::stable_sort(params.begin(), params.end(),
                     [](const Param& a, const Param& b) { return a.first < b.first; });
    out = params;
    return true;
}

bool parse(const quint8* data, int size, Params& out)
{
    if (!data || size <= 0)
        return parse(QByteArray(), out);
    return parse(QByteArray(reinterpret_cast<const char*>(data), size), out);
}

Built build(const Params& rows)
{
    Built built;
    for (const Param& row : rows) {
        const QString& key = row.first;
        const QString& value = row.second;
        if (key == macKey() && !isMacAddress(value))
            built.macInvalid = true;
        if (key.isEmpty() || value.isEmpty()) {
            built.incomplete = true;
            continue;
        }
        built.object.insert(key, value);
    }
    return built;
}

QByteArray serialise(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

bool isMacAddress(const QString& text)
{
    static const QRegularExpression mac(
        QRegularExpression::anchoredPattern(QStringLiteral("([A-Fa-f0-9]{2}:){5}[A-Fa-f0-9]{2}")));
    return mac.match(text).hasMatch();
}

QString autoFormatMac(const QString& text)
{
    if (text.size() != 12 || text.contains(QLatin1Char(':')))
        return text;
    QString formatted = text;
    for (int pos = 2; pos < formatted.size(); pos += 3)
        formatted.insert(pos, QLatin1Char(':'));
    return formatted;
}

} // namespace FixedParamJson
