#pragma once

#include <QByteArray>
#include <QString>

// The local vendor API's secrets, all from libsodium: salted slow password hashes
// (argon2id), random tokens stored only as their BLAKE2b hash, verification codes and
// the peers' Curve25519 key pairs.
class VendorCrypto
{
public:
    VendorCrypto() = delete;

    // A WireGuard-style key pair, both halves as standard base64 of 32 bytes.
    struct KeyPair
    {
        QString privateKey;
        QString publicKey;
    };

    // Must succeed once before anything else is called.
    static bool initialize();

    // cheap: the smallest argon2id cost, for test servers only (the hash string
    // carries its cost, so such a hash still verifies on a normal server).
    static QString hashPassword(const QString &password, bool cheap);
    static bool verifyPassword(const QString &hash, const QString &password);

    // 32 random bytes as URL-safe base64 text (43 characters), and the hex BLAKE2b-256
    // digest under which such a token is stored.
    static QString randomToken();
    static QString tokenHash(const QString &token);

    // Six decimal digits, uniformly distributed, leading zeros kept.
    static QString verificationCode();

    static KeyPair curve25519KeyPair();
    // The public key of a base64 private key; empty when it is not 32 bytes.
    static QString publicKeyFor(const QString &privateKey);
    static bool isKey(const QString &base64);
};
