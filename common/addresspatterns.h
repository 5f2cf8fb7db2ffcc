#pragma once

#include <QRegularExpression>
#include <QString>

// The one IPv4 address expression used wherever an address is typed or
// imported. It must match the whole text.
inline const char* ipv4Pattern()
{
    return "((25[0-5]|2[0-4]\\d|((1\\d{2})|([1-9]?\\d)))\\.){3}"
           "(25[0-5]|2[0-4]\\d|((1\\d{2})|([1-9]?\\d)))";
}

// Hardware address as typed on the fixed-parameter page.
inline const char* macPattern() { return "([A-Fa-f0-9]{2}:){5}[A-Fa-f0-9]{2}"; }

// Compiled, anchored copy of the IPv4 expression.
const QRegularExpression& ipv4Regex();

// True when the whole of text is a dotted IPv4 address by the expression above.
bool isIpv4Address(const QString& text);

// "AA:BB:CC:DD:EE:FF" from six bytes (upper-case, two digits each).
QString macToText(const unsigned char mac[6]);
