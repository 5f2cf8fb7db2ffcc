#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

// The device's fixed parameters as exchanged on the wire: a UTF-8 JSON
// object whose members are the parameters, each value a JSON string. It is
// written compact (one line, no blanks) with the members in ascending key
// order.
namespace FixedParamJson {

using Param = QPair<QString, QString>; // key, value
using Params = QVector<Param>;

// The key whose value is an Ethernet MAC address.
QString macKey();
// The default set, in table order: name, devserial, ethaddr.
QStringList defaultKeys();

// Parses a read answer. False when the text is not valid JSON or its top
// level is not an object; otherwise `out` holds the members in ascending key
// order, with an empty value for members that are not strings.
bool parse(const QByteArray& json, Params& out);
bool parse(const quint8* data, int size, Params& out);

// The outcome of turning table rows into the object to write.
struct Built
{
    QJsonObject object;      // complete rows only; a later key replaces an earlier one
    bool macInvalid = false; // an "ethaddr" row does not hold a MAC address
    bool incomplete = false; // a row with an empty key or value was left out

    // Nothing to write, or a bad MAC: the write is refused.
    bool refused() const { return object.isEmpty() || macInvalid; }
};
Built build(const Params& rows);

// The compact text sent to the device.
QByteArray serialise(const QJsonObject& object);

// Six pairs of hexadecimal digits (either case) joined by ':'.
bool isMacAddress(const QString& text);
// Twelve characters without any ':' get a ':' after every second one; any
// other text is returned as it is. The characters are not checked.
QString autoFormatMac(const QString& text);

} // namespace FixedParamJson
