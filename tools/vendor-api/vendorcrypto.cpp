#include "vendorcrypto.h"

#include <sodium.h>

namespace {

constexpr int KeyBytes = 32;

QByteArray decodedKey(const QString &base64)
{
    const auto result =
        QByteArray::fromBase64Encoding(base64.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    return result && result.decoded.size() == KeyBytes ? result.decoded : QByteArray();
}

} // namespace

bool VendorCrypto::initialize()
{
    return sodium_init() >= 0;
}

QString VendorCrypto::hashPassword(const QString &password, bool cheap)
{
    const QByteArray utf8 = password.toUtf8();
    char hash[crypto_pwhash_STRBYTES];
    const unsigned long long ops =
        cheap ? crypto_pwhash_OPSLIMIT_MIN : crypto_pwhash_OPSLIMIT_INTERACTIVE;
    const size_t memory = cheap ? crypto_pwhash_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE;
    if (crypto_pwhash_str(hash, utf8.constData(), static_cast<unsigned long long>(utf8.size()), ops,
                          memory) != 0)
        return QString();
    return QString::fromLatin1(hash);
}

bool VendorCrypto::verifyPassword(const QString &hash, const QString &password)
{
    const QByteArray utf8 = password.toUtf8();
    const QByteArray stored = hash.toLatin1();
    return !stored.isEmpty() &&
           crypto_pwhash_str_verify(stored.constData(), utf8.constData(),
                                    static_cast<unsigned long long>(utf8.size())) == 0;
}

QString VendorCrypto::randomToken()
{
    QByteArray bytes(KeyBytes, Qt::Uninitialized);
    randombytes_buf(bytes.data(), static_cast<size_t>(bytes.size()));
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString VendorCrypto::tokenHash(const QString &token)
{
    const QByteArray utf8 = token.toUtf8();
    unsigned char digest[KeyBytes];
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char *>(utf8.data()),
                       static_cast<unsigned long long>(utf8.size()), nullptr, 0);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(digest), sizeof digest).toHex());
}

QString VendorCrypto::verificationCode()
{
    return QStringLiteral("%1").arg(randombytes_uniform(1000000), 6, 10, QLatin1Char('0'));
}

VendorCrypto::KeyPair VendorCrypto::curve25519KeyPair()
{
    unsigned char publicKey[crypto_box_PUBLICKEYBYTES];
    unsigned char privateKey[crypto_box_SECRETKEYBYTES];
    crypto_box_keypair(publicKey, privateKey);
    // Clamped as WireGuard's own key generator does; the public key does not change,
    // since X25519 clamps the scalar anyway.
    privateKey[0] &= 248;
    privateKey[31] = (privateKey[31] & 127) | 64;
    KeyPair pair{
        QString::fromLatin1(QByteArray(reinterpret_cast<char *>(privateKey), KeyBytes).toBase64()),
        QString::fromLatin1(QByteArray(reinterpret_cast<char *>(publicKey), KeyBytes).toBase64())};
    sodium_memzero(privateKey, sizeof privateKey);
    return pair;
}

QString VendorCrypto::publicKeyFor(const QString &privateKey)
{
    const QByteArray secret = decodedKey(privateKey);
    if (secret.isEmpty())
        return QString();
    unsigned char publicKey[crypto_scalarmult_BYTES];
    if (crypto_scalarmult_base(publicKey, reinterpret_cast<const unsigned char *>(secret.data())) !=
        0)
        return QString();
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<char *>(publicKey), KeyBytes).toBase64());
}

bool VendorCrypto::isKey(const QString &base64)
{
    return !decodedKey(base64).isEmpty();
}
