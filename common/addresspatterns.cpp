#include "common/addresspatterns.h"

const QRegularExpression& ipv4Regex()
{
    static const QRegularExpression re(QRegularExpression::anchoredPattern(ipv4Pattern()));
    return re;
}

bool isIpv4Address(const QString& text)
{
    return ipv4Regex().match(text).hasMatch();
}

QString macToText(const unsigned char mac[6])
{
    return QStringLiteral("%1:%2:%3:%4:%5:%6")
        .arg(mac[0], 2, 16, QLatin1Char('0'))
        .arg(mac[1], 2, 16, QLatin1Char('0'))
        .arg(mac[2], 2, 16, QLatin1Char('0'))
        .arg(mac[3], 2, 16, QLatin1Char('0'))
        .arg(mac[4], 2, 16, QLatin1Char('0'))
        .arg(mac[5], 2, 16, QLatin1Char('0'))
        .toUpper();
}
