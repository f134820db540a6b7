#include "secretmasker.h"

#include <QRegularExpression>

namespace {

// "client_priv_key":"..." and "psk_key":"...", also with the quotes escaped once or more
// (the client configuration travels as JSON text inside JSON strings). Keys are base64,
// so a value ends at the first quote or backslash.
const QRegularExpression &jsonKeyValue()
{
    static const QRegularExpression pattern(
        QStringLiteral(R"((\\*"(?:client_priv_key|psk_key)\\*"\s*:\s*\\*")[^"\\]*)"));
    return pattern;
}

// "PrivateKey = ..." and "PresharedKey = ..." lines of a wg-quick style configuration. No
// word boundary before the name: inside JSON text the line break before it is "\n".
const QRegularExpression &configLine()
{
    static const QRegularExpression pattern(
        QStringLiteral(R"(((?:PrivateKey|PresharedKey)\s*=\s*)[A-Za-z0-9+/=]+)"));
    return pattern;
}

// A vpn:// string is the whole configuration, keys included, merely compressed.
const QRegularExpression &vpnUrl()
{
    static const QRegularExpression pattern(QStringLiteral(R"(vpn://[A-Za-z0-9+/=_-]+)"));
    return pattern;
}

// "private_key=..." and "preshared_key=..." lines of a UAPI request; "public_key=" stays.
const QRegularExpression &uapiLine()
{
    static const QRegularExpression pattern(
        QStringLiteral(R"((^|\n)((?:private_key|preshared_key)=)[^\n]*)"));
    return pattern;
}

} // namespace

QString SecretMasker::mask(const QString &text)
{
    const QString mask = QString::fromLatin1(Mask);
    QString masked = text;
    masked.replace(jsonKeyValue(), QStringLiteral("\\1") + mask);
    masked.replace(configLine(), QStringLiteral("\\1") + mask);
    masked.replace(vpnUrl(), QStringLiteral("vpn://") + mask);
    masked.replace(uapiLine(), QStringLiteral("\\1\\2") + mask);
    return masked;
}
