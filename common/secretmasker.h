#pragma once

#include <QString>

// Hides key material in text that is about to be logged; every log line of both programs
// that could carry a key goes through it. A connect request carries the client's private
// and pre-shared keys several times over: as JSON values, inside the escaped JSON text of
// the client configuration, in wg-quick style lines, inside the peer's vpn:// string and,
// in the daemon, as hex in the tunnel's UAPI request.
class SecretMasker
{
public:
    SecretMasker() = delete;

    static constexpr char Mask[] = "***";

    // The text with every secret value replaced by Mask; everything else is unchanged.
    // Works on JSON at any depth of string escaping, and on text that is not valid JSON.
    static QString mask(const QString &text);
};
